#pragma once

// The platform's default beep; returns at once.
void Beep();

// How many beeps this process has sounded, so tests can tell that one happened.
int BeepCount();
