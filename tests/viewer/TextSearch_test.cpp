#include "ReadPage.h"
#include "TextSearch.h"
#include "TextEncoding.h"
#include "LineMatches.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <atomic>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Outcome = TSearchOutcome;

struct SearchCase {
  const char* Name;
  TTextEncoding Encoding;
  std::string Bytes;
  TSearchQuery Query;
  TFileOffset From;
  bool Backward;
  Outcome Expected;
  TFileOffset Start = 0;
  TFileOffset Length = 0;
  bool Wrapped = false;
  std::size_t SmallBlock = 4;  // a second run with blocks this small: every hit then straddles one
};

void PrintTo(const SearchCase& Row, std::ostream* Out) { *Out << Row.Name; }

TSearchQuery Plain(std::string Text) { return {std::move(Text), false, false}; }
TSearchQuery Exact(std::string Text) { return {std::move(Text), true, false}; }
TSearchQuery Regex(std::string Text, bool MatchCase = false) { return {std::move(Text), MatchCase, true}; }

const auto Gb = TTextEncoding::Gb18030;
const auto U8 = TTextEncoding::Utf8;
const auto U16Le = TTextEncoding::Utf16Le;
const auto U16Be = TTextEncoding::Utf16Be;

TSearchResult Find(const std::string& File, const TSearchPattern& Pattern, TFileOffset From, bool Backward,
                   std::size_t BlockBytes = SearchBlockBytes) {
  const std::atomic<bool> Cancel{false};
  return FindText(File, Pattern, From, Backward, Cancel, {}, BlockBytes);
}

class SearchRows : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchRows, FindsTheHitAWalkOverCharactersWouldFind) {
  const SearchCase& Row = GetParam();
  TempDir Dir;
  const std::string File = Dir.Write("text.txt", Row.Bytes);
  const TSearchPattern Pattern(Row.Query, Row.Encoding);
  for (const std::size_t Block : {SearchBlockBytes, Row.SmallBlock}) {
    SCOPED_TRACE("block bytes " + std::to_string(Block));
    const TSearchResult Result = Find(File, Pattern, Row.From, Row.Backward, Block);
    EXPECT_EQ(Result.Outcome, Row.Expected);
    if (Row.Expected != Outcome::Found) continue;
    EXPECT_EQ(Result.Hit.Start, Row.Start);
    EXPECT_EQ(Result.Hit.Length, Row.Length);
    EXPECT_EQ(Result.Wrapped, Row.Wrapped);
  }
}

