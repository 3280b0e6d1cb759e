#include "ChapterRules.h"
#include "ChapterScan.h"
#include "LineLeads.h"
#include "ReadPage.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const auto Gb = TTextEncoding::Gb18030;
const auto U8 = TTextEncoding::Utf8;

// UTF-8 text in the bytes of one encoding.
std::string Encode(const std::string& Utf8, TTextEncoding Encoding) {
  iconv_t Cd = iconv_open(RulesOf(Encoding).IconvName, "UTF-8");
  if (Cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no converter");
  std::string In(Utf8), Out(In.size() * 4 + 8, '\0');
  char* InPos = In.data();
  char* OutPos = Out.data();
  std::size_t InLeft = In.size(), OutLeft = Out.size();
  const std::size_t Done = iconv(Cd, &InPos, &InLeft, &OutPos, &OutLeft);
  iconv_close(Cd);
  if (Done == static_cast<std::size_t>(-1)) throw std::runtime_error("cannot encode " + Utf8);
  Out.resize(Out.size() - OutLeft);
  return Out;
}

TSearchQuery Pattern(std::string Text) { return {std::move(Text), false, true}; }

struct TScanned {
  TScanOutcome Outcome;
  std::vector<TChapter> Chapters;
  int Batches = 0;
};

TScanned Scan(const std::string& File, const TSearchPattern& Pattern, std::size_t BlockBytes = SearchBlockBytes,
              std::size_t Cap = MaxChapters, const TSearchProgress& Progress = {},
              const std::atomic<bool>* Cancel = nullptr) {
  const std::atomic<bool> Never{false};
  TScanned Result;
  const auto Take = [&](std::vector<TChapter>&& Found) {
    ++Result.Batches;
    Result.Chapters.insert(Result.Chapters.end(), Found.begin(), Found.end());
  };
  Result.Outcome = ScanChapters(File, Pattern, Cancel ? *Cancel : Never, Take, Progress, Cap, BlockBytes);
  return Result;
}

struct HeadingCase {
  const char* Line;
  const char* Title;  // nullptr: no heading
};

void PrintTo(const HeadingCase& Row, std::ostream* Out) { *Out << Row.Line; }

class DefaultPatternRows : public ::testing::TestWithParam<HeadingCase> {};

// Each line alone in a file, between two ordinary lines, in GB18030 and UTF-8.
TEST_P(DefaultPatternRows, TakesHeadingsAndOnlyHeadings) {
  const HeadingCase& Row = GetParam();
  TempDir Dir;
  for (const TTextEncoding Encoding : {Gb, U8}) {
    SCOPED_TRACE(RulesOf(Encoding).MenuName);
    const std::string Before = Encode("　　正文。\r\n", Encoding);
    const std::string File = Dir.Write("novel.txt", Before + Encode(std::string(Row.Line) + "\r\n正文。\r\n", Encoding));
    const TSearchPattern Default(Pattern(DefaultChapterPattern), Encoding);
    const TScanned Result = Scan(File, Default);
    EXPECT_EQ(Result.Outcome, TScanOutcome::Done);
    if (!Row.Title) {
      EXPECT_TRUE(Result.Chapters.empty());
      continue;
    }
    ASSERT_EQ(Result.Chapters.size(), 1u);
    EXPECT_EQ(Result.Chapters[0].Offset, static_cast<TFileOffset>(Before.size()));
    EXPECT_EQ(Result.Chapters[0].Title, Row.Title);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DefaultPatternRows,
    ::testing::Values(
        HeadingCase{"第一章 风起", "第一章 风起"}, HeadingCase{"第１２章", "第１２章"},
        HeadingCase{"第一百二十三回 xxx", "第一百二十三回 xxx"}, HeadingCase{"　　第三卷　", "第三卷"},
        HeadingCase{"  第12章：归来  ", "第12章：归来"}, HeadingCase{"第两千零一章风起云涌", "第两千零一章风起云涌"},
        HeadingCase{"序章", "序章"}, HeadingCase{"楔子", "楔子"}, HeadingCase{"尾声", "尾声"},
        HeadingCase{"番外一 xxx", "番外一 xxx"}, HeadingCase{"后记：写在最后", "后记：写在最后"},
        HeadingCase{"Chapter 12", "Chapter 12"}, HeadingCase{"CHAPTER 3: Title", "CHAPTER 3: Title"},
        // Not headings: a mention, a paragraph, words that begin like one.
        HeadingCase{"他翻到第三章，看了很久。", nullptr},
        HeadingCase{"第一章里写着的那些事情，他后来一件一件都经历了，每一件都和书里说的一模一样，"
                    "仿佛那本书就是为他一个人写的，连结局也不例外，这让他很不安。",
                    nullptr},
        HeadingCase{"第三者插足", nullptr}, HeadingCase{"引子弹出…", nullptr}, HeadingCase{"后记得带伞", nullptr},
        HeadingCase{"第几章", nullptr}, HeadingCase{"Chapters of life", nullptr}, HeadingCase{"", nullptr}));

// A novel with headings on its first and last line, as each encoding stores it (in traditional
// characters, which every encoding holds); the same lines with blocks so small that block edges fall
// everywhere, and with a pattern of the same meaning whose leads the scan cannot read (so every line is
// decoded and matched, without the test of the leads).
TEST(ChapterScan, FindsHeadingsInEveryEncodingFromFirstToLastLine) {
  TempDir Dir;
  const std::vector<std::string> Lines = {"第一章 風起", "　　正文裡提到第二章。", "　　第二節 雲湧", "後記得帶傘。",
                                          "Chapter 3", "　　正文。", "尾聲"};
  for (const TEncodingRules& Rules : Encodings())
    for (const bool FinalLineFeed : {true, false}) {
      const TTextEncoding Encoding = Rules.Encoding;
      SCOPED_TRACE(std::string(Rules.MenuName) + (FinalLineFeed ? " final line feed" : ""));
      std::string Bytes(RulesOf(Encoding).ByteOrderMark);
      std::vector<TChapter> Expected;
      for (std::size_t I = 0; I < Lines.size(); ++I) {
        const bool Heading = I == 0 || I == 2 || I == 4 || I == 6;
        if (Heading) Expected.push_back({static_cast<TFileOffset>(Bytes.size()), Lines[I]});
        Bytes += Encode(Lines[I] + (I + 1 < Lines.size() || FinalLineFeed ? "\r\n" : ""), Encoding);
      }
      Expected[1].Title = "第二節 雲湧";
      const std::string File = Dir.Write("novel.txt", Bytes);
      for (const std::string& Text : {std::string(DefaultChapterPattern), "(?:" + std::string(DefaultChapterPattern) + ")|(*FAIL)"}) {
        const TSearchPattern Headings(Pattern(Text), Encoding);
        for (std::size_t Block = 40; Block <= 80; Block += 4) {
          SCOPED_TRACE("block bytes " + std::to_string(Block));
          const TScanned Result = Scan(File, Headings, Block);
          EXPECT_EQ(Result.Outcome, TScanOutcome::Done);
          ASSERT_EQ(Result.Chapters.size(), Expected.size());
          for (std::size_t I = 0; I < Expected.size(); ++I) {
            EXPECT_EQ(Result.Chapters[I].Offset, Expected[I].Offset);
            EXPECT_EQ(Result.Chapters[I].Title, Expected[I].Title);
          }
        }
      }
    }
}

// The scan passes over the lines that cannot begin as a pattern's matches do, as the pattern itself
// tells (LineLeadsOf): never over one it matches. Each row's line is a heading to its pattern, placed
// after a line of text, in GB18030 (read by the row's decoder) and UTF-8 (as it is).
TEST(ChapterScan, PassesOverNoLineThePatternTakes) {
  const struct {
    const char* Pattern;
    const char* Line;
  } Rows[] = {
      {"(?i)^k", "\u212A"},                   // the Kelvin sign folds with k
      {"^(?i:ｂ)", "Ｂ"},                       // full-width letters have cases
      {"^\\h*第", "\u2003第一章"},             // a space the scan does not pass over
      {"^\\s*第", "\v第一章"},
      {"^第", "序\r第一章"},                   // a carriage return inside a line starts another for ^
      {"^(?:x|)[　 ]*第", "　第一章"},
      {"^\\x{7B2C}{2}", "第第"},
      {"^(?<v>卷)|^[上下]部", "下部"},
      {"^第|章$", "他说第一章"},                // an alternative anywhere on the line
      {"^.{0,3}第", "前言第"},
      {"^[^正]", "b"},
      {"^\\Q第\\E", "第"},
  };
  TempDir Dir;
  for (const auto& Row : Rows)
    for (const TTextEncoding Encoding : {Gb, U8}) {
      SCOPED_TRACE(std::string(Row.Pattern) + " " + RulesOf(Encoding).MenuName);
      const std::string Before = Encode("正文。\n", Encoding);
      const std::string File = Dir.Write("novel.txt", Before + Encode(std::string(Row.Line) + "\n", Encoding));
      const TScanned Result = Scan(File, TSearchPattern({Row.Pattern, true, true}, Encoding));
      ASSERT_EQ(Result.Chapters.size(), 1u);
      EXPECT_EQ(Result.Chapters[0].Offset, static_cast<TFileOffset>(Before.size()));
    }
  // Each built-in rule tells its leads: a book's other lines are never decoded.
  for (const TChapterRule& Rule : BuiltInChapterRules()) EXPECT_TRUE(LineLeadsOf(Rule.Pattern, false)) << Rule.Name;
}

TEST(ChapterScan, CutsLongTitlesAndTakesCustomPatterns) {
  TempDir Dir;
  const std::string Long(50, 'x');
  const std::string File = Dir.Write("log.txt", "start\nVolume " + Long + " \nvolume 2\n");
  const TScanned Result = Scan(File, TSearchPattern(Pattern("^Volume"), U8));
  ASSERT_EQ(Result.Chapters.size(), 2u);
  EXPECT_EQ(Result.Chapters[0].Offset, 6);
  EXPECT_EQ(Result.Chapters[0].Title, "Volume " + Long.substr(0, 33));
  EXPECT_EQ(Result.Chapters[1].Title, "volume 2");
}

TEST(ChapterScan, AFileWithoutHeadingsIsDoneWithNone) {
  TempDir Dir;
  std::string Log;
  for (int I = 0; I < 2000; ++I) Log += "2024-01-01 12:00:00 INFO request " + std::to_string(I) + " served\n";
  const std::string File = Dir.Write("server.log", Log);
  std::vector<int> Shares;
  const TScanned Result = Scan(File, TSearchPattern(Pattern(DefaultChapterPattern), Gb), 4096, MaxChapters,
                               [&](int Permille, bool) { Shares.push_back(Permille); });
  EXPECT_EQ(Result.Outcome, TScanOutcome::Done);
  EXPECT_TRUE(Result.Chapters.empty());
  EXPECT_EQ(Result.Batches, 0);
  ASSERT_FALSE(Shares.empty());
  EXPECT_EQ(Shares.back(), 1000);
  EXPECT_TRUE(std::is_sorted(Shares.begin(), Shares.end()) &&
              std::adjacent_find(Shares.begin(), Shares.end()) == Shares.end());
}

TEST(ChapterScan, StopsWhenTooManyCancelledOrTheFileChanges) {
  TempDir Dir;
  std::string Text;
  for (int I = 1; I <= 50; ++I) Text += "第" + std::to_string(I) + "章\n　　正文。\n";
  const std::string File = Dir.Write("novel.txt", Text);
  const TSearchPattern Default(Pattern(DefaultChapterPattern), U8);

  TScanned Result = Scan(File, Default, 64, 50);
  EXPECT_EQ(Result.Outcome, TScanOutcome::Done);
  EXPECT_EQ(Result.Chapters.size(), 50u);
  Result = Scan(File, Default, 64, 49);
  EXPECT_EQ(Result.Outcome, TScanOutcome::TooMany);
  ASSERT_EQ(Result.Chapters.size(), 49u);
  EXPECT_EQ(Result.Chapters.back().Title, "第49章");

  std::atomic<bool> Cancel{true};
  Result = Scan(File, Default, 64, MaxChapters, {}, &Cancel);
  EXPECT_EQ(Result.Outcome, TScanOutcome::Cancelled);
  EXPECT_TRUE(Result.Chapters.empty());
  Cancel = false;
  Result = Scan(File, Default, 64, MaxChapters, [&](int, bool) { Cancel = true; }, &Cancel);
  EXPECT_EQ(Result.Outcome, TScanOutcome::Cancelled);
  EXPECT_LT(Result.Chapters.size(), 50u);

  EXPECT_THROW(Scan(Dir.Path("missing.txt"), Default), EFileUnreadable);
  Result = Scan(File, Default, 64, MaxChapters, [&](int, bool) { Dir.Write("novel.txt", "第1章\n"); });
  EXPECT_EQ(Result.Outcome, TScanOutcome::FileChanged);
  // Growth is no change: the headings are those of the part there at the start.
  Dir.Write("novel.txt", Text);
  Result = Scan(File, Default, 64, MaxChapters, [&](int, bool) { std::ofstream(File, std::ios::app) << "第99章\n"; });
  EXPECT_EQ(Result.Outcome, TScanOutcome::Done);
  EXPECT_EQ(Result.Chapters.size(), 50u);
}

}  // namespace
