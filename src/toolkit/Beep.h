#pragma once

#include <functional>

// The platform's default beep; returns at once.
void Beep();

// Replaces the sound by Hook while set (null: the sound again), so a test can tell that a beep
// happened without depending on what the platform does with one.
using TBeepHook = std::function<void()>;
void SetBeepHook(TBeepHook Hook);
