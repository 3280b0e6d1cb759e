#include "BlendKernels.h"

#include <algorithm>
#include <cstring>

#ifdef PAGORIN_SSE2_BLEND
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

// The row steps of one instruction set, which the band composer below is made of. Each:
//   Fill(Dest, Count)            Count pixels of ground;
//   Mix(Dest, Coverage, Width, Room)  Width pixels of the colour on the ground, none read; whole steps
//                                may run on to Room, where the coverage is 0;
//   Blend(Dest, Coverage, Width) the colour blended into Width pixels as they are.
struct TScalar {
  struct TColours {
    quint32 Source, Ground;
  };
  static TColours Colours(quint32 Source, quint32 Ground) { return {Source, Ground}; }
  static void Fill(quint32* Dest, int Count, const TColours& Colours) { std::fill_n(Dest, Count, Colours.Ground); }
  static void Mix(quint32* Dest, const uchar* Coverage, int Width, int, const TColours& Colours) {
    for (int I = 0; I < Width; ++I) {
      const quint32 A = Coverage[I];
      Dest[I] = A == 0 ? Colours.Ground : A == 255 ? Colours.Source : BlendPixel(Colours.Ground, Colours.Source, A);
    }
  }
  static void Blend(quint32* Dest, const uchar* Coverage, int Width, const TColours& Colours) {
    for (int I = 0; I < Width; ++I) BlendInto(Dest[I], Colours.Source, Coverage[I]);
  }
};

#ifdef PAGORIN_SSE2_BLEND
// Four pixels a step. The colour onto a known ground in 16-bit lanes: X = Ground * 255 + 128 +
// (Source - Ground) * A, whose true value stays below 65536 (so the difference's wrap cancels out), and
// X * 257 >> 16, which is BlendPixel's (X + (X >> 8)) >> 8.
struct TSse2 {
  struct TColours {
    __m128i Base, Delta, Ground, SourceWide;
    TScalar::TColours Narrow;
  };
  static TColours Colours(quint32 Source, quint32 Ground) {
    const __m128i Zero = _mm_setzero_si128();
    const __m128i S = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(Source)), Zero);
    const __m128i G = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(Ground)), Zero);
    return {_mm_add_epi16(_mm_mullo_epi16(G, _mm_set1_epi16(255)), _mm_set1_epi16(128)), _mm_sub_epi16(S, G),
            _mm_set1_epi32(static_cast<int>(Ground)), S, {Source, Ground}};
  }
  // Four pixels' coverage bytes, each four times, once per channel.
  static __m128i Spread(const uchar* Coverage) {
    quint32 Four;
    std::memcpy(&Four, Coverage, 4);
    const __m128i A = _mm_cvtsi32_si128(static_cast<int>(Four));
    const __m128i Twice = _mm_unpacklo_epi8(A, A);
    return _mm_unpacklo_epi16(Twice, Twice);
  }
  static void Fill(quint32* Dest, int Count, const TColours& Colours) {
    if (Count < 4) return TScalar::Fill(Dest, Count, Colours.Narrow);
    int I = 0;
    for (; I + 4 <= Count; I += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + I), Colours.Ground);
    if (I < Count) _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + Count - 4), Colours.Ground);
  }
  static __m128i OnGround(__m128i A, const TColours& Colours) {
    return _mm_mulhi_epu16(_mm_add_epi16(Colours.Base, _mm_mullo_epi16(Colours.Delta, A)), _mm_set1_epi16(257));
  }
  static void Mix(quint32* Dest, const uchar* Coverage, int Width, int Room, const TColours& Colours) {
    const __m128i Zero = _mm_setzero_si128();
    int Column = 0;
    for (; Column < Width && Column + 4 <= Room; Column += 4) {
      const __m128i A = Spread(Coverage + Column);
      const __m128i Low = OnGround(_mm_unpacklo_epi8(A, Zero), Colours);
      const __m128i High = OnGround(_mm_unpackhi_epi8(A, Zero), Colours);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + Column), _mm_packus_epi16(Low, High));
    }
    if (Column < Width) TScalar::Mix(Dest + Column, Coverage + Column, Width - Column, 0, Colours.Narrow);
  }
  // BlendPixel in 16-bit lanes.
  static __m128i Over(__m128i Dest, __m128i A, const TColours& Colours) {
    __m128i X = _mm_add_epi16(_mm_mullo_epi16(Colours.SourceWide, A), _mm_mullo_epi16(Dest, _mm_sub_epi16(_mm_set1_epi16(255), A)));
    X = _mm_add_epi16(X, _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(X, _mm_srli_epi16(X, 8)), 8);
  }
  // Four pixels whose coverage is all 0 are not touched.
  static void Blend(quint32* Dest, const uchar* Coverage, int Width, const TColours& Colours) {
    const __m128i Zero = _mm_setzero_si128();
    int Column = 0;
    for (; Column + 4 <= Width; Column += 4) {
      quint32 Four;
      std::memcpy(&Four, Coverage + Column, 4);
      if (Four == 0) continue;
      const __m128i A = Spread(Coverage + Column);
      auto* Where = reinterpret_cast<__m128i*>(Dest + Column);
      const __m128i Pixels = _mm_loadu_si128(Where);
      const __m128i Low = Over(_mm_unpacklo_epi8(Pixels, Zero), _mm_unpacklo_epi8(A, Zero), Colours);
      const __m128i High = Over(_mm_unpackhi_epi8(Pixels, Zero), _mm_unpackhi_epi8(A, Zero), Colours);
      _mm_storeu_si128(Where, _mm_packus_epi16(Low, High));
    }
    if (Column < Width) TScalar::Blend(Dest + Column, Coverage + Column, Width - Column, Colours.Narrow);
  }
};

