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

struct TBlendKernel {
  const char* Name;
  TBlendBlock Block;
};

// The kernels this processor runs, the scalar one first.
std::vector<TBlendKernel> SupportedBlendKernels();

// The fastest kernel this processor runs: what the glyph cache blends with.
TBlendBlock FastestBlendBlock();
