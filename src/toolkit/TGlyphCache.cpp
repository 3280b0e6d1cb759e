#include "TGlyphCache.h"

#include "BlendKernels.h"
#include "CodePage.h"
#include "PageLayout.h"

#include <QColor>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr char32_t CodePoints = 0x110000;
// A line's Clean row where none is filled: its glyphs are blended into what the image holds.
constexpr int OnlyBlend = INT_MAX;
constexpr int BlendChunk = 4;

// A mask's rows have zero coverage to the right up to this width, so that a whole row is mixed in
// steps of four pixels.
int PaddedWidth(int Width) { return (Width + BlendChunk - 1) / BlendChunk * BlendChunk; }

// Chosen once: the fastest kernel built for this processor.
const TBlendKernel KernelHere = FastestBlendKernel();

}  // namespace

TGlyphCache::TGlyphCache(const QFont& Font) : FFont(Font), FPages(CodePoints / GlyphsPerPage) {
  FFaces.push_back(QRawFont::fromFont(FFont));
  const QFontMetricsF Metrics(FFont);
  FAscent = Metrics.ascent();
  FDescent = Metrics.descent();
  // As Qt's text controls have it: a tab stop every 80 pixels.
  FTabWidth = 80;
}

const QRawFont& TGlyphCache::Face(int Index) { return FFaces[static_cast<std::size_t>(Index)]; }

TGlyphCache::TGlyph& TGlyphCache::Glyph(char32_t Code) {
  if (Code >= CodePoints) Code = QChar::ReplacementCharacter;
  std::unique_ptr<TGlyph[]>& Page = FPages[Code / GlyphsPerPage];
  if (!Page) Page = std::make_unique<TGlyph[]>(GlyphsPerPage);
  TGlyph& Known = Page[Code % GlyphsPerPage];
  if (Known.Face < 0) Known = LookUp(Code);
  return Known;
}

TGlyphCache::TGlyph TGlyphCache::LookUp(char32_t Code) {
  TGlyph Result;
  Result.Face = 0;
  if (Code == U'\t') {
    Result.Advance = static_cast<qint16>(FTabWidth);
    return Result;
  }
  char16_t Units[2];
  int Count = 1;
  if (QChar::requiresSurrogates(Code)) {
    Units[0] = QChar::highSurrogate(Code);
    Units[1] = QChar::lowSurrogate(Code);
    Count = 2;
  } else {
    Units[0] = static_cast<char16_t>(Code);
  }
  const QString Character = QString::fromUtf16(Units, Count);
  for (std::size_t Index = 0;; ++Index) {
    if (Index == FFaces.size()) {
      if (FAllFaces) break;
      // The first face lacks it: the font's other families, each on its own, in the font's order.
      FAllFaces = true;
      for (const QString& Family : FFont.families()) {
        QFont Single(FFont);
        Single.setFamilies({Family});
        const QRawFont Face = QRawFont::fromFont(Single);
        if (Face.isValid()) FFaces.push_back(Face);
      }
      if (Index == FFaces.size()) break;
    }
    const QRawFont& Face = FFaces[Index];
    if (!Face.isValid() || !Face.supportsCharacter(static_cast<uint>(Code))) continue;
    const QList<quint32> Indexes = Face.glyphIndexesForString(Character);
    if (Indexes.isEmpty() || Indexes.first() == 0) continue;
    Result.Index = Indexes.first();
    Result.Face = static_cast<qint16>(Index);
    break;
  }
  const QList<QPointF> Advances = Face(Result.Face).advancesForGlyphIndexes(QList<quint32>{Result.Index});
  const long Advance = Advances.isEmpty() ? 0 : std::lround(Advances.first().x());
  Result.Advance = static_cast<qint16>(std::clamp<long>(Advance, INT16_MIN, INT16_MAX));
  return Result;
}

void TGlyphCache::Rasterize(TGlyph& Glyph) {
  const QRawFont& Face = this->Face(Glyph.Face);
  QImage Image = Face.alphaMapForGlyph(Glyph.Index, QRawFont::PixelAntialiasing);
  if (Image.format() != QImage::Format_Alpha8 && Image.format() != QImage::Format_Indexed8)
    Image = Image.convertToFormat(QImage::Format_Alpha8);
  // Glyphs of the largest fonts stay well inside these bounds; a mask past them is cut.
  const int Width = std::min(Image.width(), static_cast<int>(UINT16_MAX));
  const int Height = std::min(Image.height(), static_cast<int>(UINT16_MAX));
  const qsizetype Stride = PaddedWidth(Width);
  const qsizetype Bytes = Stride * std::max(Height, 1);
  auto Coverage = std::make_unique<uchar[]>(static_cast<std::size_t>(Bytes)); // zeroed
  for (int Y = 0; Y < Height; ++Y)
    std::memcpy(Coverage.get() + Y * Stride, Image.constScanLine(Y), static_cast<std::size_t>(Width));
  const QRectF Box = Face.boundingRect(Glyph.Index);
  const auto Clamp16 = [](qreal Value) { return static_cast<qint16>(std::clamp<qreal>(std::floor(Value), INT16_MIN, INT16_MAX)); };
  Glyph.Width = static_cast<quint16>(Width);
  Glyph.Height = static_cast<quint16>(Height);
  Glyph.Left = Clamp16(Box.x());
  Glyph.Top = Clamp16(Box.y());
  Glyph.Coverage = Coverage.get();
  FMaskBytes += Bytes;
  FMasks.push_back(std::move(Coverage));
}