// Sixteen pixels a step where the processor has AVX-512 (F, BW, VL), the last step masked (the
// broadcasts masked too: GCC 12 warns of the unmasked form's unset source). It draws a novel's page in
// about half of SSE2's time, which shows through X as a faster page turn.
#define PAGORIN_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))

// The first Count of sixteen lanes.
inline __mmask16 FirstLanes(int Count) { return Count >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << Count) - 1); }

struct TAvx512 {
  struct TColours {
    __m512i Base, Delta, Ground, Round, SourceWide;
  };
  PAGORIN_AVX512 static TColours Colours(quint32 Source, quint32 Ground) {
    const TSse2::TColours Narrow = TSse2::Colours(Source, Ground);
    return {_mm512_maskz_broadcast_i32x4(__mmask16(0xFFFF), Narrow.Base), _mm512_maskz_broadcast_i32x4(__mmask16(0xFFFF), Narrow.Delta),
            _mm512_set1_epi32(static_cast<int>(Ground)), _mm512_set1_epi16(257),
            _mm512_maskz_broadcast_i32x4(__mmask16(0xFFFF), Narrow.SourceWide)};
  }
  // Sixteen pixels' coverage bytes, each four times: the 128-bit lane k holds pixels 4k to 4k + 3.
  PAGORIN_AVX512 static __m512i Spread(__m128i A) {
    const __m512i Pattern = _mm512_set_epi8(15, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12,
                                            11, 11, 11, 11, 10, 10, 10, 10, 9, 9, 9, 9, 8, 8, 8, 8,
                                            7, 7, 7, 7, 6, 6, 6, 6, 5, 5, 5, 5, 4, 4, 4, 4,
                                            3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0);
    return _mm512_shuffle_epi8(_mm512_maskz_broadcast_i32x4(__mmask16(0xFFFF), A), Pattern);
  }
  PAGORIN_AVX512 static void Fill(quint32* Dest, int Count, const TColours& Colours) {
    for (int I = 0; I < Count; I += 16) _mm512_mask_storeu_epi32(Dest + I, FirstLanes(Count - I), Colours.Ground);
  }
  PAGORIN_AVX512 static __m512i OnGround(__m512i A, const TColours& Colours) {
    return _mm512_mulhi_epu16(_mm512_add_epi16(Colours.Base, _mm512_mullo_epi16(Colours.Delta, A)), Colours.Round);
  }
  // Masked steps: Room is not needed.
  PAGORIN_AVX512 static void Mix(quint32* Dest, const uchar* Coverage, int Width, int, const TColours& Colours) {
    const __m512i Zero = _mm512_setzero_si512();
    for (int Column = 0; Column < Width; Column += 16) {
      const __mmask16 Inside = FirstLanes(Width - Column);
      const __m512i A = Spread(_mm_maskz_loadu_epi8(Inside, Coverage + Column));
      const __m512i Mixed = _mm512_packus_epi16(OnGround(_mm512_unpacklo_epi8(A, Zero), Colours),
                                                OnGround(_mm512_unpackhi_epi8(A, Zero), Colours));
      _mm512_mask_storeu_epi32(Dest + Column, Inside, Mixed);
    }
  }
  // BlendPixel in 16-bit lanes; pixels of coverage 0 are not even read.
  PAGORIN_AVX512 static __m512i Over(__m512i Dest, __m512i A, const TColours& Colours) {
    __m512i X = _mm512_add_epi16(_mm512_mullo_epi16(Colours.SourceWide, A),
                                 _mm512_mullo_epi16(Dest, _mm512_sub_epi16(_mm512_set1_epi16(255), A)));
    X = _mm512_add_epi16(X, _mm512_set1_epi16(128));
    return _mm512_srli_epi16(_mm512_add_epi16(X, _mm512_srli_epi16(X, 8)), 8);
  }
  PAGORIN_AVX512 static void Blend(quint32* Dest, const uchar* Coverage, int Width, const TColours& Colours) {
    const __m512i Zero = _mm512_setzero_si512();
    for (int Column = 0; Column < Width; Column += 16) {
      const __mmask16 Inside = FirstLanes(Width - Column);
      const __m128i Four = _mm_maskz_loadu_epi8(Inside, Coverage + Column);
      const __mmask16 Covered = _mm_test_epi8_mask(Four, Four);
      if (Covered == 0) continue;
      const __m512i A = Spread(Four);
      const __m512i Pixels = _mm512_maskz_loadu_epi32(Covered, Dest + Column);
      const __m512i Low = Over(_mm512_unpacklo_epi8(Pixels, Zero), _mm512_unpacklo_epi8(A, Zero), Colours);
      const __m512i High = Over(_mm512_unpackhi_epi8(Pixels, Zero), _mm512_unpackhi_epi8(A, Zero), Colours);
      _mm512_mask_storeu_epi32(Dest + Column, Covered, _mm512_packus_epi16(Low, High));
    }
  }
};
#endif

