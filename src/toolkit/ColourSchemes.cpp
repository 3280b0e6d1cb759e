#include "ColourSchemes.h"

#include <QApplication>
#include <QToolTip>

namespace {

// The few colours a scheme is made of; the rest of the palette follows from them.
struct TSchemeColours {
  QColor Ground;      // the page's ground, and every other field's
  QColor Text;        // the page's text, and every other text
  QColor Window;      // windows, bars and menus
  QColor Button;
  QColor Highlight;   // the selection and the found match; HighlightedText on it reads at 4.5:1 or more
  QColor HighlightedText;
  QColor Muted;       // text that is not in use: disabled items, a field's placeholder
  QColor Link;
};

// Warm paper with dark brown ink, as a printed page in lamplight.
const TSchemeColours Paper{QColor(0xF4, 0xEC, 0xD8), QColor(0x4B, 0x3A, 0x2A), QColor(0xEA, 0xDF, 0xC6),
                           QColor(0xE4, 0xD7, 0xBB), QColor(0x7A, 0x5A, 0x38), QColor(0xFF, 0xF8, 0xEA),
                           QColor(0x9C, 0x8A, 0x72), QColor(0x8A, 0x4B, 0x12)};
// Light text on a dark ground, both a little warm, easy on the eyes in the dark.
const TSchemeColours Night{QColor(0x1E, 0x1E, 0x1C), QColor(0xC8, 0xC3, 0xB6), QColor(0x2A, 0x2A, 0x27),
                           QColor(0x36, 0x36, 0x32), QColor(0x6E, 0x5A, 0x36), QColor(0xF2, 0xEB, 0xDD),
                           QColor(0x78, 0x74, 0x6B), QColor(0xD9, 0xB7, 0x7E)};

QPalette PaletteOf(const TSchemeColours& Colours) {
  // Bevels and frames (Light, Midlight, Mid, Dark, Shadow) as Qt works them out from the two grounds.
  QPalette Palette(Colours.Button, Colours.Window);
  for (const QPalette::ColorGroup Group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    const bool Disabled = Group == QPalette::Disabled;
    const QColor Text = Disabled ? Colours.Muted : Colours.Text;
    Palette.setColor(Group, QPalette::Window, Colours.Window);
    Palette.setColor(Group, QPalette::WindowText, Text);
    Palette.setColor(Group, QPalette::Button, Colours.Button);
    Palette.setColor(Group, QPalette::ButtonText, Text);
    Palette.setColor(Group, QPalette::Base, Disabled ? Colours.Window : Colours.Ground);
    Palette.setColor(Group, QPalette::AlternateBase, Colours.Window);
    Palette.setColor(Group, QPalette::Text, Text);
    Palette.setColor(Group, QPalette::BrightText, Colours.HighlightedText);
    Palette.setColor(Group, QPalette::ToolTipBase, Colours.Ground);
    Palette.setColor(Group, QPalette::ToolTipText, Colours.Text);
    Palette.setColor(Group, QPalette::PlaceholderText, Colours.Muted);
    Palette.setColor(Group, QPalette::Highlight, Disabled ? Colours.Muted : Colours.Highlight);
    Palette.setColor(Group, QPalette::HighlightedText, Colours.HighlightedText);
    Palette.setColor(Group, QPalette::Link, Colours.Link);
    Palette.setColor(Group, QPalette::LinkVisited, Colours.Link);
  }
  return Palette;
}

TColourScheme Current = TColourScheme::Desktop;
// The application's palettes while the desktop's colours were in force.
QPalette DesktopPalette;
QPalette DesktopToolTips;

}  // namespace

TColourScheme ColourScheme() { return Current; }

QPalette ColourSchemePalette(TColourScheme Scheme) {
  switch (Scheme) {
  case TColourScheme::Paper: return PaletteOf(Paper);
  case TColourScheme::Night: return PaletteOf(Night);
  case TColourScheme::Desktop: break;
  }
  return Current == TColourScheme::Desktop ? QApplication::palette() : DesktopPalette;
}

void SetColourScheme(TColourScheme Scheme) {
  if (Scheme == Current) return;
  if (Current == TColourScheme::Desktop) {
    DesktopPalette = QApplication::palette();
    DesktopToolTips = QToolTip::palette();
  }
  const bool Desktop = Scheme == TColourScheme::Desktop;
  const QPalette Palette = Desktop ? DesktopPalette : ColourSchemePalette(Scheme);
  Current = Scheme;
  // Tool tips keep a palette of their own.
  QToolTip::setPalette(Desktop ? DesktopToolTips : Palette);
  QApplication::setPalette(Palette);
}
