#include "TGlyphCache.h"

#include "PageLayout.h"

#include <QColor>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>

#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr char32_t BasicPlaneSize = 0x10000;

// Source over an opaque pixel with the coverage A, channel by channel, two channels at a time.
inline quint32 BlendPixel(quint32 Dest, quint32 Source, quint32 A) {
  const quint32 Inverse = 255 - A;
  quint32 RedBlue = (Source & 0xFF00FF) * A + (Dest & 0xFF00FF) * Inverse;
  RedBlue = ((RedBlue + ((RedBlue >> 8) & 0xFF00FF) + 0x800080) >> 8) & 0xFF00FF;
  quint32 Green = (Source & 0xFF00) * A + (Dest & 0xFF00) * Inverse;
  Green = ((Green + ((Green >> 8) & 0xFF00) + 0x8000) >> 8) & 0xFF00;
  return 0xFF000000u | RedBlue | Green;
}

inline void BlendInto(quint32& Dest, quint32 Source, quint32 A) {
  if (A == 255)
    Dest = Source;
  else if (A != 0)
    Dest = BlendPixel(Dest, Source, A);
}

#ifdef __SSE2__
// Four pixels at once, in 16-bit lanes: Dest = (Source * A + Dest * (255 - A)) / 255, exact as above.
inline void Blend4(quint32* Dest, __m128i SourceWide, const uchar* Coverage) {
  quint32 Four;
  std::memcpy(&Four, Coverage, 4);
  if (Four == 0) return;
  const __m128i Zero = _mm_setzero_si128();
  __m128i A = _mm_cvtsi32_si128(static_cast<int>(Four));
  A = _mm_unpacklo_epi8(A, A);
  A = _mm_unpacklo_epi16(A, A); // each coverage byte four times, once per channel
  const __m128i Full = _mm_set1_epi16(255);
  const __m128i Half = _mm_set1_epi16(128);
  const __m128i Pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dest));
  const auto Mix = [&](__m128i D, __m128i Alpha) {
    __m128i X = _mm_add_epi16(_mm_mullo_epi16(SourceWide, Alpha), _mm_mullo_epi16(D, _mm_sub_epi16(Full, Alpha)));
    X = _mm_add_epi16(X, Half);
    return _mm_srli_epi16(_mm_add_epi16(X, _mm_srli_epi16(X, 8)), 8);
  };
  const __m128i Low = Mix(_mm_unpacklo_epi8(Pixels, Zero), _mm_unpacklo_epi8(A, Zero));
  const __m128i High = Mix(_mm_unpackhi_epi8(Pixels, Zero), _mm_unpackhi_epi8(A, Zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest), _mm_packus_epi16(Low, High));
}
#endif

}  // namespace

TGlyphCache::TGlyphCache(const QFont& Font) : FFont(Font), FBasicPlane(BasicPlaneSize) {
  FFaces.push_back(QRawFont::fromFont(FFont));
  const QFontMetricsF Metrics(FFont);
  FAscent = Metrics.ascent();
  FDescent = Metrics.descent();
  // As Qt's text controls have it: a tab stop every 80 pixels.
  FTabWidth = 80;
}

const QRawFont& TGlyphCache::Face(int Index) { return FFaces[static_cast<std::size_t>(Index)]; }

const TGlyphCache::TGlyph& TGlyphCache::Glyph(char32_t Code) {
  if (Code < BasicPlaneSize) {
    TGlyph& Known = FBasicPlane[Code];
    if (Known.Face < 0) Known = LookUp(Code);
    return Known;
  }
  auto Found = FOthers.find(Code);
  if (Found == FOthers.end()) Found = FOthers.insert(Code, LookUp(Code));
  return *Found;
}

TGlyphCache::TGlyph TGlyphCache::LookUp(char32_t Code) {
  TGlyph Result;
  Result.Face = 0;
  if (Code == U'\t') {
    Result.Advance = FTabWidth;
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
    Result.Face = static_cast<int>(Index);
    break;
  }
  const QList<QPointF> Advances = Face(Result.Face).advancesForGlyphIndexes(QList<quint32>{Result.Index});
  Result.Advance = Advances.isEmpty() ? 0 : static_cast<int>(std::lround(Advances.first().x()));
  return Result;
}