void TGlyphCache::Prepare(char32_t Code) {
  TGlyph& Found = Glyph(Code);
  if (Found.Index != 0 && !Found.Coverage) Rasterize(Found);
}

const QString& TGlyphCache::CommonCharacters() {
  static const QString Characters = [] {
    std::string Bytes;
    for (char Ascii = ' '; Ascii < 0x7F; ++Ascii) Bytes += Ascii;
    // In GB2312: row 1 (punctuation), row 3 (full-width forms), rows 16 to 55 (the common hanzi). The
    // less common rest would cost some 7 MiB more (Qt keeps its own copy of each glyph as well).
    const auto Row = [&Bytes](int Lead, int LastTrail) {
      for (int Trail = 0xA1; Trail <= LastTrail; ++Trail) {
        Bytes += static_cast<char>(Lead);
        Bytes += static_cast<char>(Trail);
      }
    };
    Row(0xA1, 0xFE);
    Row(0xA3, 0xFE);
    for (int Lead = 0xB0; Lead <= 0xD7; ++Lead) Row(Lead, Lead == 0xD7 ? 0xF9 : 0xFE);
    QString Decoded = TCodePage::Ansi().Decode(Bytes);
    Decoded.remove(QChar::ReplacementCharacter);
    return Decoded;
  }();
  return Characters;
}

int TGlyphCache::Draw(QPainter& Painter, QPointF Origin, QStringView Text, const QColor& Color) {
  if (Text.isEmpty()) return 0;
  TTarget Target;
  if (!FindTarget(Painter, Color, Target)) {
    DrawRuns(Painter, Origin, Text, Color);
    return 0;
  }
  const QPointF Start = Origin + Target.Shift;
  const int X = static_cast<int>(std::lround(Start.x()));
  const int Baseline = static_cast<int>(std::lround(Start.y()));
  const QRect Bounds = Target.Clip.boundingRect();
  const int Lowest = ComposeLine(Target, X, Baseline, Text, Color.rgb() | 0xFF000000u, Bounds.left(), Bounds.right() + 1,
                                 OnlyBlend, Baseline, 0);
  return Lowest - Baseline;
}

bool TGlyphCache::Compose(QPainter& Painter, const QRect& Band, int Clean, const QColor& Ground, QPointF Origin,
                          QStringView Text, const QColor& Color, int& Bottom) {
  TTarget Target;
  // The band's rows and columns are whole pixels of the image only under a shift in whole pixels.
  if (!FindTarget(Painter, Color, Target) || !Target.Whole || Ground.alpha() != 255) return false;
  const QPoint Shift = Target.Shift.toPoint();
  const QPointF Start = Origin + Target.Shift;
  const int Filled = Band.bottom() + 1 + Shift.y();
  Bottom = ComposeLine(Target, static_cast<int>(std::lround(Start.x())), static_cast<int>(std::lround(Start.y())), Text,
                       Color.rgb() | 0xFF000000u, Band.left() + Shift.x(), Band.right() + 1 + Shift.x(), Clean + Shift.y(),
                       Filled, Ground.rgb() | 0xFF000000u) -
           Shift.y();
  return true;
}

bool TGlyphCache::FindTarget(QPainter& Painter, const QColor& Color, TTarget& Target) {
  QPaintEngine* Engine = Painter.paintEngine();
  if (!Engine || Engine->type() != QPaintEngine::Raster || Color.alpha() != 255) return false;
  QPaintDevice* Device = Engine->paintDevice();
  if (!Device || Device->devType() != QInternal::Image) return false;
  QImage& Image = *static_cast<QImage*>(Device);
  if ((Image.format() != QImage::Format_RGB32 && Image.format() != QImage::Format_ARGB32_Premultiplied) ||
      Image.devicePixelRatio() != 1.0)
    return false;
  const QTransform Transform = Painter.deviceTransform();
  if (Transform.type() > QTransform::TxTranslate) return false;
  Target.Pixels = reinterpret_cast<quint32*>(Image.bits());
  Target.Stride = Image.bytesPerLine() / 4;
  Target.Shift = QPointF(Transform.dx(), Transform.dy());
  Target.Whole = Transform.dx() == std::floor(Transform.dx()) && Transform.dy() == std::floor(Transform.dy());
  Target.Clip = Image.rect();
  const QRegion System = Engine->systemClip();
  if (!System.isEmpty()) Target.Clip &= System;
  if (Painter.hasClipping()) Target.Clip &= Transform.map(Painter.clipRegion());
  return true;
}

