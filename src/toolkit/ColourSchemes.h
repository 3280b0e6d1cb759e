#pragma once

#include <QPalette>

// The colours the whole program is drawn in: the desktop's own, warm paper, or night. A scheme is the
// application's palette, so it reaches every window, menu, bar, dialog and message box at once, also
// those made later, and the page's ground, text, selection and found match with them.
enum class TColourScheme { Desktop, Paper, Night };

// The scheme in force; Desktop at start.
TColourScheme ColourScheme();
// Gives the application Scheme's palette. Desktop gives back the one it had before another scheme
// took its place, which follows the desktop again when the desktop changes its colours.
void SetColourScheme(TColourScheme Scheme);
// The palette of Paper or Night (for Desktop, the desktop's palette as it is now).
QPalette ColourSchemePalette(TColourScheme Scheme);
