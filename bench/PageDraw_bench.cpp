// Drawing one full page of the text area offscreen, beside the floor: writing the same window image
// with memset. The page is what a maximized window at 1920 x 1080 shows (the text area's font,
// height -14): novel text, and a text of several thousand distinct characters. Each case reports
// the page's time, the floor's, each iteration timing both, and x_memset, the one over the other.
// Also the cost of a glyph seen for the first time.

#include "NovelText.h"
#include "TApplication.h"
#include "TFont.h"
#include "TGlyphCache.h"
#include "TMemo.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QImage>

#include <chrono>
#include <cstring>
#include <string>

namespace {

constexpr int Width = 1904;   // the text area of the maximized main window
constexpr int Height = 1000;

// Novel text in GBK, or every hanzi of GB2312 in turn, wrapped in full lines: a page of some 9,000
// characters, nearly all of them distinct.
std::string PageBytes(bool Distinct) {
  std::string Bytes;
  if (!Distinct) {
    Bytes.resize(64 * 1024);
    TNovelText(7).Fill(Bytes.data(), Bytes.size());
    return Bytes;
  }
  for (int Lead = 0xB0; Lead <= 0xF7; ++Lead)
    for (int Trail = 0xA1; Trail <= 0xFE; ++Trail) {
      Bytes += static_cast<char>(Lead);
      Bytes += static_cast<char>(Trail);
    }
  return Bytes;
}

void DrawPage(benchmark::State& State, bool Distinct) {
  TMemo Memo;
  TFont Font;
  Font.Name = "宋体";
  Font.Height = -14;
  Memo.SetFont(Font);
  Memo.resize(Width + 2 * Memo.frameWidth(), Height + 2 * Memo.frameWidth());
  Memo.show();  // lays the viewport out at its size
  QCoreApplication::processEvents();
  Memo.SetText(PageBytes(Distinct));
  QImage Image(Memo.viewport()->size(), QImage::Format_RGB32);
  Memo.viewport()->render(&Image);  // lays out and rasterizes every glyph once
  State.counters["pixels"] = Image.width() * Image.height();
  // The floor is timed in every iteration too, just before the page, so that both find the image in
  // the same place (a window image of 7.6 MB may sit in a large last-level cache or not).
  double Page = 0;
  double Floor = 0;
  int Fill = 0;
  for (auto _ : State) {
    const auto Start = std::chrono::steady_clock::now();
    std::memset(Image.bits(), ++Fill & 0xFF, static_cast<std::size_t>(Image.sizeInBytes()));
    benchmark::ClobberMemory();
    const auto Between = std::chrono::steady_clock::now();
    Memo.viewport()->render(&Image);
    const auto End = std::chrono::steady_clock::now();
    Floor += std::chrono::duration<double>(Between - Start).count();
    Page += std::chrono::duration<double>(End - Between).count();
  }
  const auto Iterations = static_cast<double>(State.iterations());
  State.counters["page_us"] = Page / Iterations * 1e6;
  State.counters["memset_us"] = Floor / Iterations * 1e6;
  State.counters["x_memset"] = Page / Floor;
}

// Glyphs met for the first time, as on a page of characters not seen yet: 300 common hanzi looked up
// and rasterized in a font of a size not used before (so that Qt's font engine has not seen them
// either). Reports the time per glyph.
void FirstSight(benchmark::State& State) {
  const QString Hanzi = TGlyphCache::CommonCharacters().right(3000);
  constexpr int Glyphs = 300;
  qreal Points = 10.5;
  int Round = 0;
  for (auto _ : State) {
    QFont Font(QStringLiteral("宋体"));
    Points += 0.001;  // a new size each time: a new font engine
    Font.setPointSizeF(Points);
    TGlyphCache Cache(Font);
    for (int I = 0; I < Glyphs; ++I) Cache.Prepare(Hanzi[(Round * Glyphs + I) % Hanzi.size()].unicode());
    ++Round;
  }
  State.SetItemsProcessed(State.iterations() * Glyphs);
}

}  // namespace

BENCHMARK(FirstSight)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DrawPage, novel, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DrawPage, distinct_characters, true)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication App(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
