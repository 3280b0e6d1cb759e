#pragma once

#include "ChapterScan.h"
#include "FileOffset.h"
#include "TextEncoding.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How chapter headings are told from the text: named rules, each a regular expression over a decoded
// line, and the choice of the rule that suits a book, made on a sample of it.

// One way of writing headings, as the table of contents offers it.
struct TChapterRule {
  std::string Name;     // as the list shows it
  std::string Pattern;  // PCRE2, matched per line; a heading whose group "volume" took part opens a volume
  bool Enabled = true;  // tried when a book's rule is chosen

  bool operator==(const TChapterRule&) const = default;
};

// The headings of Chinese novels, old and web, and English ones (PCRE2 syntax, matched per line): a
// line of at most 40 characters after its leading spaces that does not read as a sentence, with
// 第N章/回/话 (a title glued on or after a separator), 第N节/卷/集/部/篇/幕 (a separator or the line's
// end after them), 卷一, 上卷, 上部, the keywords of front and back matter (序章, 楔子, 尾声, 番外…),
// Chapter 12, CHAPTER TWO; a number in Arabic, full-width or Chinese digits (两, 〇, 壹贰叁…), spaces
// around it allowed; inside 【】, 〖〗, ==…==, after ☆、 and after 正文, 正文卷 or VIP卷. A line that
// reads as a sentence is none (a full stop anywhere, a comma at its end, 第二章，你先看看, 第三回来时).
// Volumes (第一卷, 卷一, 上卷, 上部) are the group "volume". The rules that follow it: BuiltInChapterRules.
extern const std::string DefaultChapterPattern;

// The rules a reader starts with: the default first (默认), then 数字编号 (1. 标题, 001 标题,
// 一、标题), English (Chapter, Part, Prologue…) and 仅“第N章” (not enabled: the reader picks it).
std::vector<TChapterRule> BuiltInChapterRules();

// The number of a heading: the first number that starts in its first 12 characters and ends before a
// unit (章, 回, 卷…), a separator, a bracket or the title's end, in Arabic or full-width digits or in
// Chinese (十二, 一百零三, 一〇三, 两百, 壹佰贰拾叁); none when it has none or one too large.
std::optional<std::uint32_t> HeadingNumber(std::string_view Title);

// The pattern among Patterns (the first one being the default) whose headings in a sample of FileName
// (SampleChapters) are the most plausible table of contents: headings close together are one place (a
// list's items, a table of contents at the start), and a book's are enough places for the sample's
// size, spread through it, numbered one after another within a piece (or from 1 again after a
// volume's heading). A later pattern must be plausible on its own and clearly more so than the one
// chosen before it, so the first is kept when none is. None when cancelled meanwhile; the first when
// the file cannot be read (the scan then says so). Throws as ScanChapters.
std::optional<std::size_t> ChooseChapterPattern(const std::string& FileName,
                                                const std::vector<const TSearchPattern*>& Patterns,
                                                const std::atomic<bool>& Cancel);
