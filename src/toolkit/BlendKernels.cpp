#include "BlendKernels.h"

#include <cstring>

#ifdef PAGORIN_X86_BLEND
#include <immintrin.h>
#endif

namespace {

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

// Four pixels' coverage bytes, each four times, once per channel.
inline __m128i SpreadFour(quint32 Four) {
  const __m128i A = _mm_cvtsi32_si128(static_cast<int>(Four));
  const __m128i Twice = _mm_unpacklo_epi8(A, A);
  return _mm_unpacklo_epi16(Twice, Twice);
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
    const __m128i A = SpreadFour(Four);
    auto* Where = reinterpret_cast<__m128i*>(Dest + Column);
    const __m128i Pixels = _mm_loadu_si128(Where);
    const __m128i Low = Mix(SourceWide, _mm_unpacklo_epi8(Pixels, Zero), _mm_unpacklo_epi8(A, Zero));
    const __m128i High = Mix(SourceWide, _mm_unpackhi_epi8(Pixels, Zero), _mm_unpackhi_epi8(A, Zero));
    _mm_storeu_si128(Where, _mm_packus_epi16(Low, High));
  }
  if (Column < Width) BlendRowScalar(Dest + Column, Source, Coverage + Column, Width - Column);
}

// A function attribute rather than "#pragma GCC target": g++ and clang++ both take it.
#define PAGORIN_AVX2 __attribute__((target("avx2")))
PAGORIN_AVX2 inline __m256i Mix(__m256i Source, __m256i Dest, __m256i Alpha) {
  __m256i X = _mm256_add_epi16(_mm256_mullo_epi16(Source, Alpha),
                               _mm256_mullo_epi16(Dest, _mm256_sub_epi16(_mm256_set1_epi16(255), Alpha)));
  X = _mm256_add_epi16(X, _mm256_set1_epi16(128));
  return _mm256_srli_epi16(_mm256_add_epi16(X, _mm256_srli_epi16(X, 8)), 8);
}

// Eight pixels' coverage bytes, each four times, pixels 0-3 in the low half and 4-7 in the high one:
// the unpacks work within each 128-bit half, on the pixels and on the coverage alike, so every pixel
// meets its own coverage.
PAGORIN_AVX2 inline __m256i SpreadEight(quint64 Eight) {
  const __m128i A = _mm_cvtsi64_si128(static_cast<long long>(Eight));
  const __m128i Twice = _mm_unpacklo_epi8(A, A);
  return _mm256_set_m128i(_mm_unpackhi_epi16(Twice, Twice), _mm_unpacklo_epi16(Twice, Twice));
}

// Eight pixels at a time where the processor has AVX2.
PAGORIN_AVX2 void BlendRowAvx2(quint32* Dest, quint32 Source, const uchar* Coverage, int Width) {
  const __m256i Zero = _mm256_setzero_si256();
  const __m256i SourceWide = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(Source)), Zero);
  int Column = 0;
  for (; Column + 8 <= Width; Column += 8) {
    quint64 Eight;
    std::memcpy(&Eight, Coverage + Column, 8);
    if (Eight == 0) continue;
    const __m256i Alpha = SpreadEight(Eight);
    auto* Where = reinterpret_cast<__m256i*>(Dest + Column);
    const __m256i Pixels = _mm256_loadu_si256(Where);
    const __m256i Low =
        Mix(SourceWide, _mm256_unpacklo_epi8(Pixels, Zero), _mm256_unpacklo_epi8(Alpha, Zero));
    const __m256i High =
        Mix(SourceWide, _mm256_unpackhi_epi8(Pixels, Zero), _mm256_unpackhi_epi8(Alpha, Zero));
    _mm256_storeu_si256(Where, _mm256_packus_epi16(Low, High));
  }
  if (Column < Width) BlendRowSse2(Dest + Column, Source, Coverage + Column, Width - Column);
}

#define PAGORIN_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))
PAGORIN_AVX512 inline __m512i Mix(__m512i Source, __m512i Dest, __m512i Alpha) {
  __m512i X = _mm512_add_epi16(_mm512_mullo_epi16(Source, Alpha),
                               _mm512_mullo_epi16(Dest, _mm512_sub_epi16(_mm512_set1_epi16(255), Alpha)));
  X = _mm512_add_epi16(X, _mm512_set1_epi16(128));
  return _mm512_srli_epi16(_mm512_add_epi16(X, _mm512_srli_epi16(X, 8)), 8);
}

