#include "ReadPage.h"
#include "TempDir.h"
#include "TextEncoding.h"
#include "Unicode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// ---- Detection, from files ------------------------------------------------------------------------

struct DetectCase {
  const char* Name;
  std::string Bytes;
  TTextEncoding Encoding;
};

void PrintTo(const DetectCase& Row, std::ostream* Out) { *Out << Row.Name; }

class DetectRows : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectRows, SamplesOfTheFileDecide) {
  TempDir Dir;
  const std::string Path = Dir.Write("sample.txt", GetParam().Bytes);
  EXPECT_EQ(DetectEncoding(ReadEncodingSamples(Path)), GetParam().Encoding);
}

const std::string Utf8Line = "\xE3\x80\x80\xE3\x80\x80\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0 OK\r\n";  // "　　第一章 OK"
const std::string GbkLine = "\xA1\xA1\xA1\xA1\xB5\xDA\xD2\xBB\xD5\xC2 OK\r\n";                         // the same in GBK

std::string Times(const std::string& Text, std::size_t Count) {
  std::string Repeated;
  while (Count-- > 0) Repeated += Text;
  return Repeated;
}

// A preface longer than one sample, then the text: a licence in English before a novel.
const std::string Preface = Times("Licensed under the terms below.\n", 3000);

// A few sentences of a novel, in Big5 and in GB18030 as the system's converter writes them.
std::string Encoded(const char* Utf8, TTextEncoding Encoding) {
  std::string Bytes;
  TTextEncoder(Encoding).Encode(Utf8, Bytes);
  return Bytes;
}
const char* const Traditional = "　　第一章　風起\r\n　　天色漸漸暗了下來，城裡的燈火一盞一盞地亮起。他站在橋上，望著遠處的山，"
                                "心裡想著那些年發生的事情。「我們還會再見面嗎？」她輕聲問道。他沒有回答。\r\n";
const char* const Simplified = "　　第一章　风起\r\n　　天色渐渐暗了下来，城里的灯火一盏一盏地亮起。他站在桥上，望着远处的山，"
                               "心里想着那些年发生的事情。“我们还会再见面吗？”她轻声问道。他没有回答。\r\n";

INSTANTIATE_TEST_SUITE_P(
    TextEncoding, DetectRows,
    ::testing::Values(
        DetectCase{"Utf8", Utf8Line + Utf8Line, TTextEncoding::Utf8},
        DetectCase{"Utf8ByteOrderMark", "\xEF\xBB\xBF" "abc", TTextEncoding::Utf8},
        DetectCase{"Utf16LeByteOrderMark", std::string("\xFF\xFE" "a\0\x2D\x4E", 6), TTextEncoding::Utf16Le},
        DetectCase{"Utf16BeByteOrderMark", std::string("\xFE\xFF\0a\x4E\x2D", 6), TTextEncoding::Utf16Be},
        DetectCase{"Gbk", GbkLine + GbkLine, TTextEncoding::Gb18030},
        DetectCase{"Ascii", "Chapter 1\r\n", TTextEncoding::Gb18030},
        DetectCase{"Empty", "", TTextEncoding::Gb18030},
        // UTF-8 first, then a byte that cannot be: the text is not UTF-8.
        DetectCase{"Utf8ThenGbk", Utf8Line + GbkLine, TTextEncoding::Gb18030},
        DetectCase{"Utf8Surrogate", "a\xED\xA0\x80", TTextEncoding::Gb18030},
        // Beyond a first sample of ASCII: a small file is read whole, a large one in samples spread to its end.
        DetectCase{"Utf8AfterAPreface", Preface + Times(Utf8Line, 100), TTextEncoding::Utf8},
        DetectCase{"Utf8AfterAPrefaceInALargeFile", Preface + Times(Utf8Line, 60000), TTextEncoding::Utf8},
        DetectCase{"GbkAfterAPrefaceInALargeFile", Preface + Times(GbkLine, 60000), TTextEncoding::Gb18030},
        // Samples that start and end inside characters, with no byte below 0x30 to start from.
        DetectCase{"Utf8SamplesCutInsideCharacters", Times("\xE4\xB8\xAD", 120000), TTextEncoding::Utf8},
        // Both read as valid two-byte text in the other code page: its commonest characters decide.
        DetectCase{"Big5", Encoded(Traditional, TTextEncoding::Big5), TTextEncoding::Big5},
        DetectCase{"Gb18030Traditional", Encoded(Traditional, TTextEncoding::Gb18030), TTextEncoding::Gb18030},
        DetectCase{"Gb18030Simplified", Encoded(Simplified, TTextEncoding::Gb18030), TTextEncoding::Gb18030}));

