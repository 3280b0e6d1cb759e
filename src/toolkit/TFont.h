#pragma once

#include "SystemColors.h"

#include <QColor>
#include <QFlags>
#include <QFont>

#include <cstdint>
#include <string>

// Number * Numerator / Denominator with a 64-bit product, rounded to the nearest integer, halves away
// from zero. A zero Denominator, or a result outside the 32-bit range, gives -1.
int MulDiv(int Number, int Numerator, int Denominator);

enum TFontStyle : unsigned { fsBold = 1u << 0, fsItalic = 1u << 1, fsUnderline = 1u << 2, fsStrikeOut = 1u << 3 };
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFontStyles)

enum TFontPitch { fpDefault, fpVariable, fpFixed };

// Character sets a font can ask for. Qt chooses glyphs by family and writing system, not by character
// set, so the value is carried along for the program but does not change which glyphs are drawn.
using TFontCharset = std::uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SYMBOL_CHARSET = 2;
constexpr TFontCharset GB2312_CHARSET = 134;

// A font as the program describes it: a pixel height in the usual font-height convention, from which
// the point size follows through the pixels per inch the font was made for.
class TFont {
public:
  TFont();

  // Negative: the height of the characters in pixels, without the leading above them; positive: the
  // full cell height (ascent plus descent); 0: the platform's default size.
  int Height = 0;
  std::string Name = "Default"; // face name, UTF-8; "Default" is the platform's default face
  TFontStyles Style;
  TFontCharset Charset = DEFAULT_CHARSET;
  TFontPitch Pitch = fpDefault;
  QColor Color = clWindowText;
  int PixelsPerInch; // the screen's logical pixels per inch when the font was made

  // Points: -MulDiv(Height, 72, PixelsPerInch).
  int Size() const;
  void SetSize(int Points);

  // Copies Height, Name, Style, Charset, Pitch and Color. When the two fonts were made for different
  // pixels per inch, the point size carries over instead of the pixel height.
  void Assign(const TFont& Source);

  // The Qt font that draws this one. Faces that are not installed, and Chinese characters in any face,
  // fall back through Chinese faces in a fixed order, so Chinese text gets Chinese glyph forms.
  QFont ToQFont() const;

  // The description of a Qt font, its point size turned into pixels at PixelsPerInch; bold from
  // DemiBold up.
  static TFont FromQFont(const QFont& Font, int PixelsPerInch);

  // The primary screen's logical pixels per inch; 96 without a screen.
  static int ScreenPixelsPerInch();

  bool operator==(const TFont&) const = default;
};
