#pragma once

#include "FileOffset.h"
#include "TextSearch.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// The chapter headings of a file: every line that a regular expression matches, found by one pass
// over the file in blocks, a matcher of lines over the same streaming scan (TFileScan) as FindText's.

struct TChapter {
  TFileOffset Offset = 0;  // where the heading's line starts (the byte after the line feed before it)
  std::string Title;       // the line, UTF-8, without leading and trailing spaces (ASCII or full-width) and
                           // line end; at most MaxChapterTitle characters
  std::uint8_t Level = 1;  // 0: it opens a volume (the pattern's group "volume" took part), 1: a chapter
};

// The most characters of a heading's line its title keeps.
constexpr std::size_t MaxChapterTitle = 40;

// The most headings a scan lists: a pattern that matches nearly every line stops there.
constexpr std::size_t MaxChapters = 1000000;

enum class TScanOutcome { Done, Cancelled, FileChanged, TooMany };

// Finds every line of FileName that Pattern (Regex = true, made for the file's encoding) matches
// somewhere, from the start to the end, in file order; a file's byte-order mark is no text. Hands them
// over in batches to OnChapters (on the scanning thread, after each block that found some). Progress,
// when given, gets the share scanned (0..1000, the Wrapped flag always false) whenever it grows.
// Cancel is checked at every line: Cancelled. FileChanged as FindText gives it. A line longer than a
// block is matched on its first block only, where $ finds no line end. With Cap headings handed
// over and one more found, the scan stops: TooMany. Throws EFileUnreadable (ReadPage.h) when
// the file cannot be opened, ESearchQuery when the pattern needs more backtracking on a line than
// PCRE2 allows, std::invalid_argument for a pattern that is no regular expression.
TScanOutcome ScanChapters(const std::string& FileName, const TSearchPattern& Pattern, const std::atomic<bool>& Cancel,
                          const std::function<void(std::vector<TChapter>&& Found)>& OnChapters,
                          const TSearchProgress& Progress = {}, std::size_t Cap = MaxChapters,
                          std::size_t BlockBytes = SearchBlockBytes);

// The headings of a sample of FileName, for choosing a pattern before the whole scan: the whole file
// when it holds no more than SampleBytes, else its first SampleBytes / 2 and eight pieces of equal size
// spread evenly through the rest, each cut to whole lines (a piece within one line finds nothing).
struct TChapterSample {
  TScanOutcome Outcome = TScanOutcome::Done;  // Cancelled or FileChanged: Found is not complete
  std::vector<std::pair<TFileOffset, TFileOffset>> Pieces;  // [From, To) of each piece read, in file order
  std::vector<std::vector<TChapter>> Found;                 // what Patterns[i] matches there, in file order
};

constexpr std::size_t ChapterSampleBytes = 512 * 1024;

// Throws as ScanChapters.
TChapterSample SampleChapters(const std::string& FileName, const std::vector<const TSearchPattern*>& Patterns,
                              const std::atomic<bool>& Cancel, std::size_t SampleBytes = ChapterSampleBytes);