// The band, row by row, in the steps of TIsa ("flatten": the steps inlined into the loop).
template <class TIsa>
__attribute__((flatten)) void ComposeBand(quint32* Pixels, qsizetype Stride, int Left, int Top, int Clean, int Right, int Bottom,
                 const TInkSpan* Spans, int Count, quint32 Source, quint32 Ground) {
  const typename TIsa::TColours Colours = TIsa::Colours(Source, Ground);
  const TScalar::TColours Narrow{Source, Ground};
  for (int Y = Top; Y < Bottom; ++Y) {
    quint32* Row = Pixels + Y * Stride;
    // The columns left of the cursor this row holds already; a held row, all of them.
    int Cursor = Y < Clean ? Right : Left;
    for (int I = 0; I < Count; ++I) {
      const TInkSpan& Span = Spans[I];
      const int RowInBox = Y - Span.Top;
      if (static_cast<unsigned>(RowInBox) >= static_cast<unsigned>(Span.Height)) continue;
      const uchar* Coverage = Span.Coverage + RowInBox * Span.Stride;
      const int SpanRight = Span.Left + Span.Width;
      if (Cursor > Span.Left) {
        // Columns held already (a held row, or the glyph before reaching into this one's box): blended
        // into; on a row being written these are mostly a column or two, often of coverage 0.
        const int Over = std::min(Cursor, SpanRight) - Span.Left;
        if (Over < 4)
          TScalar::Blend(Row + Span.Left, Coverage, Over, Narrow);
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

#ifdef PAGORIN_SSE2_BLEND
// The composer with the AVX-512 steps inlined, where their instructions are allowed.
PAGORIN_AVX512 __attribute__((flatten)) void ComposeBandAvx512(quint32* Pixels, qsizetype Stride, int Left, int Top,
                                                               int Clean, int Right, int Bottom, const TInkSpan* Spans,
                                                               int Count, quint32 Source, quint32 Ground) {
  ComposeBand<TAvx512>(Pixels, Stride, Left, Top, Clean, Right, Bottom, Spans, Count, Source, Ground);
}

bool HasAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}
#endif

} // namespace

std::vector<TBlendKernel> SupportedBlendKernels() {
  std::vector<TBlendKernel> Kernels{{"scalar", ComposeBand<TScalar>}};
#ifdef PAGORIN_SSE2_BLEND
  Kernels.push_back({"SSE2", ComposeBand<TSse2>});
  if (HasAvx512()) Kernels.push_back({"AVX-512", ComposeBandAvx512});
#endif
  return Kernels;
}

TBlendKernel FastestBlendKernel() { return SupportedBlendKernels().back(); }
