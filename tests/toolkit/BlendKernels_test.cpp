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

// The ways the glyph cache hands a glyph's mask to a kernel: the whole padded rows, or the part the
// clip leaves, cut on the left (the mask read from inside its rows), on the right, or at the top.
enum class TCut { Whole, Left, Right, Top };
const char* const CutNames[] = {"whole", "on the left", "on the right", "at the top"};

} // namespace

// Every kernel this processor runs gives, pixel for pixel, what the scalar kernel gives, and the scalar
// kernel gives the blend written out. Blocks of many widths (below, at and past the four- and
// eight-pixel steps), cut as the clip cuts them, into a canvas wider than the block: the whole canvas
// is compared, so a pixel written outside the block counts as much as a wrong one inside.
TEST(BlendKernels, EveryKernelHereBlendsAsTheScalarOne) {
  const std::vector<TBlendKernel> Kernels = SupportedBlendKernels();
  ASSERT_FALSE(Kernels.empty());
  ASSERT_EQ(Kernels.front().Block, &BlendBlockScalar);
#ifdef PAGORIN_X86_BLEND
  ASSERT_GE(Kernels.size(), 2u);
#endif
  // What the glyph cache blends with is among those checked here.
  const auto Fastest = std::find_if(Kernels.begin(), Kernels.end(),
                                    [](const TBlendKernel& Kernel) { return Kernel.Block == FastestBlendKernel().Block; });
  EXPECT_NE(Fastest, Kernels.end());
  std::string Names;
  for (const TBlendKernel& Kernel : Kernels) Names += std::string(Names.empty() ? "" : " ") + Kernel.Name;
  RecordProperty("kernels", Names);

  constexpr int CanvasWidth = 300;
  constexpr int CanvasHeight = 12;
  std::mt19937 Random(20240518);
  const auto Between = [&Random](int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(Random); };
  const auto Opaque = [&] { return 0xFF000000u | static_cast<quint32>(Between(0, 0xFFFFFF)); };

  const int GlyphWidths[] = {1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 15, 16, 17, 23, 24, 25, 31, 32, 33, 63, 64, 65, 100, 256};
  for (int Round = 0; Round < 6; ++Round) {
    for (const int GlyphWidth : GlyphWidths) {
      for (const TCut Cut : {TCut::Whole, TCut::Left, TCut::Right, TCut::Top}) {
        // The mask as the glyph cache keeps it: rows padded with zero coverage to whole chunks of
        // eight, coverage in runs of 0, of 255 and of anything between; the widest row is every
        // coverage from 0 to 255 in turn.
        const int GlyphHeight = Between(1, CanvasHeight - 2);
        const int MaskStride = (GlyphWidth + 7) / 8 * 8;
        std::vector<uchar> Mask(static_cast<std::size_t>(MaskStride * GlyphHeight), 0);
        for (int Y = 0; Y < GlyphHeight; ++Y) {
          for (int X = 0; X < GlyphWidth;) {
            const int Run = Between(1, 12);
            const int Kind = Between(0, 2);
            for (int End = std::min(GlyphWidth, X + Run); X < End; ++X)
              Mask[static_cast<std::size_t>(Y * MaskStride + X)] =
                  static_cast<uchar>(GlyphWidth == 256 && Y == 0 ? X : Kind == 0 ? 0 : Kind == 1 ? 255 : Between(0, 255));
          }
        }
        int Left = 0;
        int Top = 0;
        int Width = MaskStride;
        int Height = GlyphHeight;
        switch (Cut) {
        case TCut::Whole: break;
        case TCut::Left:
          Left = Between(0, GlyphWidth - 1);
          Width = GlyphWidth - Left;
          break;
        case TCut::Right: Width = Between(0, GlyphWidth); break;
        case TCut::Top:
          Top = Between(0, GlyphHeight - 1);
          Height = GlyphHeight - Top;
          Width = GlyphWidth;
          break;
        }
        const int DestX = Between(0, CanvasWidth - Width);
        const int DestY = Between(0, CanvasHeight - Height);
        const quint32 Source = Opaque();
        std::vector<quint32> Canvas(CanvasWidth * CanvasHeight);
        for (quint32& Pixel : Canvas) Pixel = Opaque();
        const uchar* Coverage = Mask.data() + Top * MaskStride + Left;
        const auto Blend = [&](TBlendBlock Block) {
          std::vector<quint32> Result = Canvas;
          Block(Result.data() + DestY * CanvasWidth + DestX, CanvasWidth, Source, Coverage, MaskStride, Width, Height);
          return Result;
        };
        SCOPED_TRACE(testing::Message() << "round " << Round << ", glyph " << GlyphWidth << " x " << GlyphHeight
                                        << ", cut " << CutNames[static_cast<int>(Cut)] << ", block " << Width << " x " << Height
                                        << " from (" << Left << ", " << Top << ") at (" << DestX << ", " << DestY
                                        << "), colour " << std::hex << Source);

        std::vector<quint32> Written = Canvas;
        for (int Y = 0; Y < Height; ++Y)
          for (int X = 0; X < Width; ++X) {
            quint32& Pixel = Written[static_cast<std::size_t>((DestY + Y) * CanvasWidth + DestX + X)];
            Pixel = Blended(Pixel, Source, Coverage[Y * MaskStride + X]);
          }
        const std::vector<quint32> Scalar = Blend(BlendBlockScalar);
        ASSERT_EQ(FirstDifference(Scalar, Written, CanvasWidth), "") << "scalar kernel";
        for (const TBlendKernel& Kernel : Kernels)
          ASSERT_EQ(FirstDifference(Blend(Kernel.Block), Scalar, CanvasWidth), "") << Kernel.Name << " kernel";
      }
    }
  }
}

