#pragma once

// The program's pictures are compiled into the windows library. A static library's resources are
// registered only by code that the linker keeps, so everything that uses them calls this first; it
// is cheap and may be called any number of times.
void RegisterProgramResources();

// Gives the application its icon, shown by every window that has none of its own.
void SetProgramIcon();
