#pragma once

#include <QColor>

// Colours that are not fixed but the desktop's own for their use, as the palette gives them (no
// fixed QColor: an invalid one). A control drawn in them follows the desktop when it changes colours.
inline constexpr QColor clWindowText{};  // text in a window: the palette's text colour
inline constexpr QColor clWindow{};      // the ground of a text control: the palette's base
