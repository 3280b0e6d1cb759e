#include "TGlyphCache.h"

#include "CodePage.h"
#include "PageLayout.h"

#include <QColor>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#ifdef __x86_64__
#include <immintrin.h>
#define PAGORIN_X86_BLEND 1
#endif

namespace {

constexpr char32_t CodePoints = 0x110000;
constexpr qsizetype PreparedMaskBudget = 4 << 20;
constexpr int BlendChunk = 8;

// A mask's rows have zero coverage to the right up to this width, so that a whole row blends in chunks
// of eight pixels.
int PaddedWidth(int Width) { return (Width + BlendChunk - 1) / BlendChunk * BlendChunk; }

// Source over an opaque pixel with the coverage A, channel by channel, two channels at a time, each
// rounded to the nearest of (Source * A + Dest * (255 - A)) / 255: t = v + 128, (t + (t >> 8)) >> 8.
inline quint32 BlendPixel(quint32 Dest, quint32 Source, quint32 A) {
  const quint32 Inverse = 255 - A;
  quint32 RedBlue = (Source & 0xFF00FF) * A + (Dest & 0xFF00FF) * Inverse + 0x800080;
  RedBlue = ((RedBlue + ((RedBlue >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
  quint32 Green = (Source & 0xFF00) * A + (Dest & 0xFF00) * Inverse + 0x8000;
  Green = ((Green + ((Green >> 8) & 0xFF00)) >> 8) & 0xFF00;
  return 0xFF000000u | RedBlue | Green;
}

inline void BlendInto(quint32& Dest, quint32 Source, quint32 A) {
  if (A == 255)
    Dest = Source;
  else if (A != 0)
    Dest = BlendPixel(Dest, Source, A);
}

// Blends a Width x Height block of coverage (rows CoverageStride bytes apart) into pixels DestStride apart.
using TBlendBlock = void (*)(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                             qsizetype CoverageStride, int Width, int Height);

template <void (*Row)(quint32*, quint32, const uchar*, int)>
void BlendBlock(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                qsizetype CoverageStride, int Width, int Height) {
  for (int Y = 0; Y < Height; ++Y) Row(Dest + Y * DestStride, Source, Coverage + Y * CoverageStride, Width);
}

void BlendRowScalar(quint32* Dest, quint32 Source, const uchar* Coverage, int Width) {
  for (int Column = 0; Column < Width; ++Column) BlendInto(Dest[Column], Source, Coverage[Column]);
}

#ifdef PAGORIN_X86_BLEND
// BlendPixel in 16-bit lanes.
inline __m128i Mix(__m128i Source, __m128i Dest, __m128i Alpha) {
  __m128i X = _mm_add_epi16(_mm_mullo_epi16(Source, Alpha), _mm_mullo_epi16(Dest, _mm_sub_epi16(_mm_set1_epi16(255), Alpha)));
  X = _mm_add_epi16(X, _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(X, _mm_srli_epi16(X, 8)), 8);
}

// Four pixels at a time; pixels whose four coverage bytes are all 0 are not touched.
void BlendRowSse2(quint32* Dest, quint32 Source, const uchar* Coverage, int Width) {
  const __m128i Zero = _mm_setzero_si128();
  const __m128i SourceWide = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(Source)), Zero);
  int Column = 0;
  for (; Column + 4 <= Width; Column += 4) {
    quint32 Four;
    std::memcpy(&Four, Coverage + Column, 4);
    if (Four == 0) continue;
    __m128i A = _mm_cvtsi32_si128(static_cast<int>(Four));
    A = _mm_unpacklo_epi8(A, A);
    A = _mm_unpacklo_epi16(A, A);  // each coverage byte four times, once per channel
    auto* Where = reinterpret_cast<__m128i*>(Dest + Column);
    const __m128i Pixels = _mm_loadu_si128(Where);
    const __m128i Low = Mix(SourceWide, _mm_unpacklo_epi8(Pixels, Zero), _mm_unpacklo_epi8(A, Zero));
    const __m128i High = Mix(SourceWide, _mm_unpackhi_epi8(Pixels, Zero), _mm_unpackhi_epi8(A, Zero));
    _mm_storeu_si128(Where, _mm_packus_epi16(Low, High));
  }
  BlendRowScalar(Dest + Column, Source, Coverage + Column, Width - Column);
}

// A function attribute rather than "#pragma GCC target": g++ and clang++ both take it.
#define PAGORIN_AVX2 __attribute__((target("avx2")))
PAGORIN_AVX2 inline __m256i Mix(__m256i Source, __m256i Dest, __m256i Alpha) {
  __m256i X = _mm256_add_epi16(_mm256_mullo_epi16(Source, Alpha),
                               _mm256_mullo_epi16(Dest, _mm256_sub_epi16(_mm256_set1_epi16(255), Alpha)));
  X = _mm256_add_epi16(X, _mm256_set1_epi16(128));
  return _mm256_srli_epi16(_mm256_add_epi16(X, _mm256_srli_epi16(X, 8)), 8);
}

// Eight pixels at a time where the processor has AVX2. The unpacks work within each 128-bit half, on
// the pixels and on the coverage alike, so every pixel meets its own coverage.
PAGORIN_AVX2 void BlendRowAvx2(quint32* Dest, quint32 Source, const uchar* Coverage, int Width) {
  const __m256i Zero = _mm256_setzero_si256();
  const __m256i SourceWide = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(Source)), Zero);
  int Column = 0;
  for (; Column + 8 <= Width; Column += 8) {
    quint64 Eight;
    std::memcpy(&Eight, Coverage + Column, 8);
    if (Eight == 0) continue;
    __m128i A = _mm_cvtsi64_si128(static_cast<long long>(Eight));
    A = _mm_unpacklo_epi8(A, A);
    const __m256i Alpha = _mm256_set_m128i(_mm_unpackhi_epi16(A, A), _mm_unpacklo_epi16(A, A));
    auto* Where = reinterpret_cast<__m256i*>(Dest + Column);
    const __m256i Pixels = _mm256_loadu_si256(Where);
    const __m256i Low =
        Mix(SourceWide, _mm256_unpacklo_epi8(Pixels, Zero), _mm256_unpacklo_epi8(Alpha, Zero));
    const __m256i High =
        Mix(SourceWide, _mm256_unpackhi_epi8(Pixels, Zero), _mm256_unpackhi_epi8(Alpha, Zero));
    _mm256_storeu_si256(Where, _mm256_packus_epi16(Low, High));
  }
  BlendRowSse2(Dest + Column, Source, Coverage + Column, Width - Column);
}

PAGORIN_AVX2 void BlendBlockAvx2(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                                 qsizetype CoverageStride, int Width, int Height) {
  for (int Y = 0; Y < Height; ++Y) BlendRowAvx2(Dest + Y * DestStride, Source, Coverage + Y * CoverageStride, Width);
}
#undef PAGORIN_AVX2

TBlendBlock ChooseBlendBlock() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? BlendBlockAvx2 : BlendBlock<BlendRowSse2>;
}
#else
TBlendBlock ChooseBlendBlock() { return BlendBlock<BlendRowScalar>; }
#endif

