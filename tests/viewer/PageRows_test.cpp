#include "LaidOutPage.h"
#include "PageRows.h"
#include "TempDir.h"
#include "TextEncoding.h"

#include <gtest/gtest.h>

namespace {

// The code points of UTF-8 text.
std::u32string CodePoints(std::string_view Utf8) {
  std::u32string Codes;
  for (std::size_t At = 0; At < Utf8.size();) {
    const auto Byte = static_cast<unsigned char>(Utf8[At]);
    const int Length = Byte < 0x80 ? 1 : Byte < 0xE0 ? 2 : Byte < 0xF0 ? 3 : 4;
    char32_t Code = Length == 1 ? Byte : Byte & (0x3F >> (Length - 1));
    for (int I = 1; I < Length; ++I) Code = Code << 6 | (static_cast<unsigned char>(Utf8[At + I]) & 0x3F);
    Codes.push_back(Code);
    At += Length;
  }
  return Codes;
}

// A Chinese character 10 pixels wide, anything else 5.
int Advance(char32_t Code) { return Code < 0x80 ? 5 : 10; }

TRowGeometry Column(int Width) {
  TRowGeometry Geometry;
  Geometry.Pitch = Geometry.RowAdvance = 10;
  Geometry.Width = Width;
  Geometry.Height = 1000;
  return Geometry;
}

// The rows of Text as the breaker makes them, '|' between rows.
std::string Rows(std::string_view Text, int Width, bool BreakRules) {
  const std::u32string Codes = CodePoints(Text);
  TRowBreaker Breaker(Column(Width), BreakRules);
  for (const char32_t Code : Codes) Breaker.Add(Code, Advance(Code));
  Breaker.Finish();
  std::string Shown;
  // Back to UTF-8 by cutting Text at the characters' places.
  std::vector<std::size_t> Places{0};
  for (std::size_t At = 0; At < Text.size();) {
    const auto Byte = static_cast<unsigned char>(Text[At]);
    At += Byte < 0x80 ? 1 : Byte < 0xE0 ? 2 : Byte < 0xF0 ? 3 : 4;
    Places.push_back(At);
  }
  for (const TRow& Row : Breaker.Rows()) {
    if (!Shown.empty() || &Row != &Breaker.Rows().front()) Shown += '|';
    Shown += Text.substr(Places[Row.Start], Places[Row.End] - Places[Row.Start]);
  }
  return Shown;
}

struct BreakCase {
  const char* Text;
  int Width;
  const char* Plain;  // without the rules
  const char* Ruled;  // with 避头尾
};

class RowBreaking : public ::testing::TestWithParam<BreakCase> {};

TEST_P(RowBreaking, KeepsClosingMarksOffARowStartAndOpeningMarksOffItsEnd) {
  const BreakCase& Row = GetParam();
  EXPECT_EQ(Rows(Row.Text, Row.Width, false), Row.Plain) << Row.Text;
  EXPECT_EQ(Rows(Row.Text, Row.Width, true), Row.Ruled) << Row.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RowBreaking,
    ::testing::Values(
        BreakCase{"一二三四五六七", 50, "一二三四五|六七", "一二三四五|六七"},
        // A closing mark that would begin a row takes the character before it along.
        BreakCase{"一二三四五，六", 50, "一二三四五|，六", "一二三四|五，六"},
        BreakCase{"一二三四五。」六", 50, "一二三四五|。」六", "一二三四|五。」六"},
        BreakCase{"一二三四五…六", 50, "一二三四五|…六", "一二三四|五…六"},
        BreakCase{"一二三四五”六", 50, "一二三四五|”六", "一二三四|五”六"},
        BreakCase{"一二三四ab.c", 50, "一二三四ab|.c", "一二三四a|b.c"},
        BreakCase{"一二三四5)", 45, "一二三四5|)", "一二三四|5)"},
        // An opening mark at a row's end goes to the next row.
        BreakCase{"一二三四「五」", 50, "一二三四「|五」", "一二三四|「五」"},
        BreakCase{"一二三四《「五", 50, "一二三四《|「五", "一二三四|《「五"},
        BreakCase{"一二三四“五", 50, "一二三四“|五", "一二三四|“五"},
        BreakCase{"一二三四(a", 45, "一二三四(|a", "一二三四|(a"},
        // Both at once: the mark and the quote before it go down together.
        BreakCase{"一二三「四」，五", 50, "一二三「四|」，五", "一二三|「四」，五"},
        // No place left on the row: it breaks where it is full.
        BreakCase{"，，，，，，", 50, "，，，，，|，", "，，，，，|，"},
        // A line feed ends a row whatever follows.
        BreakCase{"一二\n，三", 50, "一二|，三", "一二|，三"}));

// The bytes of UTF-8 text in Encoding.
std::string Encoded(TTextEncoding Encoding, const std::string& Utf8) {
  TTextEncoder Encoder(Encoding);
  std::string Bytes;
  EXPECT_TRUE(Encoder.Encode(Utf8, Bytes));
  return Bytes;
}

// Pages of a column five characters wide, rows 1.5 apart and half a row more after a line feed, in a
// column 42 pixels high: rows start at 0, 15, 30 (then 45, which no longer fits); after a line feed the
// next is 5 further down.
TEST(LaidOutPage, EndsAfterTheLastRowThatFitsInEveryEncoding) {
  TRowGeometry Geometry;
  Geometry.Pitch = 10;
  Geometry.RowAdvance = 15;
  Geometry.ParagraphGap = 5;
  Geometry.Lead = 2;
  Geometry.Width = 50;
  Geometry.Height = 42;
  // Three full rows; a short paragraph whose gap pushes the third row out; a lone CR and CR LF as line
  // breaks; a closing mark that takes its character along to the next page.
  const std::string Text = "一二三四五六七八九十甲乙丙丁戊子丑\r\n寅卯辰巳午未申酉戌亥\r天地玄黃宇宙洪荒日月盈昃辰宿列張寒來暑往，秋收";
  const std::vector<std::string> Pages = {"一二三四五六七八九十甲乙丙丁戊", "子丑\r\n寅卯辰巳午", "未申酉戌亥\r天地玄黃宇",
                                          "宙洪荒日月盈昃辰宿列張寒來暑", "往，秋收"};
  TempDir Dir;
  for (const TEncodingRules& Rules : Encodings()) {
    const std::string Bytes = std::string(Rules.ByteOrderMark) + Encoded(Rules.Encoding, Text);
    const std::string File = Dir.Write("book.txt", Bytes);
    TFileOffset Start = 0;
    std::string Joined;
    for (std::size_t Index = 0; Index < Pages.size(); ++Index) {
      TFileOffset End = -1;
      const std::string Page = ReadLaidOutPage(File, Start, Rules.Encoding, Geometry, true, Advance, Index > 0, End);
      const std::string Expected = (Index == 0 ? std::string(Rules.ByteOrderMark) : "") + Encoded(Rules.Encoding, Pages[Index]);
      EXPECT_EQ(Page, Expected) << Rules.MenuName << " page " << Index;
      EXPECT_EQ(End, Start + static_cast<TFileOffset>(Page.size())) << Rules.MenuName;
      Start = End;
    }
    EXPECT_EQ(Start, static_cast<TFileOffset>(Bytes.size())) << Rules.MenuName;
  }
}

// A scroll jump lands anywhere: the page counts from the first whole character, and a NUL ends it.
TEST(LaidOutPage, CountsFromTheFirstWholeCharacterAndStopsAfterANul) {
  TRowGeometry Geometry = Column(30);
  Geometry.Height = 10;  // one row
  TempDir Dir;
  const std::string Gb = Encoded(TTextEncoding::Gb18030, "一二三四五六");
  const std::string File = Dir.Write("jump.txt", Gb);
  TFileOffset End = -1;
  EXPECT_EQ(ReadLaidOutPage(File, 1, TTextEncoding::Gb18030, Geometry, false, Advance, false, End), Gb.substr(1, 7));
  EXPECT_EQ(End, 8);
  const std::string Nul = Dir.Write("nul.txt", std::string("ab\0cdefgh", 9));
  EXPECT_EQ(ReadLaidOutPage(Nul, 0, TTextEncoding::Utf8, Geometry, false, Advance, false, End), std::string("ab\0", 3));
  EXPECT_EQ(End, 3);
}

}  // namespace