// ---- The character walk --------------------------------------------------------------

struct WalkCase {
  const char* Name;
  std::string Bytes;
  std::size_t Pos;
  std::size_t Next;
  TTextEncoding Encoding = TTextEncoding::Gb18030;
};

void PrintTo(const WalkCase& Row, std::ostream* Out) { *Out << Row.Name; }

class CharNextRows : public ::testing::TestWithParam<WalkCase> {};

TEST_P(CharNextRows, StepsOverWholeCharacters) {
  EXPECT_EQ(CharNext(GetParam().Encoding, GetParam().Bytes, GetParam().Pos), GetParam().Next);
}

INSTANTIATE_TEST_SUITE_P(
    TextEncoding, CharNextRows,
    ::testing::Values(WalkCase{"Ascii", "ab", 0, 1}, WalkCase{"TwoByteCharacter", "\xD6\xD0" "a", 0, 2},
                      WalkCase{"SecondCharacter", "a\xD6\xD0", 1, 3},
                      // A lead byte without a trail is a bad byte of its own: a line break after it stays one.
                      WalkCase{"LeadBeforeLineFeed", "\x8B\n" "ABC", 0, 1}, WalkCase{"LeadBeforeCarriageReturn", "\xD6\r", 0, 1},
                      WalkCase{"TrailMissingAtTheEnd", "a\xD6", 1, 2}, WalkCase{"NulIsNoTrail", std::string("\xD6\0x", 3), 0, 1},
                      WalkCase{"EuroByteIsSingle", "\x80" "A", 0, 1}, WalkCase{"0xFFIsSingle", "\xFF" "A", 0, 1},
                      WalkCase{"AtTheEnd", "ab", 2, 2}, WalkCase{"PastTheEnd", "ab", 7, 2},
                      WalkCase{"Empty", "", 0, 0}, WalkCase{"FourByte", "\x95\x32\x82\x36", 0, 4},
                      WalkCase{"FourByteCutTakesTheRest", "\x95\x32\x82", 0, 3},
                      // Big5: a mapped pair, whose trail may be ASCII; a lead the code page does not pair
                      // with the next byte is one bad byte.
                      WalkCase{"Big5AsciiTrail", "\xA5\x79", 0, 2, TTextEncoding::Big5},
                      WalkCase{"Big5UnmappedPair", "\x81\x41", 0, 1, TTextEncoding::Big5},
                      WalkCase{"Big5LeadBeforeLineFeed", "\xA4\n", 0, 1, TTextEncoding::Big5},
                      // UTF-8: a lead byte takes only the continuation bytes that are there.
                      WalkCase{"Utf8ThreeByte", "\xE4\xB8\xAD", 0, 3, TTextEncoding::Utf8},
                      WalkCase{"Utf8FourByte", "\xF0\x9F\x98\x80", 0, 4, TTextEncoding::Utf8},
                      WalkCase{"Utf8LineFeedIsNoContinuation", "\xE4\n", 0, 1, TTextEncoding::Utf8},
                      WalkCase{"Utf8LoneContinuation", "\x80" "a", 0, 1, TTextEncoding::Utf8},
                      // UTF-16: one code unit, or a surrogate pair; an odd last byte on its own.
                      WalkCase{"Utf16Unit", std::string("a\0b\0", 4), 0, 2, TTextEncoding::Utf16Le},
                      WalkCase{"Utf16Pair", std::string("\xD8\x3D\xDE\x00", 4), 0, 4, TTextEncoding::Utf16Be},
                      WalkCase{"Utf16LoneHigh", std::string("\x3D\xD8" "a\0", 4), 0, 2, TTextEncoding::Utf16Le},
                      WalkCase{"Utf16OddByte", std::string("a\0b", 3), 2, 3, TTextEncoding::Utf16Le}));

