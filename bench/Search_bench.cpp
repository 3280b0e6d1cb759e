// pagorin_bench_search: how long FindText takes over a whole file.
//
//   pagorin_bench_search [--regex] [--match-case] [--every | --chapters] [--encoding NAME] [--block BYTES] [--runs N] FILE QUERY
//
// QUERY is UTF-8, searched in the file's encoding (GB18030 unless --encoding says UTF-8, UTF-16LE or
// UTF-16BE). By default one FindText from the start, forward: for a query that is not in the file,
// one pass over all of it. With --every, FindText again and again from just past each hit until the
// search wraps, the way a reader holding F3 walks through every hit, counting them. Prints one
// Markdown row: what, hits, the median of N runs (default 5) in seconds, and the throughput. --block
// sets the most a search reads at once (default SearchBlockBytes). With --chapters, one ScanChapters
// over the whole file instead, QUERY its pattern ("default": DefaultChapterPattern), counting headings.

#include "ChapterRules.h"
#include "ChapterScan.h"
#include "ReadPage.h"
#include "TextSearch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct TOptions {
  TSearchQuery Query;
  TTextEncoding Encoding = TTextEncoding::Gb18030;
  bool Every = false;
  bool Chapters = false;
  int Runs = 5;
  std::size_t BlockBytes = SearchBlockBytes;
  std::string File;
};

TOptions ParseOptions(int Argc, char** Argv) {
  TOptions Options;
  std::vector<std::string> Plain;
  for (int I = 1; I < Argc; ++I) {
    const std::string_view Arg = Argv[I];
    if (Arg == "--regex") Options.Query.Regex = true;
    else if (Arg == "--match-case") Options.Query.MatchCase = true;
    else if (Arg == "--every") Options.Every = true;
    else if (Arg == "--chapters") Options.Chapters = true;
    else if (Arg == "--block" && I + 1 < Argc) Options.BlockBytes = std::strtoull(Argv[++I], nullptr, 10);
    else if (Arg == "--runs" && I + 1 < Argc) Options.Runs = std::max(1, std::atoi(Argv[++I]));
    else if (Arg == "--encoding" && I + 1 < Argc) {
      const std::string_view Name = Argv[++I];
      bool Known = false;
      for (const TEncodingRules& Rules : Encodings())
        if (Name == Rules.MenuName) {
          Options.Encoding = Rules.Encoding;
          Known = true;
        }
      if (!Known) throw std::runtime_error("unknown encoding " + std::string(Name));
    } else
      Plain.emplace_back(Arg);
  }
  if (Plain.size() != 2)
    throw std::runtime_error(
        "usage: pagorin_bench_search [--regex] [--match-case] [--every] [--encoding NAME] [--block BYTES] [--runs N] "
        "FILE QUERY");
  Options.File = Plain[0];
  Options.Query.Text = Plain[1];
  if (Options.Chapters) {
    Options.Query.Regex = true;
    if (Options.Query.Text == "default") Options.Query.Text = DefaultChapterPattern;
  }
  return Options;
}

// One run: the hits it met.
long Run(const TOptions& Options, const TSearchPattern& Pattern) {
  const std::atomic<bool> Cancel{false};
  long Hits = 0;
  if (Options.Chapters) {
    const auto Count = [&](std::vector<TChapter>&& Found) { Hits += static_cast<long>(Found.size()); };
    if (ScanChapters(Options.File, Pattern, Cancel, Count, {}, MaxChapters, Options.BlockBytes) != TScanOutcome::Done)
      throw std::runtime_error("the scan did not finish");
    return Hits;
  }
  TFileOffset From = 0;
  for (;;) {
    const TSearchResult Result = FindText(Options.File, Pattern, From, false, Cancel, {}, Options.BlockBytes);
    if (Result.Outcome == TSearchOutcome::FileChanged || Result.Outcome == TSearchOutcome::Cancelled)
      throw std::runtime_error("the search did not finish");
    if (Result.Outcome != TSearchOutcome::Found || Result.Wrapped) break;
    ++Hits;
    if (!Options.Every) break;
    From = Result.Hit.Start + Result.Hit.Length;
  }
  return Hits;
}

}  // namespace

int main(int Argc, char** Argv) {
  try {
    const TOptions Options = ParseOptions(Argc, Argv);
    const TSearchPattern Pattern(Options.Query, Options.Encoding);
    const TFileOffset Size = MeasureFileSize(Options.File);
    std::vector<double> Seconds;
    long Hits = 0;
    for (int I = 0; I < Options.Runs; ++I) {
      const auto Start = std::chrono::steady_clock::now();
      Hits = Run(Options, Pattern);
      Seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count());
    }
    std::sort(Seconds.begin(), Seconds.end());
    const double Median = Seconds[Seconds.size() / 2];
    std::string What = Options.Query.Regex ? "regex" : "plain";
    if (!Options.Query.MatchCase) What += ", either case";
    if (Options.Every) What += ", every hit";
    if (Options.Chapters) What = Options.Query.Text == DefaultChapterPattern ? "chapters, default pattern" : "chapters";
    const std::string Shown = Options.Query.Text == DefaultChapterPattern ? "default" : Options.Query.Text;
    std::printf("| pagorin %s `%s` | %ld | %.3f | %.2f GB/s |\n", What.c_str(), Shown.c_str(), Hits,
                Median, static_cast<double>(Size) / Median / 1e9);
    return 0;
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "pagorin_bench_search: %s\n", Error.what());
    return 1;
  }
}