// GB18030 bytes used below: 中 D6D0, 第 B5DA, 章 D5C2, 前言 C7B0 D1D4; Ａ A3C1, ｂ A3E2.
INSTANTIATE_TEST_SUITE_P(
    Rows, SearchRows,
    ::testing::Values(
        // The bytes of 中 first stand across the trail of one character and the lead of the next.
        SearchCase{"GbTrailThenLead", Gb, "\xB0\xD6\xD0\xC4\xD6\xD0", Plain("中"), 0, false, Outcome::Found, 4, 2},
        SearchCase{"GbTrailThenLeadBackward", Gb, "\xD6\xD0\xB0\xD6\xD0\xC4", Plain("中"), 6, true, Outcome::Found, 0, 2},
        // A four-byte character holds digits; an extension character's trail can be an ASCII letter.
        SearchCase{"GbDigitInFourByteCharacter", Gb, "\x81\x30\x81\x30" "0", Plain("0"), 0, false, Outcome::Found, 4, 1},
        SearchCase{"GbLetterAsTrailByte", Gb, "\x81\x41" "a", Plain("A"), 0, false, Outcome::Found, 2, 1},
        // A cut character before the real one hides nothing.
        SearchCase{"Utf8AfterCutCharacter", U8, "\xE4\xB8" "中", Plain("中"), 0, false, Outcome::Found, 2, 3},
        // ！ (EF BC 81) shares a byte with Ａ and one with ａ (EF BD 81), and is neither.
        SearchCase{"Utf8FullWidthOtherCase", U8, "！Ａ", Plain("ａ"), 0, false, Outcome::Found, 3, 3},
        // ⴰ N (2D30 004E) hold 2D 4E at an odd offset, after the byte-order mark.
        SearchCase{"Utf16LeOddOffset", U16Le, std::string("\xFF\xFE\x30\x2D\x4E\x00\x2D\x4E", 8), Plain("中"), 0, false,
                   Outcome::Found, 6, 2},
        SearchCase{"Utf16BeOddOffset", U16Be, std::string("\x00\x4E\x2D\x30\x4E\x2D", 6), Plain("中"), 0, false,
                   Outcome::Found, 4, 2},
        SearchCase{"MatchCaseKeepsCase", Gb, "abc ABC", Exact("ABC"), 0, false, Outcome::Found, 4, 3},
        SearchCase{"EitherCaseAscii", Gb, "xAbC", Plain("abc"), 0, false, Outcome::Found, 1, 3},
        SearchCase{"EitherCaseFullWidth", Gb, "x\xA3\xC1\xA3\xE2", Plain("ａＢ"), 0, false, Outcome::Found, 1, 4},
        SearchCase{"MatchCaseFullWidth", Gb, "x\xA3\xC1\xA3\xE2", Exact("ａＢ"), 0, false, Outcome::NotFound},
        SearchCase{"ForwardFromTheMiddle", Gb, "ab ab", Plain("ab"), 1, false, Outcome::Found, 3, 2},
        SearchCase{"ForwardWraps", Gb, "ab ab", Plain("ab"), 4, false, Outcome::Found, 0, 2, true},
        SearchCase{"BackwardTakesTheLastBeforeFrom", Gb, "ab ab ab", Plain("ab"), 6, true, Outcome::Found, 3, 2},
        SearchCase{"BackwardWraps", Gb, "ab ab", Plain("ab"), 0, true, Outcome::Found, 3, 2, true},
        SearchCase{"WholeFileForward", Gb, "\xD6\xD0", Plain("中"), 0, false, Outcome::Found, 0, 2},
        SearchCase{"WholeFileBackwardFromTheEnd", Gb, "\xD6\xD0", Plain("中"), 2, true, Outcome::Found, 0, 2},
        SearchCase{"NotFound", Gb, "abc abc", Plain("abd"), 3, false, Outcome::NotFound},
        // ^ at a line start only: the first 第1章 stands mid-line.
        SearchCase{"RegexLineStart", Gb, "\xC7\xB0\xD1\xD4\xB5\xDA" "1\xD5\xC2\r\n\xB5\xDA" "2\xD5\xC2 x\r\n",
                   Regex("^第[0-9]+章"), 0, false, Outcome::Found, 11, 5, false, 16},
        // $ before CR LF.
        SearchCase{"RegexLineEnd", U8, "第1章 x\r\n第2章\r\n", Regex("[0-9]章$"), 0, false, Outcome::Found, 14, 4,
                   false, 16},
        SearchCase{"RegexUtf16", U16Le, std::string("a\0b\0\n\0\x2D\x4Ex\0\n\0", 12), Regex("中."), 0, false,
                   Outcome::Found, 6, 4, false, 8},
        SearchCase{"RegexEitherCase", Gb, "xABC\n", Regex("abc"), 0, false, Outcome::Found, 1, 3},
        SearchCase{"RegexMatchCase", Gb, "xABC\n", Regex("abc", true), 0, false, Outcome::NotFound},
        SearchCase{"RegexBackwardWraps", Gb, "a1\na2\n", Regex("a[0-9]"), 0, true, Outcome::Found, 3, 2, true},
        // Big5 句 (A5 79) ends in the byte of "y", which only the next character is.
        SearchCase{"RegexBig5AsciiTrail", TTextEncoding::Big5, "\xA5\x79y\n", Regex("y"), 0, false, Outcome::Found, 2, 1},
        // The byte-order mark is no text.
        SearchCase{"RegexAfterByteOrderMark", Gb, "\x84\x31\x95\x33" "x", Regex("."), 0, false, Outcome::Found, 4, 1}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Character starts by the encoding's own walk, the reference the search must agree with.
std::vector<std::size_t> CharacterStarts(TTextEncoding Encoding, const std::string& Bytes) {
  std::vector<std::size_t> Starts;
  for (std::size_t Pos = 0; Pos < Bytes.size();) {
    Starts.push_back(Pos);
    Pos = CharNext(Encoding, Bytes, Pos);
  }
  return Starts;
}

std::string ToUtf8(TTextEncoding Encoding, const std::string& Bytes) {
  const iconv_t Cd = iconv_open("UTF-8", RulesOf(Encoding).IconvName);
  std::string In = Bytes, Out(Bytes.size() * 4 + 8, '\0');
  char* InPos = In.data();
  char* OutPos = Out.data();
  std::size_t InLeft = In.size(), OutLeft = Out.size();
  const std::size_t Converted = iconv(Cd, &InPos, &InLeft, &OutPos, &OutLeft);
  iconv_close(Cd);
  EXPECT_NE(Converted, static_cast<std::size_t>(-1)) << "a query piece that is no character";
  Out.resize(static_cast<std::size_t>(OutPos - Out.data()));
  return Out;
}

// Characters of each encoding that share bytes (also query pieces), and bytes that are no character
// (file pieces only).
struct TKind {
  TTextEncoding Encoding;
  std::vector<std::string> Characters;
  std::vector<std::string> Broken;
};

const std::vector<TKind>& SharedByteKinds() {
  static const std::vector<TKind> Kinds = {
      {Gb,
       {"\xD6\xD0", "\xB0\xD6", "\xD0\xC4", "\x81\x30\x81\x30", "0", "A", "a", "\x81\x41", "\r\n", "\xA3\xC1"},
       {"\x81", "\xFF"}},
      {U16Le,
       {std::string("\x2D\x4E", 2), std::string("\x30\x2D", 2), std::string("\x4E\x00", 2),
        std::string("\x3D\xD8\x00\xDE", 4), std::string("\x0A\x00", 2)},
       {std::string("\x00\xDE", 2), std::string("\x3D\xD8", 2)}},
      {U16Be,
       {std::string("\x4E\x2D", 2), std::string("\x2D\x30", 2), std::string("\x00\x4E", 2),
        std::string("\xD8\x3D\xDE\x00", 4)},
       {std::string("\xDE\x00", 2)}},
      {U8, {"中", "a", "A", "！", "Ａ", "\n"}, {"\xE4\xB8", "\xAD"}},
      // Big5: 中 文 憭 丕 一, trail bytes that are lead bytes or ASCII letters too.
      {TTextEncoding::Big5,
       {"\xA4\xA4", "\xA4\xE5", "\xE5\xA4", "\xA5\x41", "\xA4\x40", "A", "a", "\r\n"},
       {"\x81", "\xFF"}},
  };
  return Kinds;
}

// Searches File from every offset both ways, each time with blocks of a size drawn from Blocks: the
// search finds among Hits (every hit, in file order) the first that starts at or after From, else the
// first of all (backward: the last before From, else the last of all).
void SearchEveryOffset(const std::string& File, const TSearchPattern& Pattern, TFileOffset Size,
                       const std::vector<TSearchHit>& Hits, const std::vector<std::size_t>& Blocks, std::mt19937& Random,
                       TFileOffset Step = 1) {
  for (TFileOffset From = 0; From <= Size; From += Step)
    for (const bool Backward : {false, true}) {
      std::optional<TSearchHit> Expected;
      bool Wrapped = false;
      for (const TSearchHit& Hit : Hits)
        if (Backward ? Hit.Start < From : Hit.Start >= From) {
          if (!Expected || Backward) Expected = Hit;
        }
      if (!Expected && !Hits.empty()) {
        Expected = Backward ? Hits.back() : Hits.front();
        Wrapped = true;
      }
      const std::size_t Block = Blocks[Random() % Blocks.size()];
      const TSearchResult Result = Find(File, Pattern, From, Backward, Block);
      SCOPED_TRACE(::testing::Message() << "from " << From << (Backward ? " back" : "") << " block " << Block);
      ASSERT_EQ(Result.Outcome, Expected ? Outcome::Found : Outcome::NotFound);
      if (!Expected) continue;
      ASSERT_EQ(Result.Hit.Start, Expected->Start);
      ASSERT_EQ(Result.Hit.Length, Expected->Length);
      ASSERT_EQ(Result.Wrapped, Wrapped);
    }
}

// Random text of characters that share bytes (and of bytes that are no character), queries of whole
// characters cut from the same pieces (so most hits have false twins across characters), searched
// from every offset both ways with blocks from 4 bytes up: the search finds what a walk over the
// characters finds.
TEST(TextSearch, AgreesWithACharacterWalkAtEveryBlockEdge) {
  std::mt19937 Random(19);
  for (const TKind& Kind : SharedByteKinds()) {
    for (int Trial = 0; Trial < 12; ++Trial) {
      SCOPED_TRACE(::testing::Message() << RulesOf(Kind.Encoding).MenuName << " trial " << Trial);
      std::string Bytes;
      for (int I = 0; I < 50; ++I)
        Bytes += Random() % 8 == 0 ? Kind.Broken[Random() % Kind.Broken.size()]
                                   : Kind.Characters[Random() % Kind.Characters.size()];
      std::string Needle;
      for (std::size_t I = 0, Count = 1 + Random() % 3; I < Count; ++I)
        Needle += Kind.Characters[Random() % Kind.Characters.size()];
      std::vector<TSearchHit> Hits;
      for (const std::size_t Start : CharacterStarts(Kind.Encoding, Bytes))
        if (Bytes.compare(Start, Needle.size(), Needle) == 0)
          Hits.push_back({static_cast<TFileOffset>(Start), static_cast<TFileOffset>(Needle.size())});
      TempDir Dir;
      const std::string File = Dir.Write("text.txt", Bytes);
      const TSearchPattern Pattern(Exact(ToUtf8(Kind.Encoding, Needle)), Kind.Encoding);
      SearchEveryOffset(File, Pattern, static_cast<TFileOffset>(Bytes.size()), Hits, {4, 8, 12, 16, 64, SearchBlockBytes},
                        Random);
      if (HasFatalFailure()) return;
    }
  }
}

// A long run of one character fits the probes nearly everywhere, which the search answers by going on
// in linear time: it still finds what a walk finds, in either case, and not where the run's bytes
// straddle characters (a stray GBK byte shifts them).
TEST(TextSearch, LongRunsAreFoundAsAWalkFindsThem) {
  std::mt19937 Random(7);
  for (const bool Letters : {true, false}) {
    const std::vector<std::string> Pieces =
        Letters ? std::vector<std::string>{"a", "A", "a", "A", "b"} : std::vector<std::string>{"\xD6\xD0", "\xD6\xD0", "\xB0"};
    std::string Bytes;  // runs of one piece, strays alone
    while (Bytes.size() < 12000) {
      const std::string& Piece = Pieces[Random() % Pieces.size()];
      for (int Run = Piece == Pieces.back() ? 0 : Random() % 1200; Run >= 0; --Run) Bytes += Piece;
    }
    const std::string Unit = Letters ? "a" : "\xD6\xD0";
    std::string Needle;
    for (int I = 0; I < 700; ++I) Needle += Unit;
    std::vector<TSearchHit> Hits;
    const auto Fits = [&](std::size_t Start) {
      for (std::size_t I = 0; I < Needle.size(); ++I)
        if (std::tolower(static_cast<unsigned char>(Bytes[Start + I])) != static_cast<unsigned char>(Needle[I])) return false;
      return true;
    };
    for (const std::size_t Start : CharacterStarts(Gb, Bytes))
      if (Start + Needle.size() <= Bytes.size() && Fits(Start))
        Hits.push_back({static_cast<TFileOffset>(Start), static_cast<TFileOffset>(Needle.size())});
    TempDir Dir;
    ASSERT_GT(Hits.size(), 2u);
    const std::string File = Dir.Write("text.txt", Bytes);
    const TSearchPattern Pattern(Plain(ToUtf8(Gb, Needle)), Gb);
    SearchEveryOffset(File, Pattern, static_cast<TFileOffset>(Bytes.size()), Hits, {4096, SearchBlockBytes}, Random, 61);
  }
}

// Every match of a regular expression inside a line of Bytes, by PCRE2 over each line alone: at each
// character start, the match that begins there.
std::vector<TSearchHit> LineMatches(TTextEncoding Encoding, const std::string& Bytes, const std::string& Query) {
  pcre2_code* Code = CompileAsTheSearch(Query, Encoding, false);
  std::vector<TSearchHit> Hits;
  for (const TDecodedLine& Line : DecodedLines(Encoding, Bytes))
    for (const std::size_t Start : Line.CharacterStarts) {
      std::size_t Begin = 0, End = 0;
      if (MatchAt(Code, Line, Start, Begin, End) == 1)
        Hits.push_back({Line.Offsets[Begin], Line.Offsets[End] - Line.Offsets[Begin]});
    }
  pcre2_code_free(Code);
  return Hits;
}

// Random lines (CR LF and LF, some longer than a block) of characters that share bytes, regular
// expressions from a small set whose matches are a few characters long (anchored, classes,
// alternation, look-behind), searched from every offset both ways with small blocks: the search finds
// what a line-by-line match over the decoded text finds.
TEST(TextSearch, RegexAgreesWithALineByLineMatchAtEveryBlockEdge) {
  const std::vector<std::string> Queries = {"^中",       "中$",     "[0a]{1,3}",  "a|中中", "^(?:a|中){1,2}$",
                                            "0.",        "\\d[^\\d\\r\\n]", "Ａ|a0", "(?<=中)a", "^.$",
                                            "\\x{2D30}N"};
  std::mt19937 Random(7);
  for (const TKind& Kind : SharedByteKinds()) {
    // Line ends and ASCII in the encoding's code units.
    const auto Units = [&](std::string_view Ascii) {
      std::string Bytes;
      for (const char Byte : Ascii)
        Bytes += Kind.Encoding == U16Le ? std::string{Byte, '\0'} : Kind.Encoding == U16Be ? std::string{'\0', Byte} : std::string{Byte};
      return Bytes;
    };
    std::vector<std::string> Pieces = Kind.Characters;
    for (const char* Ascii : {"a", "0", "N"}) Pieces.push_back(Units(Ascii));
    for (int Trial = 0; Trial < 8; ++Trial) {
      const std::string& Query = Queries[Random() % Queries.size()];
      SCOPED_TRACE(::testing::Message() << RulesOf(Kind.Encoding).MenuName << " trial " << Trial << " " << Query);
      // Every third text has lines longer than the blocks.
      const unsigned LineEvery = Trial % 3 == 0 ? 40 : 6;
      std::string Bytes;
      for (int I = 0; I < 80; ++I) {
        const unsigned Pick = Random() % LineEvery;
        Bytes += Pick == 0   ? Units(Random() % 2 ? "\r\n" : "\n")
                 : Pick == 1 ? Kind.Broken[Random() % Kind.Broken.size()]
                             : Pieces[Random() % Pieces.size()];
      }
      TempDir Dir;
      const std::string File = Dir.Write("text.txt", Bytes);
      const TSearchPattern Pattern(Regex(Query), Kind.Encoding);
      SearchEveryOffset(File, Pattern, static_cast<TFileOffset>(Bytes.size()), LineMatches(Kind.Encoding, Bytes, Query),
                        {32, 48, 64, SearchBlockBytes}, Random);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(TextSearch, CancelStopsBetweenBlocks) {
  TempDir Dir;
  const std::string File = Dir.Write("text.txt", std::string(1000, 'a'));
  const TSearchPattern Pattern(Plain("b"), Gb);
  std::atomic<bool> Cancel{true};
  EXPECT_EQ(FindText(File, Pattern, 0, false, Cancel).Outcome, Outcome::Cancelled);
  // Set while the search runs: it stops after the block at hand.
  Cancel = false;
  int Calls = 0;
  const auto Progress = [&](int, bool) {
    ++Calls;
    Cancel = true;
  };
  EXPECT_EQ(FindText(File, Pattern, 0, false, Cancel, Progress, 100).Outcome, Outcome::Cancelled);
  EXPECT_EQ(Calls, 1);
}

TEST(TextSearch, UnreadableWhenGoneAndFileChangedWhenCutDuringTheSearch) {
  TempDir Dir;
  const TSearchPattern Pattern(Plain("b"), Gb);
  EXPECT_THROW(Find(Dir.Path("missing.txt"), Pattern, 0, false), EFileUnreadable);
  const std::string File = Dir.Write("text.txt", std::string(1000, 'a'));
  const std::atomic<bool> Cancel{false};
  const auto CutTheFile = [&](int, bool) { Dir.Write("text.txt", "ab"); };
  EXPECT_EQ(FindText(File, Pattern, 0, false, Cancel, CutTheFile, 100).Outcome, Outcome::FileChanged);
}

// A file that grows under the search, as a log does, is searched over the bytes it had when the search
// began; one that grew because it was written anew still stops it.
TEST(TextSearch, GrowthGoesOnOverTheBytesThereAtTheStart) {
  const struct {
    const char* Name;
    const char* Query;
    bool Rewritten;  // the file written anew, longer, rather than added to
    Outcome Expected;
  } Rows[] = {{"HitInTheOldPart", "b", false, Outcome::Found},
              {"HitOnlyInTheNewPart", "c", false, Outcome::NotFound},
              {"WrittenAnewLonger", "b", true, Outcome::FileChanged}};
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    TempDir Dir;
    const std::string Start = std::string(1000, 'a') + "b";
    const std::string File = Dir.Write("log.txt", Start);
    const TSearchPattern Pattern(Plain(Row.Query), Gb);
    const std::atomic<bool> Cancel{false};
    const auto Grow = [&](int, bool) {
      if (Row.Rewritten) {
        Dir.Write("log.txt", std::string(2000, 'z') + "b");
      } else {
        std::ofstream Out(File, std::ios::binary | std::ios::app);
        Out << "c\n";
      }
    };
    const TSearchResult Result = FindText(File, Pattern, 0, false, Cancel, Grow, 100);
    EXPECT_EQ(Result.Outcome, Row.Expected);
    EXPECT_EQ(Result.Hit.Start, Row.Expected == Outcome::Found ? 1000 : 0);
  }
}

TEST(TextSearch, BadQueriesSayWhy) {
  const auto Message = [](const TSearchQuery& Query) {
    try {
      TSearchPattern Pattern(Query, Gb);
    } catch (const ESearchQuery& Error) {
      return std::string(Error.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(Message(Plain("")), "请输入要查找的文字");
  EXPECT_EQ(Message(Regex("")), "请输入要查找的文字");
  EXPECT_EQ(Message(Regex("中文(ab")), "正则表达式第 6 个字符处缺少“)”");
  EXPECT_EQ(Message(Plain("\xFF")), "要查找的文字含有无效的字符");
}

// 10,000 characters: found across many blocks of 4 KiB, and as a regular expression (matched a line
// at a time, so in blocks that hold the line).
TEST(TextSearch, LongQueryIsFoundAcrossBlocks) {
  std::string Utf8, GbBytes;
  for (int I = 0; I < 10000; ++I) {
    Utf8 += I % 2 ? "中" : "a";
    GbBytes += I % 2 ? "\xD6\xD0" : "a";
  }
  TempDir Dir;
  const std::string File = Dir.Write("text.txt", "x" + GbBytes + "y\n");
  for (const bool IsRegex : {false, true}) {
    const TSearchPattern Pattern(TSearchQuery{Utf8, false, IsRegex}, Gb);
    const TSearchResult Result = Find(File, Pattern, 0, false, IsRegex ? SearchBlockBytes : 4096);
    EXPECT_EQ(Result.Outcome, Outcome::Found);
    EXPECT_EQ(Result.Hit.Start, 1);
    EXPECT_EQ(Result.Hit.Length, static_cast<TFileOffset>(GbBytes.size()));
  }
}

}  // namespace