// ---- Whole characters -------------------------------------------------------------------------------

// A text built character by character, so that where each character starts is known without the
// rules under test.
struct TCharacters {
  TTextEncoding Encoding;
  std::string Bytes;
  std::vector<std::size_t> Starts;  // of every character shown, and the end

  TCharacters(TTextEncoding Value, std::initializer_list<std::string> Characters, std::string Mark = "")
      : Encoding(Value), Bytes(std::move(Mark)) {
    for (const std::string& Character : Characters) {
      Starts.push_back(Bytes.size());
      Bytes += Character;
    }
    Starts.push_back(Bytes.size());
  }
};

// Bytes in an allocation of exactly their size, so that a read outside them is caught by the
// sanitizer build.
class TExact {
public:
  explicit TExact(std::string_view Bytes) : FBytes(new char[Bytes.size() + (Bytes.empty() ? 1 : 0)]), FSize(Bytes.size()) {
    Bytes.copy(FBytes.get(), Bytes.size());
  }
  std::string_view View() const { return {FBytes.get(), FSize}; }

private:
  std::unique_ptr<char[]> FBytes;
  std::size_t FSize;
};

// Every page of every start and length shows exactly the characters that lie wholly inside it.
void ExpectWholeCharactersOfEveryPage(const TCharacters& Text) {
  const std::size_t Size = Text.Bytes.size();
  for (std::size_t Start = 0; Start <= Size; ++Start)
    for (std::size_t End = Start; End <= Size; ++End) {
      const TExact Page(std::string_view(Text.Bytes).substr(Start, End - Start));
      const std::size_t Needed = LookBackNeeded(Text.Encoding, static_cast<TFileOffset>(Start), Page.View());
      ASSERT_LE(Needed, Start);
      const TExact LookBack(std::string_view(Text.Bytes).substr(Start - Needed, Needed));
      const TWholeCharacters Whole =
          WholeCharacters(Text.Encoding, static_cast<TFileOffset>(Start), LookBack.View(), Page.View());
      std::size_t From = End, To = Start;
      for (const std::size_t At : Text.Starts) {
        if (At >= Start && At < From) From = At;
        if (At <= End && At > To) To = At;
      }
      ASSERT_LE(Whole.From, Whole.To);
      ASSERT_LE(Whole.To, End - Start);
      if (To <= From) {  // no whole character: nothing shows
        ASSERT_EQ(Whole.From, Whole.To) << "page " << Start << ".." << End;
        continue;
      }
      ASSERT_EQ(Whole.From, From - Start) << "page " << Start << ".." << End;
      ASSERT_EQ(Whole.To, To - Start) << "page " << Start << ".." << End;
    }
}

TEST(TextEncoding, Gb18030PagesShowWholeCharactersFromAnyByte) {
  // One-, two- and four-byte characters, trail bytes in the ASCII range, a line break to walk from.
  ExpectWholeCharactersOfEveryPage(TCharacters(
      TTextEncoding::Gb18030, {"\xD6\xD0", "\xCE\xC4", "\x95\x32\x82\x36", "\x81\x40", "a", "\xD7\xD6", "\r", "\n",
                               "\x81\x30\x81\x30", "\xBE\xE4", "\xFE\x7E", "1", "\xA1\xA1"}));
  // The file's byte-order mark is not a character.
  ExpectWholeCharactersOfEveryPage(TCharacters(TTextEncoding::Gb18030, {"\xD6\xD0", "b"}, "\x84\x31\x95\x33"));
}

TEST(TextEncoding, Big5PagesShowWholeCharactersFromAnyByte) {
  // Trail bytes in the ASCII range, a letter with a combining mark, a byte that begins no character,
  // and bytes below 0x40 to walk from.
  ExpectWholeCharactersOfEveryPage(TCharacters(TTextEncoding::Big5, {"\xA4\xA4", "\xA5\x79", "a", "\x88\x62", "\xA4\xE5",
                                                                      "\r", "\n", "\xA6\x72", "1", "\xFF", "\xA4\x40"}));
}