const TGlyphCache::TMask& TGlyphCache::Mask(const TGlyph& Glyph) {
  const quint64 Key = (static_cast<quint64>(Glyph.Face) << 32) | Glyph.Index;
  auto Found = FMasks.find(Key);
  if (Found != FMasks.end()) return *Found;
  const QRawFont& Face = this->Face(Glyph.Face);
  TMask Mask;
  QImage Image = Face.alphaMapForGlyph(Glyph.Index, QRawFont::PixelAntialiasing);
  if (Image.format() != QImage::Format_Alpha8 && Image.format() != QImage::Format_Indexed8)
    Image = Image.convertToFormat(QImage::Format_Alpha8);
  Mask.Coverage = Image;
  Mask.Bits = Mask.Coverage.constBits();
  Mask.Stride = Mask.Coverage.bytesPerLine();
  Mask.Width = Mask.Coverage.width();
  Mask.Height = Mask.Coverage.height();
  const QRectF Box = Face.boundingRect(Glyph.Index);
  Mask.Offset = QPoint(static_cast<int>(std::floor(Box.x())), static_cast<int>(std::floor(Box.y())));
  return *FMasks.insert(Key, Mask);
}

void TGlyphCache::Draw(QPainter& Painter, QPointF Origin, QStringView Text, const QColor& Color) {
  if (Text.isEmpty()) return;
  if (!Blend(Painter, Origin, Text, Color)) DrawRuns(Painter, Origin, Text, Color);
}

bool TGlyphCache::Blend(QPainter& Painter, QPointF Origin, QStringView Text, const QColor& Color) {
  QPaintEngine* Engine = Painter.paintEngine();
  if (!Engine || Engine->type() != QPaintEngine::Raster || Color.alpha() != 255) return false;
  QPaintDevice* Device = Engine->paintDevice();
  if (!Device || Device->devType() != QInternal::Image) return false;
  QImage& Target = *static_cast<QImage*>(Device);
  if ((Target.format() != QImage::Format_RGB32 && Target.format() != QImage::Format_ARGB32_Premultiplied) ||
      Target.devicePixelRatio() != 1.0)
    return false;
  const QTransform Transform = Painter.deviceTransform();
  if (Transform.type() > QTransform::TxTranslate) return false;

  QRect Clip = Target.rect();
  const QRegion System = Engine->systemClip();
  if (!System.isEmpty()) Clip &= System.boundingRect();
  if (Painter.hasClipping()) Clip &= Transform.mapRect(Painter.clipBoundingRect()).toAlignedRect();
  if (Clip.isEmpty()) return true;

  const quint32 Source = Color.rgb() | 0xFF000000u;
  const QPointF Start = Transform.map(Origin);
  int X = static_cast<int>(std::lround(Start.x()));
  const int Baseline = static_cast<int>(std::lround(Start.y()));
  const qsizetype Stride = Target.bytesPerLine() / 4;
#ifdef __SSE2__
  const __m128i SourceWide = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(Source)), _mm_setzero_si128());
#endif
  quint32* const Pixels = reinterpret_cast<quint32*>(Target.bits());
  for (qsizetype I = 0; I < Text.size();) {
    int Units = 1;
    const TGlyph& Glyph = this->Glyph(CodePointAt(Text, I, Units));
    I += Units;
    if (Glyph.Index != 0 && X < Clip.right() + 1) {
      const TMask& Mask = this->Mask(Glyph);
      const QRect Box(X + Mask.Offset.x(), Baseline + Mask.Offset.y(), Mask.Width, Mask.Height);
      const QRect Drawn = Box & Clip;
      const int Width = Drawn.width();
      for (int Y = Drawn.top(); Y <= Drawn.bottom(); ++Y) {
        const uchar* Coverage = Mask.Bits + (Y - Box.top()) * Mask.Stride + (Drawn.left() - Box.left());
        quint32* Dest = Pixels + Y * Stride + Drawn.left();
        int Column = 0;
#ifdef __SSE2__
        for (; Column + 4 <= Width; Column += 4) Blend4(Dest + Column, SourceWide, Coverage + Column);
#endif
        for (; Column < Width; ++Column) BlendInto(Dest[Column], Source, Coverage[Column]);
      }
    }
    X += Glyph.Advance;
  }
  return true;
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
