#pragma once

#include "FileOffset.h"
#include "TextSearch.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The chapter headings of a file: every line that a regular expression matches, found by one pass
// over the file in blocks, the same streaming scan (reading, decoding, matching) as FindText's.

struct TChapter {
  TFileOffset Offset = 0;  // where the heading's line starts (the byte after the line feed before it)
  std::string Title;       // the line, UTF-8, without leading and trailing spaces (ASCII or full-width) and
                           // line end; at most MaxChapterTitle characters
};

// The most characters of a heading's line its title keeps.
constexpr std::size_t MaxChapterTitle = 40;

// The headings of Chinese novels, old and web, and "Chapter 12" (PCRE2 syntax, matched per line): at
// the line's start after spaces (ASCII or full-width), a heading of at most 30 characters in all:
// 第 + a number (零一二三四五六七八九十百千万两〇, 0-9 or ０-９) + 章/回/节/卷/集/部/篇 with or without
// a title; 序章, 序言, 楔子, 引子, 尾声, 后记, 番外 (番外篇, 番外一), alone or a space or punctuation
// before a title; "Chapter 12" in any case. A sentence that mentions 第三章 is no heading, nor is a
// word that begins with one of them (第三者, 引子弹出, 后记得). The traditional forms (萬, 兩, 節, 尾聲,
// 後記) as well, for novels in Big5.
extern const char* const DefaultChapterPattern;

enum class TScanOutcome { Done, Cancelled, FileChanged, TooMany };

// Finds every line of FileName that Pattern (Regex = true, made for the file's encoding) matches
// somewhere, from the start to the end, in file order; a file's byte-order mark is no text. Hands them
// over in batches to OnChapters (on the scanning thread, after each block that found some). Progress,
// when given, gets the share scanned (0..1000, the Wrapped flag always false) whenever it grows.
// Cancel is checked at every line: Cancelled. FileChanged as FindText gives it. A line longer than a
// block is matched on its first block only, where $ finds no line end. With MaxChapters headings
// handed over and one more found, the scan stops: TooMany. Throws ESearchQuery when the pattern needs more backtracking on a
// line than PCRE2 allows, std::invalid_argument for a pattern that is no regular expression.
TScanOutcome ScanChapters(const std::string& FileName, const TSearchPattern& Pattern, const std::atomic<bool>& Cancel,
                          const std::function<void(std::vector<TChapter>&& Found)>& OnChapters,
                          const TSearchProgress& Progress = {}, std::size_t MaxChapters = 200000,
                          std::size_t BlockBytes = SearchBlockBytes);