// The first Count of sixteen lanes.
inline __mmask16 FirstLanes(int Count) { return Count >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << Count) - 1); }

// Sixteen pixels' coverage bytes, each four times: the 128-bit lane k holds pixels 4k to 4k + 3.
PAGORIN_AVX512 inline __m512i SpreadSixteen(__m128i A) {
  const __m512i Spread = _mm512_set_epi8(15, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12,
                                         11, 11, 11, 11, 10, 10, 10, 10, 9, 9, 9, 9, 8, 8, 8, 8,
                                         7, 7, 7, 7, 6, 6, 6, 6, 5, 5, 5, 5, 4, 4, 4, 4,
                                         3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0);
  return _mm512_shuffle_epi8(_mm512_maskz_broadcast_i32x4(__mmask16(0xFFFF), A), Spread);
}

// Sixteen pixels at a time, any width in masked loads and stores; pixels of coverage 0 are not even
// read. SourceWide: the colour's channels in 16-bit lanes.
PAGORIN_AVX512 inline void BlendRowAvx512(quint32* Row, __m512i SourceWide, const uchar* Coverage, int Width) {
  const __m512i Zero = _mm512_setzero_si512();
  for (int Column = 0; Column < Width; Column += 16) {
    const __mmask16 Inside = FirstLanes(Width - Column);
    const __m128i A = _mm_maskz_loadu_epi8(Inside, Coverage + Column);
    const __mmask16 Covered = _mm_test_epi8_mask(A, A);
    const __m512i Alpha = SpreadSixteen(A);
    const __m512i Pixels = _mm512_maskz_loadu_epi32(Covered, Row + Column);
    const __m512i Low = Mix(SourceWide, _mm512_unpacklo_epi8(Pixels, Zero), _mm512_unpacklo_epi8(Alpha, Zero));
    const __m512i High = Mix(SourceWide, _mm512_unpackhi_epi8(Pixels, Zero), _mm512_unpackhi_epi8(Alpha, Zero));
    _mm512_mask_storeu_epi32(Row + Column, Covered, _mm512_packus_epi16(Low, High));
  }
}
#endif

#ifdef PAGORIN_X86_BLEND
bool HasAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl");
}
#endif

} // namespace

void BlendBlockScalar(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                      qsizetype CoverageStride, int Width, int Height) {
  for (int Y = 0; Y < Height; ++Y) BlendRowScalar(Dest + Y * DestStride, Source, Coverage + Y * CoverageStride, Width);
}

#ifdef PAGORIN_X86_BLEND
void BlendBlockSse2(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                    qsizetype CoverageStride, int Width, int Height) {
  for (int Y = 0; Y < Height; ++Y) BlendRowSse2(Dest + Y * DestStride, Source, Coverage + Y * CoverageStride, Width);
}

PAGORIN_AVX2 void BlendBlockAvx2(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                                 qsizetype CoverageStride, int Width, int Height) {
  for (int Y = 0; Y < Height; ++Y) BlendRowAvx2(Dest + Y * DestStride, Source, Coverage + Y * CoverageStride, Width);
}

PAGORIN_AVX512 void BlendBlockAvx512(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                                     qsizetype CoverageStride, int Width, int Height) {
  const __m512i SourceWide = _mm512_unpacklo_epi8(_mm512_set1_epi32(static_cast<int>(Source)), _mm512_setzero_si512());
  for (int Y = 0; Y < Height; ++Y)
    BlendRowAvx512(Dest + Y * DestStride, SourceWide, Coverage + Y * CoverageStride, Width);
}
#endif