TEST(TextEncoding, Utf8PagesShowWholeCharactersFromAnyByte) {
  ExpectWholeCharactersOfEveryPage(TCharacters(
      TTextEncoding::Utf8, {"\xE4\xB8\xAD", "a", "\xC3\xA9", "\xF0\xA0\x80\x80", "\xE6\x96\x87", "\n", "\xE5\xAD\x97"},
      "\xEF\xBB\xBF"));
}

TEST(TextEncoding, Utf16PagesShowWholeCodeUnitsAndPairs) {
  using namespace std::string_literals;
  ExpectWholeCharactersOfEveryPage(TCharacters(
      TTextEncoding::Utf16Le, {"a\0"s, "\x2D\x4E"s, "\x40\xD8\x00\xDC"s, "\n\0"s, "\x0A\x4E"s}, "\xFF\xFE"));
  ExpectWholeCharactersOfEveryPage(
      TCharacters(TTextEncoding::Utf16Be, {"\0a"s, "\x4E\x2D"s, "\xD8\x40\xDC\x00"s, "\0\n"s}, "\xFE\xFF"));
}

// A jump far into a run of two-byte characters with nothing below 0x30 within the look-back: the
// start cannot be told and counts as whole.
TEST(TextEncoding, Gb18030StartBeyondTheLookBackCountsAsWhole) {
  std::string Text = "\n";
  while (Text.size() < LookBackBytes + 100) Text += "\xD6\xD0";
  const TFileOffset Start = static_cast<TFileOffset>(Text.size() - 51);  // a trail byte
  const std::string_view Page = std::string_view(Text).substr(static_cast<std::size_t>(Start));
  const std::size_t Needed = LookBackNeeded(TTextEncoding::Gb18030, Start, Page);
  ASSERT_EQ(Needed, LookBackBytes);
  const TExact LookBack(std::string_view(Text).substr(static_cast<std::size_t>(Start) - Needed, Needed));
  const TWholeCharacters Whole = WholeCharacters(TTextEncoding::Gb18030, Start, LookBack.View(), Page);
  EXPECT_EQ(Whole.From, 0u);
  EXPECT_EQ(Whole.To, 50u);  // the last lead byte has lost its trail
}

// ---- Every row of the table ------------------------------------------------------------------------

// UTF-8 text in UTF-16.
std::u16string Utf16Of(std::string_view Utf8) {
  std::u16string Units(Utf8.size() + 1, u'\0');
  char16_t* End = Units.data();
  for (std::size_t Pos = 0; Pos < Utf8.size(); Pos += ReadUtf8(Utf8.substr(Pos)).Length)
    End = PutUtf16(ReadUtf8(Utf8.substr(Pos)).Code, End);
  Units.resize(static_cast<std::size_t>(End - Units.data()));
  return Units;
}

