#include "TFont.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// Chinese faces in the order we prefer them: SimSun where it is installed, then the free CJK faces,
// monospaced ones first, whose letters are half as wide as a Chinese character as in SimSun (a page
// counts two letters per character). Naming them keeps Qt from picking a fallback by locale, which
// can give Japanese glyph forms.
const char* const ChineseFaces[] = {"宋体",
                                    "SimSun",
                                    "WenQuanYi Zen Hei Mono",
                                    "Noto Sans Mono CJK SC",
                                    "Noto Serif CJK SC",
                                    "Noto Sans CJK SC",
                                    "WenQuanYi Zen Hei"};

// A bound on pixel sizes handed to Qt, so that an absurd height costs no absurd glyph cache.
constexpr int LargestPixelSize = 16384;

int ClampPixelSize(std::int64_t Pixels) {
  return static_cast<int>(std::clamp<std::int64_t>(Pixels, 1, LargestPixelSize));
}

// The Qt pixel size (em height) whose cell, ascent plus descent, comes closest to CellHeight
// without exceeding it.
int PixelSizeForCell(QFont Font, int CellHeight) {
  int Em = ClampPixelSize(CellHeight);
  Font.setPixelSize(Em);
  const int Cell = QFontMetrics(Font).height();
  if (Cell <= 0 || Cell == CellHeight) return Em;
  Em = ClampPixelSize(static_cast<std::int64_t>(CellHeight) * CellHeight / Cell);
  Font.setPixelSize(Em);
  while (Em < LargestPixelSize) { // metrics are rounded: try one larger while it still fits
    Font.setPixelSize(Em + 1);
    if (QFontMetrics(Font).height() > CellHeight) break;
    ++Em;
  }
  Font.setPixelSize(Em);
  while (Em > 1 && QFontMetrics(Font).height() > CellHeight) Font.setPixelSize(--Em);
  return Em;
}

} // namespace

int MulDiv(int Number, int Numerator, int Denominator) {
  if (Denominator == 0) return -1;
  std::int64_t Product = static_cast<std::int64_t>(Number) * Numerator;
  std::int64_t Divisor = Denominator;
  if (Divisor < 0) {
    Product = -Product;
    Divisor = -Divisor;
  }
  const std::int64_t Half = Divisor / 2;
  const std::int64_t Result = Product >= 0 ? (Product + Half) / Divisor : (Product - Half) / Divisor;
  if (Result > std::numeric_limits<int>::max() || Result < std::numeric_limits<int>::min()) return -1;
  return static_cast<int>(Result);
}

TFont::TFont() : PixelsPerInch(ScreenPixelsPerInch()) {}

int TFont::Size() const { return -MulDiv(Height, 72, PixelsPerInch); }

void TFont::SetSize(int Points) { Height = -MulDiv(Points, PixelsPerInch, 72); }

void TFont::Assign(const TFont& Source) {
  Height = Source.Height;
  Name = Source.Name;
  Style = Source.Style;
  Charset = Source.Charset;
  Pitch = Source.Pitch;
  Color = Source.Color;
  if (PixelsPerInch != Source.PixelsPerInch) SetSize(Source.Size());
}

QFont TFont::ToQFont() const {
  QFont Font;
  const QString Face = QString::fromStdString(Name);
  QStringList Families;
  if (Face.compare(QLatin1String("Default"), Qt::CaseInsensitive) == 0)
    Families << QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  else if (!Face.isEmpty())
    Families << Face;
  for (const char* Chinese : ChineseFaces) {
    const QString Fallback = QString::fromUtf8(Chinese);
    if (!Families.contains(Fallback, Qt::CaseInsensitive)) Families << Fallback;
  }
  Font.setFamilies(Families);
  // Hinted glyphs on whole pixels, as the system's fonts draw: each glyph is rendered once, not once
  // per sub-pixel position, and a page of new characters costs half the glyph loads.
  Font.setHintingPreference(QFont::PreferFullHinting);
  Font.setWeight(Style.testFlag(fsBold) ? QFont::Bold : QFont::Normal);
  Font.setItalic(Style.testFlag(fsItalic));
  Font.setUnderline(Style.testFlag(fsUnderline));
  Font.setStrikeOut(Style.testFlag(fsStrikeOut));
  if (Pitch == fpFixed) {
    Font.setFixedPitch(true);
    Font.setStyleHint(QFont::TypeWriter);
  }
  // Qt's pixel size is the em height, which is the character height without the leading above it.
  if (Height < 0)
    Font.setPixelSize(ClampPixelSize(-static_cast<std::int64_t>(Height)));
  else if (Height > 0)
    Font.setPixelSize(PixelSizeForCell(Font, Height));
  return Font;
}

TFont TFont::FromQFont(const QFont& Font, int PixelsPerInch) {
  TFont Result;
  Result.PixelsPerInch = PixelsPerInch;
  Result.Name = Font.family().toStdString();
  if (Font.pixelSize() > 0) {
    Result.Height = -Font.pixelSize();
  } else if (Font.pointSizeF() > 0) {
    const double Points = Font.pointSizeF();
    const int WholePoints = qRound(Points);
    Result.Height = WholePoints == Points ? -MulDiv(WholePoints, PixelsPerInch, 72)
                                          : -qRound(Points * PixelsPerInch / 72.0);
  }
  Result.Style = {};
  // Above Medium: faces whose only regular style is Medium (WenQuanYi Zen Hei) would turn bold.
  if (Font.weight() > QFont::Medium) Result.Style |= fsBold;
  if (Font.italic()) Result.Style |= fsItalic;
  if (Font.underline()) Result.Style |= fsUnderline;
  if (Font.strikeOut()) Result.Style |= fsStrikeOut;
  return Result;
}

int TFont::ScreenPixelsPerInch() {
  if (qGuiApp)
    if (const QScreen* Screen = QGuiApplication::primaryScreen()) return qRound(Screen->logicalDotsPerInchY());
  return 96;
}