namespace {

// A band composed row by row, each ISA's steps inlined into its own entry below.
template <class TIsa>
inline void ComposeRows(quint32* Pixels, qsizetype Stride, int Left, int Top, int Clean, int Right, int Bottom,
                        const TInkSpan* Spans, int Count, quint32 Source, quint32 Ground) {
  const typename TIsa::TColours Colours = TIsa::Colours(Source, Ground);
  for (int Y = Top; Y < Bottom; ++Y) {
    quint32* Row = Pixels + Y * Stride;
    // The cursor: the columns left of it this row holds already; a held row, all of them.
    int Cursor = Y < Clean ? Right : Left;
    for (int I = 0; I < Count; ++I) {
      const TInkSpan& Span = Spans[I];
      const int RowInBox = Y - Span.Top;
      if (static_cast<unsigned>(RowInBox) >= static_cast<unsigned>(Span.Height)) continue;
      const uchar* Coverage = Span.Coverage + RowInBox * Span.Stride;
      const int SpanRight = Span.Left + Span.Width;
      if (Cursor > Span.Left) {
        // Columns this row holds already (the glyph before reaches into this one's box): blended into.
        const int Over = std::min(Cursor, SpanRight) - Span.Left;
        if (TIsa::MixKeeping(Row + Span.Left, Coverage, Span.Width, Span.Room, Cursor - Span.Left, Colours)) {
          Cursor = std::max(Cursor, SpanRight);
          continue;
        }
        // Mostly a column or two, often of coverage 0.
        if (Over < 4)
          for (int Column = 0; Column < Over; ++Column) BlendInto(Row[Span.Left + Column], Source, Coverage[Column]);
        else
          TIsa::Blend(Row + Span.Left, Coverage, Over, Colours);
        if (Over < Span.Width) TIsa::Mix(Row + Cursor, Coverage + Over, Span.Width - Over, Span.Room - Over, Colours);
      } else {
        TIsa::Fill(Row + Cursor, Span.Left - Cursor, Colours);
        TIsa::Mix(Row + Span.Left, Coverage, Span.Width, Span.Room, Colours);
      }
      Cursor = std::max(Cursor, SpanRight);
    }
    if (Y >= Clean) TIsa::Fill(Row + Cursor, Right - Cursor, Colours);
  }
}

inline quint32 OnGround(quint32 Source, quint32 Ground, quint32 A) {
  return A == 0 ? Ground : A == 255 ? Source : BlendPixel(Ground, Source, A);
}

struct TScalar {
  struct TColours {
    quint32 Source, Ground;
  };
  static TColours Colours(quint32 Source, quint32 Ground) { return {Source, Ground}; }
  static void Fill(quint32* Dest, int Count, const TColours& Colours) {
    for (int I = 0; I < Count; ++I) Dest[I] = Colours.Ground;
  }
  static void Mix(quint32* Dest, const uchar* Coverage, int Width, int, const TColours& Colours) {
    for (int I = 0; I < Width; ++I) Dest[I] = OnGround(Colours.Source, Colours.Ground, Coverage[I]);
  }
  static void Blend(quint32* Dest, const uchar* Coverage, int Width, const TColours& Colours) {
    BlendRowScalar(Dest, Colours.Source, Coverage, Width);
  }
  // Mixes the whole row while keeping its first Held pixels, which the row holds already, where they
  // have no coverage, when a kernel can do that in whole steps; false, with nothing written, otherwise.
  static bool MixKeeping(quint32*, const uchar*, int, int, int, const TColours&) { return false; }
};

#ifdef PAGORIN_X86_BLEND
// The blend onto a known ground in 16-bit lanes: X = Ground * 255 + 128 + (Source - Ground) * A, whose
// true value stays below 65536 (so the difference's wrap cancels out), and X * 257 >> 16, which is
// BlendPixel's (X + (X >> 8)) >> 8. No pixel is read.
struct TSse2 {
  struct TColours {
    __m128i Base, Delta, Ground;
    TScalar::TColours Narrow;
  };
  static TColours Colours(quint32 Source, quint32 Ground) {
    const __m128i Zero = _mm_setzero_si128();
    const __m128i S = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(Source)), Zero);
    const __m128i G = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(Ground)), Zero);
    return {_mm_add_epi16(_mm_mullo_epi16(G, _mm_set1_epi16(255)), _mm_set1_epi16(128)), _mm_sub_epi16(S, G),
            _mm_set1_epi32(static_cast<int>(Ground)), {Source, Ground}};
  }
  static void Fill(quint32* Dest, int Count, const TColours& Colours) {
    if (Count < 4) return TScalar::Fill(Dest, Count, Colours.Narrow);
    int I = 0;
    for (; I + 4 <= Count; I += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + I), Colours.Ground);
    if (I < Count) _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + Count - 4), Colours.Ground);
  }
  static __m128i Mixed(__m128i A, const TColours& Colours) {
    return _mm_mulhi_epu16(_mm_add_epi16(Colours.Base, _mm_mullo_epi16(Colours.Delta, A)), _mm_set1_epi16(257));
  }
  static void Mix(quint32* Dest, const uchar* Coverage, int Width, int Room, const TColours& Colours) {
    const __m128i Zero = _mm_setzero_si128();
    int Column = 0;
    for (; Column < Width && Column + 4 <= Room; Column += 4) {
      quint32 Four;
      std::memcpy(&Four, Coverage + Column, 4);
      const __m128i A = SpreadFour(Four);
      const __m128i Low = Mixed(_mm_unpacklo_epi8(A, Zero), Colours);
      const __m128i High = Mixed(_mm_unpackhi_epi8(A, Zero), Colours);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + Column), _mm_packus_epi16(Low, High));
    }
    if (Column < Width) TScalar::Mix(Dest + Column, Coverage + Column, Width - Column, 0, Colours.Narrow);
  }
  static void Blend(quint32* Dest, const uchar* Coverage, int Width, const TColours& Colours) {
    BlendRowSse2(Dest, Colours.Narrow.Source, Coverage, Width);
  }
  static bool MixKeeping(quint32*, const uchar*, int, int, int, const TColours&) { return false; }
};

