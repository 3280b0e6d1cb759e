#pragma once

#include <QtGlobal>

#include <vector>

#ifdef __SSE2__
#define PAGORIN_SSE2_BLEND 1
#endif

// The kernels that put glyphs' coverage masks in one colour into the window's opaque 32-bit pixels: a
// scalar one for every processor and an SSE2 one (every x86-64 processor has it) that gives the same
// pixels faster. Wider ones (AVX2, AVX-512) were no faster through the X server: a page turn there is
// the server's and Qt's as much as ours. A pixel of coverage A becomes, channel by channel, the nearest
// of (Source * A + Dest * (255 - A)) / 255; coverage 0 leaves it as it was, 255 writes the colour.

// A glyph's part of a band: the columns of its box inside the band, its rows, the coverage of the part's
// first column on the box's top row, and Room, the columns from Left that may be written (at least
// Width): past Width the mask reads 0, its padding, so a kernel writing whole steps there writes the
// ground on a row being written, and leaves the pixels as they were on a held row.
struct TInkSpan {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int Room = 0;
  const uchar* Coverage = nullptr;
  qsizetype Stride = 0;
};

// Writes the band [Left, Right) x [Top, Bottom) of Pixels (rows Stride apart) row by row. The rows
// [Top, Clean) hold what was drawn before: each span is blended into them. The rows [Clean, Bottom) are
// written once each: a span's pixels as Source mixed onto Ground by their coverage, all others Ground,
// without reading them, except where a span reaches back over columns its row holds already (the glyph
// before overlaps it): those are blended into. The result is that of filling the rows from Clean with
// Ground and then blending each span in turn. Spans lie inside the band's columns; Clean may be Bottom
// (nothing filled: the spans blended into what the band holds).
using TComposeBand = void (*)(quint32* Pixels, qsizetype Stride, int Left, int Top, int Clean, int Right, int Bottom,
                              const TInkSpan* Spans, int Count, quint32 Source, quint32 Ground);

struct TBlendKernel {
  const char* Name;
  TComposeBand Band;
};

// The kernels built for this processor, the scalar one first.
std::vector<TBlendKernel> SupportedBlendKernels();

// The fastest of them: what the glyph cache draws with.
TBlendKernel FastestBlendKernel();