int TGlyphCache::ComposeLine(const TTarget& Target, int X, int Baseline, QStringView Text, quint32 Source, int Left,
                             int Right, int Clean, int Filled, quint32 Ground) {
  const bool Fills = Clean != OnlyBlend;
  int Bottom = Fills ? std::max(Clean, Filled) : Filled;
  int Highest = INT_MAX, Lowest = INT_MIN;
  if (Fills && Target.Clip.rectCount() > 1) {
    // The rows written whole end alike in every part: where the ink of the whole line ends.
    const QRect Bounds = Target.Clip.boundingRect();
    PlaceSpans(X, Baseline, Text, std::max(Left, Bounds.left()), std::min(Right, Bounds.right() + 1), Highest, Lowest);
    Bottom = std::max(Bottom, Lowest);
  }
  for (const QRect& Part : Target.Clip) {
    const int From = std::max(Left, Part.left()), To = std::min(Right, Part.right() + 1);
    if (From >= To) continue;
    Highest = INT_MAX, Lowest = INT_MIN;
    PlaceSpans(X, Baseline, Text, From, To, Highest, Lowest);
    Bottom = std::max(Bottom, Lowest);
    const int Top = std::max(Fills ? std::min(Highest, Clean) : Highest, Part.top());
    const int End = std::min(Fills ? Bottom : Lowest, Part.bottom() + 1);
    if (Top < End)
      KernelHere.Band(Target.Pixels, Target.Stride, From, Top, Fills ? std::clamp(Clean, Top, End) : End, To, End,
                      FSpans.data(), static_cast<int>(FSpans.size()), Source, Ground);
  }
  return Bottom;
}

void TGlyphCache::PlaceSpans(int X, int Baseline, QStringView Text, int Left, int Right, int& Highest, int& Lowest) {
  FSpans.clear();
  // The line's glyph entries are asked for all at once first: on a page of many characters they come
  // from all over memory, and one at a time each waits for the last.
  for (qsizetype I = 0; I < Text.size();) {
    int Units = 1;
    const char32_t Code = CodePointAt(Text, I, Units);
    I += Units;
    if (Code < CodePoints)
      if (const TGlyph* Page = FPages[Code / GlyphsPerPage].get()) __builtin_prefetch(Page + Code % GlyphsPerPage);
  }
  for (qsizetype I = 0; I < Text.size();) {
    int Units = 1;
    TGlyph& Glyph = this->Glyph(CodePointAt(Text, I, Units));
    I += Units;
    const int GlyphX = X;
    X += Glyph.Advance;
    if (Glyph.Index == 0) continue;
    if (!Glyph.Coverage) Rasterize(Glyph);
    if (Glyph.Width == 0 || Glyph.Height == 0) continue;
    const int BoxLeft = GlyphX + Glyph.Left;
    const int BoxTop = Baseline + Glyph.Top;
    const int From = std::max(BoxLeft, Left);
    const int To = std::min(BoxLeft + int(Glyph.Width), Right);
    if (From >= To) continue;
    Lowest = std::max(Lowest, BoxTop + int(Glyph.Height));
    Highest = std::min(Highest, BoxTop);
    const qsizetype MaskRow = PaddedWidth(Glyph.Width);
    // The band is composed row by row across all its glyphs: their masks are fetched ahead.
    for (qsizetype Byte = 0; Byte < Glyph.Height * MaskRow; Byte += 64) __builtin_prefetch(Glyph.Coverage + Byte);
    FSpans.push_back({From, BoxTop, To - From, Glyph.Height,
                      static_cast<int>(std::min<qsizetype>(MaskRow - (From - BoxLeft), Right - From)),
                      Glyph.Coverage + (From - BoxLeft), MaskRow});
  }
}

// Painters that draw elsewhere (a printer, a picture, a transformed view): glyph runs of each face.
void TGlyphCache::DrawRuns(QPainter& Painter, QPointF Origin, QStringView Text, const QColor& Color) {
  Painter.save();
  Painter.setPen(Color);
  QList<quint32> Indexes;
  QList<QPointF> Positions;
  int Face = -1;
  qreal X = 0;
  const auto Flush = [&] {
    if (Indexes.isEmpty()) return;
    QGlyphRun Run;
    Run.setRawFont(this->Face(Face));
    Run.setGlyphIndexes(Indexes);
    Run.setPositions(Positions);
    Painter.drawGlyphRun(Origin, Run);
    Indexes.clear();
    Positions.clear();
  };
  for (qsizetype I = 0; I < Text.size();) {
    int Units = 1;
    const TGlyph& Glyph = this->Glyph(CodePointAt(Text, I, Units));
    I += Units;
    if (Glyph.Index != 0) {
      if (Glyph.Face != Face) {
        Flush();
        Face = Glyph.Face;
      }
      Indexes.push_back(Glyph.Index);
      Positions.push_back(QPointF(X, 0));
    }
    X += Glyph.Advance;
  }
  Flush();
  Painter.restore();
}