struct TAvx2 {
  struct TColours {
    __m256i Base, Delta, Ground;
    TSse2::TColours Narrow;
  };
  PAGORIN_AVX2 static TColours Colours(quint32 Source, quint32 Ground) {
    const TSse2::TColours Narrow = TSse2::Colours(Source, Ground);
    return {_mm256_broadcastsi128_si256(Narrow.Base), _mm256_broadcastsi128_si256(Narrow.Delta),
            _mm256_set1_epi32(static_cast<int>(Ground)), Narrow};
  }
  PAGORIN_AVX2 static void Fill(quint32* Dest, int Count, const TColours& Colours) {
    if (Count < 8) return TSse2::Fill(Dest, Count, Colours.Narrow);
    int I = 0;
    for (; I + 8 <= Count; I += 8) _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dest + I), Colours.Ground);
    if (I < Count) _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dest + Count - 8), Colours.Ground);
  }
  PAGORIN_AVX2 static __m256i Mixed(__m256i A, const TColours& Colours) {
    return _mm256_mulhi_epu16(_mm256_add_epi16(Colours.Base, _mm256_mullo_epi16(Colours.Delta, A)),
                              _mm256_set1_epi16(257));
  }
  PAGORIN_AVX2 static void Mix(quint32* Dest, const uchar* Coverage, int Width, int Room, const TColours& Colours) {
    const __m256i Zero = _mm256_setzero_si256();
    int Column = 0;
    for (; Column < Width && Column + 8 <= Room; Column += 8) {
      quint64 Eight;
      std::memcpy(&Eight, Coverage + Column, 8);
      const __m256i Alpha = SpreadEight(Eight);
      const __m256i Low = Mixed(_mm256_unpacklo_epi8(Alpha, Zero), Colours);
      const __m256i High = Mixed(_mm256_unpackhi_epi8(Alpha, Zero), Colours);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dest + Column), _mm256_packus_epi16(Low, High));
    }
    if (Column < Width) TSse2::Mix(Dest + Column, Coverage + Column, Width - Column, Room - Column, Colours.Narrow);
  }
  PAGORIN_AVX2 static void Blend(quint32* Dest, const uchar* Coverage, int Width, const TColours& Colours) {
    BlendRowAvx2(Dest, Colours.Narrow.Narrow.Source, Coverage, Width);
  }
  // A CJK glyph overlapping the one before by a column: its row in two steps of eight, the kept
  // pixels read and put back in the first, instead of a column, then eight, four and one.
  // The held pixels may reach past the glyph (it lies inside the one before): the steps' padding must
  // not overwrite them either.
  PAGORIN_AVX2 static bool MixKeeping(quint32* Dest, const uchar* Coverage, int Width, int Room, int Held,
                                      const TColours& Colours) {
    if (Held > 8 || (Width + 7) / 8 * 8 > Room) return false;
    quint64 First;
    std::memcpy(&First, Coverage, 8);
    if (First << (64 - 8 * Held)) return false;  // ink over ink
    const __m256i Kept = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Dest));
    const __m256i Lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i Keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(Held), Lanes);
    Mix(Dest, Coverage, Width, Room, Colours);
    const __m256i Mixed = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Dest));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dest), _mm256_blendv_epi8(Mixed, Kept, Keep));
    return true;
  }
};