const TBlendBlock BlendBlockHere = ChooseBlendBlock();

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

bool TGlyphCache::Prepare(char32_t Code) {
  if (FMaskBytes >= PreparedMaskBudget) return false;
  TGlyph& Found = Glyph(Code);
  if (Found.Index != 0 && !Found.Coverage) Rasterize(Found);
  return true;
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
  quint32* const Pixels = reinterpret_cast<quint32*>(Target.bits());
  for (qsizetype I = 0; I < Text.size();) {
    int Units = 1;
    TGlyph& Glyph = this->Glyph(CodePointAt(Text, I, Units));
    I += Units;
    if (Glyph.Index != 0 && X < Clip.right() + 1) {
      if (!Glyph.Coverage) Rasterize(Glyph);
      const QRect Box(X + Glyph.Left, Baseline + Glyph.Top, Glyph.Width, Glyph.Height);
      const QRect Drawn = Box & Clip;
      // Whole chunks reach past the glyph into its padding, which leaves those pixels as they are, as
      // long as the chunks start at the mask's left edge and end inside the clip.
      const int Chunks = PaddedWidth(Drawn.width());
      const bool WholeChunks = Drawn.left() == Box.left() && Drawn.left() + Chunks <= Clip.right() + 1;
      const int Width = WholeChunks ? Chunks : Drawn.width();
      const qsizetype MaskRow = PaddedWidth(Glyph.Width);
      if (!Drawn.isEmpty())
        BlendBlockHere(Pixels + Drawn.top() * Stride + Drawn.left(), Stride, Source,
                       Glyph.Coverage + (Drawn.top() - Box.top()) * MaskRow + (Drawn.left() - Box.left()), MaskRow,
                       Width, Drawn.height());
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
