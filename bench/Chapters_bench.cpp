// pagorin_bench_chapters: the table of contents as the window fills it: TChapterIndex over a whole
// file, its calls run on this thread as the window's event loop would run them.
//
//   pagorin_bench_chapters [--encoding NAME] [--rules | --pattern P] FILE
//
// With the default pattern alone (or P), or with the rules (the choice on a sample first). Prints one
// Markdown row: headings, the milliseconds to the rule chosen and to the first headings, the seconds
// to the whole list, then the memory the list keeps: the heap in use (glibc's mallinfo2) and resident
// memory (VmRSS) after the list is complete, less the same before the scan, and the peak of resident
// memory (VmHWM) over the same before the scan.

#if __has_include("ChapterRules.h")
#include "ChapterRules.h"
#endif
#include "ChapterScan.h"
#include "TChapterIndex.h"

#include <malloc.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double MiB = 1024.0 * 1024.0;

// Resident memory now and at its peak, in MiB.
double StatusMiB(std::string_view Field) {
  std::ifstream Status("/proc/self/status");
  for (std::string Line; std::getline(Status, Line);)
    if (Line.rfind(Field, 0) == 0) return static_cast<double>(std::atol(Line.c_str() + Field.size())) / 1024.0;
  return 0;
}
double HeapMiB() { return static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd) / MiB; }

// The GUI thread's queue of calls.
struct TLoop {
  std::mutex Guard;
  std::condition_variable Arrived;
  std::deque<std::function<void()>> Calls;
  void Post(std::function<void()> Call) {
    {
      const std::lock_guard<std::mutex> Lock(Guard);
      Calls.push_back(std::move(Call));
    }
    Arrived.notify_one();
  }
  void RunOne() {
    std::function<void()> Call;
    {
      std::unique_lock<std::mutex> Lock(Guard);
      Arrived.wait(Lock, [&] { return !Calls.empty(); });
      Call = std::move(Calls.front());
      Calls.pop_front();
    }
    Call();
  }
};

}  // namespace

int main(int Argc, char** Argv) {
  TTextEncoding Encoding = TTextEncoding::Gb18030;
  std::vector<std::string> Patterns = {std::string(DefaultChapterPattern)};
  bool Rules = false;
  std::string File;
  for (int I = 1; I < Argc; ++I) {
    const std::string_view Arg = Argv[I];
    if (Arg == "--encoding" && I + 1 < Argc) {
      for (const TEncodingRules& Known : Encodings())
        if (std::string_view(Argv[I + 1]) == Known.MenuName) Encoding = Known.Encoding;
      ++I;
    } else if (Arg == "--pattern" && I + 1 < Argc) {
      Patterns = {Argv[++I]};
    } else if (Arg == "--rules") {
      Rules = true;
    } else {
      File = Arg;
    }
  }
  if (File.empty()) {
    std::fprintf(stderr, "usage: pagorin_bench_chapters [--encoding NAME] [--rules | --pattern P] FILE\n");
    return 1;
  }
  using TClock = std::chrono::steady_clock;
  TLoop Loop;
  TChapterIndex Chapters([&](std::function<void()> Call) { Loop.Post(std::move(Call)); });
  const double Heap = HeapMiB(), Resident = StatusMiB("VmRSS:"), Peak = StatusMiB("VmHWM:");
  const auto Start = TClock::now();
  double ChosenMs = -1, FirstMs = -1;
  Chapters.OnChange = [&] {
    const double Ms = std::chrono::duration<double, std::milli>(TClock::now() - Start).count();
#if __has_include("ChapterRules.h")
    if (ChosenMs < 0 && Chapters.Chosen()) ChosenMs = Ms;
#endif
    if (FirstMs < 0 && Chapters.Count() > 0) FirstMs = Ms;
  };
#if __has_include("ChapterRules.h")
  if (Rules) {
    Patterns.clear();
    for (const TChapterRule& Rule : BuiltInChapterRules())
      if (Rule.Enabled) Patterns.push_back(Rule.Pattern);
  }
  Chapters.Scan(File, Encoding, Patterns);
#else
  if (Rules) std::fprintf(stderr, "no rules in this build: the default pattern alone\n");
  Chapters.Scan(File, Encoding, Patterns.front());
#endif
  while (Chapters.State() == TChapterIndex::TState::Scanning) Loop.RunOne();
  const double Seconds = std::chrono::duration<double>(TClock::now() - Start).count();
  std::printf("| %zu | %.1f | %.1f | %.3f | %.1f | %.1f | %.1f |\n", Chapters.Count(), ChosenMs, FirstMs, Seconds,
              HeapMiB() - Heap, StatusMiB("VmRSS:") - Resident, StatusMiB("VmHWM:") - Peak);
  return Chapters.State() == TChapterIndex::TState::Done ? 0 : 1;
}