struct TAvx512 {
  struct TColours {
    __m512i Base, Delta, Ground, Round, SourceWide;
  };
  PAGORIN_AVX512 static TColours Colours(quint32 Source, quint32 Ground) {
    const TSse2::TColours Narrow = TSse2::Colours(Source, Ground);
    return {_mm512_maskz_broadcast_i32x4(__mmask16(0xFFFF), Narrow.Base),
            _mm512_maskz_broadcast_i32x4(__mmask16(0xFFFF), Narrow.Delta), _mm512_set1_epi32(static_cast<int>(Ground)),
            _mm512_set1_epi16(257), _mm512_unpacklo_epi8(_mm512_set1_epi32(static_cast<int>(Source)), _mm512_setzero_si512())};
  }
  // Stores on whole cache lines where the run is long (a line's end): one split across two lines costs
  // about two.
  PAGORIN_AVX512 static void Fill(quint32* Dest, int Count, const TColours& Colours) {
    int I = 0;
    if (Count >= 32) {
      I = static_cast<int>((64 - reinterpret_cast<quintptr>(Dest) % 64) % 64 / 4);
      _mm512_mask_storeu_epi32(Dest, FirstLanes(I), Colours.Ground);
      for (; I + 16 <= Count; I += 16) _mm512_store_si512(Dest + I, Colours.Ground);
    } else {
      for (; I + 16 <= Count; I += 16) _mm512_storeu_si512(Dest + I, Colours.Ground);
    }
    if (I < Count) _mm512_mask_storeu_epi32(Dest + I, FirstLanes(Count - I), Colours.Ground);
  }
  PAGORIN_AVX512 static __m512i MixedHalf(__m512i A, const TColours& Colours) {
    return _mm512_mulhi_epu16(_mm512_add_epi16(Colours.Base, _mm512_mullo_epi16(Colours.Delta, A)), Colours.Round);
  }
  // Sixteen pixels of coverage A on the ground.
  PAGORIN_AVX512 static __m512i Mixed(__m128i A, const TColours& Colours) {
    const __m512i Alpha = SpreadSixteen(A);
    const __m512i Zero = _mm512_setzero_si512();
    return _mm512_packus_epi16(MixedHalf(_mm512_unpacklo_epi8(Alpha, Zero), Colours),
                               MixedHalf(_mm512_unpackhi_epi8(Alpha, Zero), Colours));
  }
  // Sixteen pixels a step, the last step masked: Room is not needed.
  PAGORIN_AVX512 static void Mix(quint32* Dest, const uchar* Coverage, int Width, int, const TColours& Colours) {
    for (int Column = 0; Column < Width; Column += 16) {
      const __mmask16 Inside = FirstLanes(Width - Column);
      _mm512_mask_storeu_epi32(Dest + Column, Inside, Mixed(_mm_maskz_loadu_epi8(Inside, Coverage + Column), Colours));
    }
  }
  // Inlined here, so that the band's loop makes no call (a call would have its constants reloaded from
  // memory at every step).
  PAGORIN_AVX512 static void Blend(quint32* Dest, const uchar* Coverage, int Width, const TColours& Colours) {
    BlendRowAvx512(Dest, Colours.SourceWide, Coverage, Width);
  }
};
#endif

#define PAGORIN_COMPOSE_ARGUMENTS                                                                      \
  quint32 *Pixels, qsizetype Stride, int Left, int Top, int Clean, int Right, int Bottom, const TInkSpan *Spans, \
      int Count, quint32 Source, quint32 Ground
#define PAGORIN_COMPOSE_PASS Pixels, Stride, Left, Top, Clean, Right, Bottom, Spans, Count, Source, Ground

