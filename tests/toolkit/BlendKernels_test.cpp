#include "BlendKernels.h"

#include <gtest/gtest.h>

#include <QString>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// The blend written out: each colour channel the nearest of (Source * A + Dest * (255 - A)) / 255,
// alpha opaque; coverage 0 leaves the pixel as it was. 255 is odd, so there are no ties to round.
quint32 Blended(quint32 Dest, quint32 Source, int A) {
  if (A == 0) return Dest;
  quint32 Result = 0xFF000000u;
  for (int Shift = 0; Shift < 24; Shift += 8) {
    const int S = static_cast<int>((Source >> Shift) & 0xFF);
    const int D = static_cast<int>((Dest >> Shift) & 0xFF);
    Result |= static_cast<quint32>((S * A + D * (255 - A) + 127) / 255) << Shift;
  }
  return Result;
}

std::string FirstDifference(const std::vector<quint32>& Got, const std::vector<quint32>& Want, int CanvasWidth) {
  for (std::size_t I = 0; I < Got.size(); ++I)
    if (Got[I] != Want[I])
      return QStringLiteral("pixel (%1, %2) is %3, not %4")
          .arg(static_cast<int>(I) % CanvasWidth)
          .arg(static_cast<int>(I) / CanvasWidth)
          .arg(Got[I], 8, 16, QLatin1Char('0'))
          .arg(Want[I], 8, 16, QLatin1Char('0'))
          .toStdString();
  return {};
}

} // namespace

// A band composed in one pass, by every kernel here, is the band filled with the ground below its held
// rows and each span blended into it in turn, each channel rounded as the blend written out: spans with
// gaps between them, cut on the left (their coverage read from inside the mask's rows), reaching back
// over the one before by a column or many, or lying inside it, with rows above, inside and below the
// band; bands all filled, all held (the spans only blended in) and in between; now and then a glyph
// whose top row holds every coverage from 0 to 255. Pixels outside the band stay as they were.
TEST(BlendKernels, EveryKernelComposesABandAsFillingItAndBlendingEachSpan) {
  const std::vector<TBlendKernel> Kernels = SupportedBlendKernels();
  ASSERT_EQ(std::string(Kernels.front().Name), "scalar");
#ifdef PAGORIN_SSE2_BLEND
  ASSERT_GE(Kernels.size(), 2u);  // SSE2, and AVX-512 where the processor has it
  EXPECT_EQ(std::string(Kernels[1].Name), "SSE2");
#endif
  // What the glyph cache draws with is among those checked here.
  EXPECT_TRUE(std::any_of(Kernels.begin(), Kernels.end(),
                          [](const TBlendKernel& Kernel) { return Kernel.Band == FastestBlendKernel().Band; }));
  constexpr int CanvasWidth = 300;
  constexpr int CanvasHeight = 20;
  std::mt19937 Random(20261210);
  const auto Between = [&Random](int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(Random); };
  const auto Opaque = [&] { return 0xFF000000u | static_cast<quint32>(Between(0, 0xFFFFFF)); };
  for (int Round = 0; Round < 400; ++Round) {
    const int Left = Between(0, 30), Right = Between(Left + 1, CanvasWidth);
    const int Top = Between(0, 8), Bottom = Between(Top + 1, CanvasHeight);
    const int Kind = Between(0, 3);
    const int Clean = Kind == 0 ? Top : Kind == 1 ? Bottom : Between(Top, Bottom);
    std::vector<std::vector<uchar>> Masks;
    std::vector<TInkSpan> Spans;
    for (int X = Left + Between(-4, 6); X < Right;) {
      const bool EveryCoverage = Between(0, 19) == 0;
      const int GlyphWidth = EveryCoverage ? 256 : Between(1, 40), GlyphHeight = Between(1, 14);
      const int Stride = (GlyphWidth + 3) / 4 * 4;
      std::vector<uchar>& Mask = Masks.emplace_back(static_cast<std::size_t>(Stride * GlyphHeight), 0);
      for (int Y = 0; Y < GlyphHeight; ++Y)
        for (int Column = 0; Column < GlyphWidth; ++Column) {
          const int Ink = Between(0, 3);
          Mask[static_cast<std::size_t>(Y * Stride + Column)] = static_cast<uchar>(
              EveryCoverage && Y == 0 ? Column : Ink == 0 ? 0 : Ink == 1 ? 255 : Between(1, 254));
        }
      // Cut to the band's columns, as the glyph cache cuts a glyph to the clip.
      const int From = std::max(X, Left), To = std::min(X + GlyphWidth, Right);
      if (From < To)
        Spans.push_back({From, Between(Top - 4, Bottom), To - From, GlyphHeight,
                         std::min(Stride - (From - X), Right - From), Mask.data() + (From - X), Stride});
      X += Between(0, 3) == 0 ? -Between(1, 8) + GlyphWidth : GlyphWidth + Between(0, 12);
      if (Between(0, 9) == 0) X = std::max(Left, X - GlyphWidth);  // the next inside this one
    }
    const quint32 Source = Opaque(), Ground = Opaque();
    std::vector<quint32> Canvas(CanvasWidth * CanvasHeight);
    for (quint32& Pixel : Canvas) Pixel = Opaque();
    std::vector<quint32> Want = Canvas;
    for (int Y = Clean; Y < Bottom; ++Y)
      for (int X = Left; X < Right; ++X) Want[static_cast<std::size_t>(Y * CanvasWidth + X)] = Ground;
    for (const TInkSpan& Span : Spans)
      for (int Y = std::max(Span.Top, Top); Y < std::min(Span.Top + Span.Height, Bottom); ++Y)
        for (int X = 0; X < Span.Width; ++X) {
          quint32& Pixel = Want[static_cast<std::size_t>(Y * CanvasWidth + Span.Left + X)];
          Pixel = Blended(Pixel, Source, Span.Coverage[(Y - Span.Top) * Span.Stride + X]);
        }
    SCOPED_TRACE(testing::Message() << "round " << Round << ", band " << Left << ".." << Right << " x " << Top << ".."
                                    << Bottom << " from " << Clean << ", " << Spans.size() << " spans");
    for (const TBlendKernel& Kernel : Kernels) {
      std::vector<quint32> Got = Canvas;
      Kernel.Band(Got.data(), CanvasWidth, Left, Top, Clean, Right, Bottom, Spans.data(), static_cast<int>(Spans.size()), Source,
                  Ground);
      ASSERT_EQ(FirstDifference(Got, Want, CanvasWidth), "") << Kernel.Name << " kernel";
    }
  }
}
