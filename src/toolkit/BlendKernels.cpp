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
  if (Column < Width) BlendRowSse2(Dest + Column, Source, Coverage + Column, Width - Column);
}

#define PAGORIN_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))
PAGORIN_AVX512 inline __m512i Mix(__m512i Source, __m512i Dest, __m512i Alpha) {
  __m512i X = _mm512_add_epi16(_mm512_mullo_epi16(Source, Alpha),
                               _mm512_mullo_epi16(Dest, _mm512_sub_epi16(_mm512_set1_epi16(255), Alpha)));
  X = _mm512_add_epi16(X, _mm512_set1_epi16(128));
  return _mm512_srli_epi16(_mm512_add_epi16(X, _mm512_srli_epi16(X, 8)), 8);
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
#undef PAGORIN_AVX2

PAGORIN_AVX512 void BlendBlockAvx512(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                                     qsizetype CoverageStride, int Width, int Height) {
  const __m512i Zero = _mm512_setzero_si512();
  const __m512i SourceWide = _mm512_unpacklo_epi8(_mm512_set1_epi32(static_cast<int>(Source)), Zero);
  // The 128-bit lane k holds pixels 4k to 4k + 3: each takes its coverage byte once per channel.
  const __m512i Spread = _mm512_set_epi8(15, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12,
                                         11, 11, 11, 11, 10, 10, 10, 10, 9, 9, 9, 9, 8, 8, 8, 8,
                                         7, 7, 7, 7, 6, 6, 6, 6, 5, 5, 5, 5, 4, 4, 4, 4,
                                         3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0);
  for (int Y = 0; Y < Height; ++Y) {
    quint32* Row = Dest + Y * DestStride;
    const uchar* RowCoverage = Coverage + Y * CoverageStride;
    for (int Column = 0; Column < Width; Column += 16) {
      const __mmask16 Inside = Width - Column >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (Width - Column)) - 1);
      const __m128i A = _mm_maskz_loadu_epi8(Inside, RowCoverage + Column);
      const __mmask16 Covered = _mm_test_epi8_mask(A, A);
      const __m512i Alpha = _mm512_shuffle_epi8(_mm512_maskz_broadcast_i32x4(__mmask16(0xFFFF), A), Spread);
      const __m512i Pixels = _mm512_maskz_loadu_epi32(Covered, Row + Column);
      const __m512i Low =
          Mix(SourceWide, _mm512_unpacklo_epi8(Pixels, Zero), _mm512_unpacklo_epi8(Alpha, Zero));
      const __m512i High =
          Mix(SourceWide, _mm512_unpackhi_epi8(Pixels, Zero), _mm512_unpackhi_epi8(Alpha, Zero));
      _mm512_mask_storeu_epi32(Row + Column, Covered, _mm512_packus_epi16(Low, High));
    }
  }
}
#undef PAGORIN_AVX512
#endif

std::vector<TBlendKernel> SupportedBlendKernels() {
  std::vector<TBlendKernel> Kernels{{"scalar", BlendBlockScalar}};
#ifdef PAGORIN_X86_BLEND
  Kernels.push_back({"SSE2", BlendBlockSse2});
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) Kernels.push_back({"AVX2", BlendBlockAvx2});
  if (HasAvx512()) Kernels.push_back({"AVX-512", BlendBlockAvx512});
#endif
  return Kernels;
}

#ifdef PAGORIN_X86_BLEND
TBlendBlock FastestBlendBlock() {
  __builtin_cpu_init();
  if (HasAvx512()) return BlendBlockAvx512;
  return __builtin_cpu_supports("avx2") ? BlendBlockAvx2 : BlendBlockSse2;
}
#else
TBlendBlock FastestBlendBlock() { return BlendBlockScalar; }
#endif
