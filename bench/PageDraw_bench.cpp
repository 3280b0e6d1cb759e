// Drawing one full page of the text area offscreen, beside the floor: writing the same window image
// with memset. The page is what a maximized window at 1920 x 1080 shows (the text area's font,
// height -14): novel text, and a text of several thousand distinct characters. Each case reports
// its time and, as the counter x_memset, that time over the floor's, measured in the same run.

#include "NovelText.h"
#include "TApplication.h"
#include "TFont.h"
#include "TMemo.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int Width = 1904;   // the text area of the maximized main window
constexpr int Height = 1000;

// The median of a few timed memsets of an image this size: the floor.
double MemsetSeconds(QImage& Image) {
  std::vector<double> Times;
  for (int Run = 0; Run < 51; ++Run) {
    const auto Start = std::chrono::steady_clock::now();
    std::memset(Image.bits(), Run & 0xFF, static_cast<std::size_t>(Image.sizeInBytes()));
    benchmark::DoNotOptimize(Image.bits());
    benchmark::ClobberMemory();
    Times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count());
  }
  std::nth_element(Times.begin(), Times.begin() + 25, Times.end());
  return Times[25];
}

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
  const double Floor = MemsetSeconds(Image);
  double Seconds = 0;
  for (auto _ : State) {
    const auto Start = std::chrono::steady_clock::now();
    Memo.viewport()->render(&Image);
    Seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  }
  State.counters["x_memset"] = Seconds / static_cast<double>(State.iterations()) / Floor;
  State.counters["memset_us"] = Floor * 1e6;
}

}  // namespace

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
