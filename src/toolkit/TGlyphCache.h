#pragma once

#include "BlendKernels.h"

#include <QFont>
#include <QRawFont>
#include <QRegion>
#include <QStringView>

#include <memory>
#include <vector>

class QColor;
class QPainter;
class QPointF;

// Glyphs of one font, looked up once per character and kept: its glyph index, the face that has it
// (the font's first family that holds the character), its advance on whole pixels and, once drawn,
// its coverage mask. Text drawn through it is never shaped: a page of Chinese and half-width letters
// needs none, and shaping thousands of characters for each page is what made a page slow.
class TGlyphCache {
public:
  explicit TGlyphCache(const QFont& Font);

  int Advance(char32_t Code) { return Glyph(Code).Advance; }
  qreal Ascent() const { return FAscent; }
  qreal Descent() const { return FDescent; }

  // Draws Text on one line with its baseline starting at Origin (device-independent pixels), blended
  // into what the painter's device holds. Returns how far below the baseline its ink reaches, in pixels.
  int Draw(QPainter& Painter, QPointF Origin, QStringView Text, const QColor& Color);
  // Draws Text as Draw would on a line whose Band (rows and columns) is to be filled with Ground, for
  // a painter into a window's image: the rows from Clean down, which nothing has inked yet, to the
  // band's bottom or the text's lowest ink, are written once each, row by row, the glyphs on the
  // ground; glyphs reaching above Clean are blended there, into what the rows hold. Bottom: the row
  // below the last written. False, with nothing drawn, where the painter draws elsewhere.
  bool Compose(QPainter& Painter, const QRect& Band, int Clean, const QColor& Ground, QPointF Origin,
               QStringView Text, const QColor& Color, int& Bottom);

  // Looks up and rasterizes the glyph of Code before a page needs it, so that a page of characters not
  // seen yet costs no more than any other.
  void Prepare(char32_t Code);
  // The bytes of the masks held, which the caller keeps what it prepares ahead within.
  qsizetype MaskBytes() const { return FMaskBytes; }
  // The characters worth preparing, the most common first: ASCII, the Chinese punctuation and
  // full-width forms, then the 3755 common hanzi.
  static const QString& CommonCharacters();

private:
  // Everything a drawn glyph needs in one place, so that drawing it touches one entry and its mask.
  struct TGlyph {
    quint32 Index = 0;
    qint16 Advance = 0;
    qint16 Face = -1;               // -1: not looked up yet
    // One byte a pixel, rows of the width padded to steps of four; null: not rasterized yet.
    const uchar* Coverage = nullptr;
    quint16 Width = 0;
    quint16 Height = 0;
    qint16 Left = 0;                // of the mask's top left from the glyph's origin on the baseline
    qint16 Top = 0;
  };
  static constexpr char32_t GlyphsPerPage = 256;

  TGlyph& Glyph(char32_t Code);
  TGlyph LookUp(char32_t Code);
  const QRawFont& Face(int Index);
  void Rasterize(TGlyph& Glyph);
  // The window's image a painter draws into, where it may be written directly.
  struct TTarget {
    quint32* Pixels = nullptr;
    qsizetype Stride = 0;
    QRegion Clip;         // in the image
    QPointF Shift;        // of the painter's coordinates in the image (it only translates)
    bool Whole = false;   // the shift is in whole pixels
  };
  static bool FindTarget(QPainter& Painter, const QColor& Color, TTarget& Target);
  // Composes the line whose baseline starts at (X, Baseline) in the image into each rectangle of the
  // target's clip, cut to the columns [Left, Right): the rows from Clean down to Filled or the lowest
  // ink written whole on Ground, the ink above Clean blended into what the rows hold (with Clean
  // OnlyBlend, all of it). Returns the row below the rows written, at least Filled.
  int ComposeLine(const TTarget& Target, int X, int Baseline, QStringView Text, quint32 Source, int Left, int Right,
                  int Clean, int Filled, quint32 Ground);
  // The line's glyphs whose boxes reach into the columns [Left, Right), cut to them, in FSpans; Highest
  // and Lowest: their top row and the row below their bottom, where they reach past those given.
  void PlaceSpans(int X, int Baseline, QStringView Text, int Left, int Right, int& Highest, int& Lowest);
  void DrawRuns(QPainter& Painter, QPointF Origin, QStringView Text, const QColor& Color);

  QFont FFont;
  std::vector<QRawFont> FFaces; // the first face, then the font's families in order, once asked for
  bool FAllFaces = false;
  qreal FAscent = 0;
  qreal FDescent = 0;
  int FTabWidth = 0;
  // By code point, in pages made when a character of theirs is first asked for: a novel touches a few
  // dozen of them.
  std::vector<std::unique_ptr<TGlyph[]>> FPages;
  std::vector<std::unique_ptr<uchar[]>> FMasks;
  std::vector<TInkSpan> FSpans; // a composed line's; kept, so that its room is reused
  qsizetype FMaskBytes = 0;
};
