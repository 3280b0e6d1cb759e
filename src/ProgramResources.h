#pragma once

#include <QPixmap>

// The program's pictures: the XPM files in resources/ are C source, compiled in as they are, so no
// resource file needs registering before a picture is used.
enum class TProgramPicture { Icon, ArrowUp, ArrowDown };

QPixmap ProgramPicture(TProgramPicture Picture);

// Gives the application its icon, shown by every window that has none of its own.
void SetProgramIcon();