// One text in every encoding, as far as each holds its characters: the walk steps over each character
// whole and reads it back, the text decodes to what was encoded (in UTF-8 and in UTF-16), a decoded
// prefix leads back to its character, the search takes exactly the characters' starts, and each
// character takes the columns of its GB18030 form. A multi-unit character's first code unit before a
// line feed decodes to one U+FFFD and keeps the line feed.
TEST(TextEncoding, EveryRowReadsBackWhatItsEncoderWrote) {
  const std::vector<std::string> Characters = {"a", "\r", "\n", "中", "文", "，", "Ａ", "€", "é", "あ", "\U00020000", "Z"};
  TTextEncoder Gb(TTextEncoding::Gb18030);
  for (const TEncodingRules& Rules : Encodings()) {
    SCOPED_TRACE(Rules.MenuName);
    TTextEncoder Encoder(Rules.Encoding);
    std::string Text, Utf8, FirstUnit;
    std::vector<std::string> Held;
    std::vector<std::size_t> Starts;
    for (const std::string& Character : Characters) {
      std::string Bytes;
      if (!Encoder.Encode(Character, Bytes)) continue;
      if (FirstUnit.empty() && Bytes.size() > Rules.CodeUnit) FirstUnit = Bytes.substr(0, Rules.CodeUnit);
      Starts.push_back(Text.size());
      Text += Bytes;
      Utf8 += Character;
      Held.push_back(Character);
    }
    ASSERT_GE(Held.size(), Characters.size() - 3);
    Starts.push_back(Text.size());
    std::size_t Decoded = 0;
    for (std::size_t I = 0; I + 1 < Starts.size(); ++I) {
      EXPECT_EQ(CharNext(Rules.Encoding, Text, Starts[I]), Starts[I + 1]) << Held[I];
      const TCharacter Character = Rules.Read(std::string_view(Text).substr(Starts[I]));
      EXPECT_TRUE(Character.Valid) << Held[I];
      EXPECT_EQ(Character.Length, Starts[I + 1] - Starts[I]) << Held[I];
      EXPECT_EQ(Character.CodePoint, ReadUtf8(Held[I]).Code) << Held[I];
      std::string GbBytes;
      ASSERT_TRUE(Gb.Encode(Held[I], GbBytes));
      EXPECT_EQ(ColumnsOf(Rules, Character), GbBytes.size()) << Held[I];
      EXPECT_EQ(Rules.SkipDecoded(Text, 0, Decoded), Starts[I]) << Held[I];
      Decoded += Held[I].size();
    }
    // The search takes exactly the walk's starts: in the text, and in the first bytes of its longest
    // character, cut off by the end or followed by another.
    const auto TakesTheWalksStarts = [&](const std::string& Bytes) {
      std::size_t Walked = 0, Next = 0;
      for (std::size_t Pos = 0; Pos < Bytes.size(); ++Pos) {
        EXPECT_EQ(Rules.Starts(Bytes, 0, Walked, Pos), Pos == Next) << Pos;
        if (Pos == Next) Next = CharNext(Rules.Encoding, Bytes, Pos);
      }
    };
    TakesTheWalksStarts(Text);
    std::string Longest, Letter;
    for (const std::string& Character : Held)
      if (Encoder.Encode(Character, Letter) && Letter.size() > Longest.size()) Longest = Letter;
    ASSERT_TRUE(Encoder.Encode("A", Letter));
    for (std::size_t Cut = Rules.CodeUnit; Cut < Longest.size(); Cut += Rules.CodeUnit) {
      SCOPED_TRACE("the first " + std::to_string(Cut) + " bytes of the longest character");
      TakesTheWalksStarts(Longest.substr(0, Cut));
      TakesTheWalksStarts(Longest.substr(0, Cut) + Letter);
    }

    const auto Decode = [&](const std::string& Bytes) {
      std::string Out(Bytes.size() * Utf8BytesPerByte + 4, '\0');
      char* End = Out.data();
      EXPECT_EQ(Rules.Decode(Bytes, 0, Bytes.size(), End), Bytes.size());
      Out.resize(static_cast<std::size_t>(End - Out.data()));
      std::u16string Units(Bytes.size(), u'\0');
      Units.resize(static_cast<std::size_t>(Rules.DecodeUtf16(Bytes, Units.data()) - Units.data()));
      EXPECT_EQ(Units, Utf16Of(Out));
      return Out;
    };
    EXPECT_EQ(Decode(Text), Utf8);
    std::string LineFeed;
    ASSERT_TRUE(Encoder.Encode("\nABC", LineFeed));
    EXPECT_EQ(Decode(FirstUnit + LineFeed), "\uFFFD\nABC");
    EXPECT_EQ(CharNext(Rules.Encoding, FirstUnit + LineFeed, 0), Rules.CodeUnit);
  }
}

TEST(TextEncoding, ReadBytesReadsOnlyWhatIsThere) {
  TempDir Dir;
  const std::string Path = Dir.Write("bytes.txt", "0123456789");
  EXPECT_EQ(ReadBytes(Path, 3, 4), "3456");
  EXPECT_EQ(ReadBytes(Path, 8, 100), "89");
  EXPECT_EQ(ReadBytes(Path, 10, 4), "");
  EXPECT_EQ(ReadBytes(Path, -1, 4), "");
  EXPECT_EQ(ReadBytes(Dir.Path("missing.txt"), 0, 4), "");
  EXPECT_EQ(ReadBytes(Dir.Path(""), 0, 4), "");  // the folder itself
}

}  // namespace