// A band composed in one pass, by every kernel here, is the band filled with the ground below its held
// rows and each span blended into it in turn: spans with gaps between them, cut on the left (their coverage read from
// inside the mask's rows), reaching back over the one before by a column or many, or lying inside it,
// with rows above, inside and below the band. Pixels outside the band stay as they were.
TEST(BlendKernels, EveryKernelComposesABandAsFillingItAndBlendingEachSpan) {
  constexpr int CanvasWidth = 200;
  constexpr int CanvasHeight = 20;
  std::mt19937 Random(20261210);
  const auto Between = [&Random](int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(Random); };
  const auto Opaque = [&] { return 0xFF000000u | static_cast<quint32>(Between(0, 0xFFFFFF)); };
  for (int Round = 0; Round < 300; ++Round) {
    const int Left = Between(0, 30), Right = Between(Left + 1, CanvasWidth);
    const int Top = Between(0, 8), Bottom = Between(Top + 1, CanvasHeight);
    const int Clean = Between(0, 3) == 0 ? Top : Between(Top, Bottom);
    std::vector<std::vector<uchar>> Masks;
    std::vector<TInkSpan> Spans;
    for (int X = Left + Between(-4, 6); X < Right;) {
      const int GlyphWidth = Between(1, 40), GlyphHeight = Between(1, 14);
      const int Stride = (GlyphWidth + 7) / 8 * 8;
      std::vector<uchar>& Mask = Masks.emplace_back(static_cast<std::size_t>(Stride * GlyphHeight), 0);
      for (int Y = 0; Y < GlyphHeight; ++Y)
        for (int Column = 0; Column < GlyphWidth; ++Column) {
          const int Kind = Between(0, 3);
          Mask[static_cast<std::size_t>(Y * Stride + Column)] = static_cast<uchar>(Kind == 0 ? 0 : Kind == 1 ? 255 : Between(1, 254));
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
    for (const TBlendKernel& Kernel : SupportedBlendKernels()) {
      std::vector<quint32> Got = Canvas;
      Kernel.Band(Got.data(), CanvasWidth, Left, Top, Clean, Right, Bottom, Spans.data(), static_cast<int>(Spans.size()), Source,
                  Ground);
      ASSERT_EQ(FirstDifference(Got, Want, CanvasWidth), "") << Kernel.Name << " kernel";
    }
  }
}
