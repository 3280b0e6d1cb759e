#pragma once

#include <QtGlobal>

#include <vector>

#ifdef __x86_64__
#define PAGORIN_X86_BLEND 1
#endif

// The kernels that blend a glyph's coverage mask in one colour into the window's opaque 32-bit pixels:
// a scalar one for every processor, and SSE2, AVX2 and AVX-512 ones that give the same pixels faster. Each
// pixel becomes, channel by channel, the nearest of (Source * A + Dest * (255 - A)) / 255 for its
// coverage A; coverage 0 leaves a pixel untouched, 255 writes the colour.

// Blends a Width x Height block of coverage (rows CoverageStride bytes apart) into pixels DestStride
// apart. Source and the pixels are opaque: their alpha bytes are 0xFF.
using TBlendBlock = void (*)(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                             qsizetype CoverageStride, int Width, int Height);

void BlendBlockScalar(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                      qsizetype CoverageStride, int Width, int Height);
#ifdef PAGORIN_X86_BLEND
// Every x86-64 processor has SSE2.
void BlendBlockSse2(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                    qsizetype CoverageStride, int Width, int Height);
// Only where the processor has AVX2 (see SupportedBlendKernels).
void BlendBlockAvx2(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                    qsizetype CoverageStride, int Width, int Height);
// Only where the processor has AVX-512 F, BW and VL: sixteen pixels at a time, any width in masked
// loads and stores, so a glyph row of a CJK character is one step and pixels of coverage 0 are not
// even read.
void BlendBlockAvx512(quint32* Dest, qsizetype DestStride, quint32 Source, const uchar* Coverage,
                      qsizetype CoverageStride, int Width, int Height);
#endif

// A glyph's part of a band that ComposeBand writes: the columns of its box inside the band, its rows,
// the coverage of the part's first column on the box's top row, and Room, the columns from Left that
// may be written (at least Width): past Width the mask reads 0, its padding, so a kernel writing whole
// steps there writes the ground, which the rest of the row overwrites anyway.
struct TInkSpan {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int Room = 0;
  const uchar* Coverage = nullptr;
  qsizetype Stride = 0;
};

// Writes every pixel of the rows [Clean, Bottom) of the band [Left, Right) x [Top, Bottom) of Pixels
// (rows Stride apart) once, row by row: a span's pixels as Source blended onto Ground by their
// coverage, all others Ground; the rows [Top, Clean) hold what was drawn before and get only the spans
// blended in. The result is that of filling the rows from Clean with Ground and blending each span into
// the band in turn with a TBlendBlock, without reading the pixels or writing any twice except where a
// span reaches back over columns its row holds already (a held row, or the glyph before overlapping
// it): those are blended into. Spans lie inside the band's columns.
using TComposeBand = void (*)(quint32* Pixels, qsizetype Stride, int Left, int Top, int Clean, int Right, int Bottom,
                              const TInkSpan* Spans, int Count, quint32 Source, quint32 Ground);

struct TBlendKernel {
  const char* Name;
  TBlendBlock Block;
  TComposeBand Band;
};

// The kernels this processor runs, the scalar one first.
std::vector<TBlendKernel> SupportedBlendKernels();

// The fastest kernel this processor runs: what the glyph cache draws with.
TBlendKernel FastestBlendKernel();