void ComposeBandScalar(PAGORIN_COMPOSE_ARGUMENTS) { ComposeRows<TScalar>(PAGORIN_COMPOSE_PASS); }
#ifdef PAGORIN_X86_BLEND
// "flatten" inlines each ISA's steps into its loop, where the ISA's instructions are allowed.
__attribute__((flatten)) void ComposeBandSse2(PAGORIN_COMPOSE_ARGUMENTS) { ComposeRows<TSse2>(PAGORIN_COMPOSE_PASS); }
PAGORIN_AVX2 __attribute__((flatten)) void ComposeBandAvx2(PAGORIN_COMPOSE_ARGUMENTS) {
  ComposeRows<TAvx2>(PAGORIN_COMPOSE_PASS);
}
// As ComposeRows, with a glyph's row of up to sixteen pixels (a CJK character's) taken in one step: the
// gap before it one masked store, and columns the row holds already left out of the store, blended
// only where the glyph's coverage there is not 0 (it mostly is).
PAGORIN_AVX512 __attribute__((flatten)) void ComposeBandAvx512(PAGORIN_COMPOSE_ARGUMENTS) {
  const TAvx512::TColours Colours = TAvx512::Colours(Source, Ground);
  const TInkSpan* const SpansEnd = Spans + Count;
  for (int Y = Top; Y < Bottom; ++Y) {
    quint32* Row = Pixels + Y * Stride;
    int Cursor = Y < Clean ? Right : Left;
    for (const TInkSpan* Span = Spans; Span != SpansEnd; ++Span) {
      const unsigned RowInBox = static_cast<unsigned>(Y - Span->Top);
      if (RowInBox >= static_cast<unsigned>(Span->Height)) continue;
      const uchar* Coverage = Span->Coverage + RowInBox * Span->Stride;
      const int SpanRight = Span->Left + Span->Width;
      if (Span->Width <= 16) {
        const __mmask16 Inside = FirstLanes(Span->Width);
        const __m128i A = _mm_maskz_loadu_epi8(Inside, Coverage);
        __mmask16 Written = Inside;
        if (Cursor > Span->Left) {
          const int Over = std::min(Cursor, SpanRight) - Span->Left;
          const __mmask16 Held = FirstLanes(Over);
          if (_mm_mask_test_epi8_mask(Held, A, A)) TAvx512::Blend(Row + Span->Left, Coverage, Over, Colours);
          Written &= static_cast<__mmask16>(~Held);
        } else if (Cursor < Span->Left) {
          TAvx512::Fill(Row + Cursor, Span->Left - Cursor, Colours);
        }
        if (Written) _mm512_mask_storeu_epi32(Row + Span->Left, Written, TAvx512::Mixed(A, Colours));
      } else if (Cursor > Span->Left) {
        const int Over = std::min(Cursor, SpanRight) - Span->Left;
        TAvx512::Blend(Row + Span->Left, Coverage, Over, Colours);
        if (Over < Span->Width)
          TAvx512::Mix(Row + Cursor, Coverage + Over, Span->Width - Over, Span->Room - Over, Colours);
      } else {
        TAvx512::Fill(Row + Cursor, Span->Left - Cursor, Colours);
        TAvx512::Mix(Row + Span->Left, Coverage, Span->Width, Span->Room, Colours);
      }
      Cursor = std::max(Cursor, SpanRight);
    }
    if (Y >= Clean) TAvx512::Fill(Row + Cursor, Right - Cursor, Colours);
  }
}
#endif

} // namespace

std::vector<TBlendKernel> SupportedBlendKernels() {
  std::vector<TBlendKernel> Kernels{{"scalar", BlendBlockScalar, ComposeBandScalar}};
#ifdef PAGORIN_X86_BLEND
  Kernels.push_back({"SSE2", BlendBlockSse2, ComposeBandSse2});
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) Kernels.push_back({"AVX2", BlendBlockAvx2, ComposeBandAvx2});
  if (HasAvx512()) Kernels.push_back({"AVX-512", BlendBlockAvx512, ComposeBandAvx512});
#endif
  return Kernels;
}

TBlendKernel FastestBlendKernel() { return SupportedBlendKernels().back(); }
