// The chapter scan on random files with a built-in rule, a pattern put together from pieces of
// heading patterns, or the bytes as they come. Input: the encoding, the kind of pattern and text, the
// block size, the pattern's pieces, then the text: its bytes, or each byte a piece of headings and
// text in the file's encoding. It never crashes or hangs; the headings come in file order, each at a
// line's start, with a title of valid UTF-8 without the spaces around it; and they are the lines PCRE2
// matches, each decoded on its own: the scan's test of what a line begins with passes over none.

#include "ChapterRules.h"
#include "ChapterScan.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "LineMatches.h"
#include "TempDir.h"
#include "TextSearch.h"
#include "Unicode.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <string>
#include <vector>

namespace {

// Pieces of patterns: anchors, spaces, the characters headings begin with, classes, groups, options.
const char* const PatternPieces[] = {
    "^",     "\\A",  "[ \\t\\x{3000}]*", "\\s*", "\\h*", "第",    "章",   "[0-9一二三]+", "(?i)", "(?i:c)", "chapter",
    "|",     "(?:",  ")",                "?",    "*",    "{1,3}", "(?=", "(?!",          ".",    "[^a]",   "\\x{3000}",
    "卷",    "a",    "$",                "\\r",  "\\d",  "\\w",   "(?<volume>",         "\\b",  "[上下]", "k",
    "[ａ-ｚ]", "\\Q", "\\E",             "(*FAIL)", "\\x{212A}", "(?-i)", "[\\x{2000}-\\x{200A}]", "(?x)", " ", "+"};

// Pieces of text: headings' characters, spaces of every kind, line ends alone and together, letters
// with other cases.
const char* const TextPieces[] = {"第",  "章", "一", "1",  "　",  " ",      "\t",     "\r\n", "\n", "\r", "a",
                                  "A",   "k",  "K",  "\u212A", "卷", "上",     "序",     "Chapter ", "Ｂ", "ｂ", "。",
                                  "，",  "【", "\u2003", "\v", "正文", "x",   "\xFF"};

struct TFound {
  std::vector<TChapter> Chapters;
  TScanOutcome Outcome = TScanOutcome::Done;
};

TFound Scan(const std::string& File, const TSearchPattern& Pattern, std::size_t Block) {
  const std::atomic<bool> Never{false};
  TFound Found;
  Found.Outcome = ScanChapters(
      File, Pattern, Never,
      [&](std::vector<TChapter>&& Batch) { Found.Chapters.insert(Found.Chapters.end(), Batch.begin(), Batch.end()); },
      {}, MaxChapters, Block);
  return Found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const TempDir Folder;
  TFuzzInput Input(Data, Size);
  const TEncodingRules& Rules = Encodings()[Input.Take<std::uint8_t>() % Encodings().size()];
  const auto Kind = Input.Take<std::uint8_t>();
  const bool MatchCase = Kind & 1, TextOfPieces = Kind & 2;
  const std::size_t Block = 16 + Input.Take<std::uint8_t>() % 128;
  // The pattern: a built-in rule, pieces, or raw bytes.
  const auto Count = Input.Take<std::uint8_t>();
  std::string Pattern;
  static const std::vector<TChapterRule> BuiltIn = BuiltInChapterRules();
  const bool IsBuiltIn = Kind >> 2 & 1;
  if (IsBuiltIn) {
    Pattern = BuiltIn[Count % BuiltIn.size()].Pattern;
  } else if (Kind >> 3 & 1) {
    for (unsigned I = 0; I < Count % 16u; ++I) Pattern += PatternPieces[Input.Take<std::uint8_t>() % std::size(PatternPieces)];
  } else {
    for (unsigned I = 0; I < Count % 16u; ++I) Pattern += Input.Take<char>();
  }
  std::string Bytes;
  if (TextOfPieces) {
    TTextEncoder Encoder(Rules.Encoding);
    for (const char Pick : Input.Rest()) {
      const std::string_view Piece = TextPieces[static_cast<unsigned char>(Pick) % std::size(TextPieces)];
      std::string Encoded;
      Bytes += Encoder.Encode(Piece, Encoded) ? Encoded : std::string(Piece);
    }
  } else {
    Bytes = Input.Rest();
  }

  // The built-in rules compiled once: their JIT code takes longer to make than a scan here.
  static std::map<std::tuple<std::string, TTextEncoding, bool>, std::unique_ptr<const TSearchPattern>> Known;
  std::unique_ptr<const TSearchPattern> Own;
  const TSearchPattern* Compiled = nullptr;
  try {
    const auto Compile = [&] { return std::make_unique<const TSearchPattern>(TSearchQuery{Pattern, MatchCase, true}, Rules.Encoding); };
    if (IsBuiltIn) {
      auto& Kept = Known[{Pattern, Rules.Encoding, MatchCase}];
      if (!Kept) Kept = Compile();
      Compiled = Kept.get();
    } else {
      Own = Compile();
      Compiled = Own.get();
    }
  } catch (const ESearchQuery&) {
    return 0;
  }
  const std::string File = Folder.Write("book.txt", Bytes);
  TFound Whole, Small;
  try {
    Whole = Scan(File, *Compiled, SearchBlockBytes);
    Small = Scan(File, *Compiled, Block);
  } catch (const ESearchQuery&) {
    return 0;  // a pattern PCRE2 gives up on
  }
  FUZZ_REQUIRE(Whole.Outcome == TScanOutcome::Done && Small.Outcome == TScanOutcome::Done);

  const std::size_t First = Bytes.starts_with(Rules.ByteOrderMark) ? Rules.ByteOrderMark.size() : 0;
  std::vector<TDecodedLine> Lines = DecodedLines(Rules.Encoding, Bytes, First);
  std::vector<TFileOffset> LineStarts;
  for (const TDecodedLine& Line : Lines) LineStarts.push_back(Line.Start);
  for (const TFound* Found : {&Whole, &Small}) {
    TFileOffset Last = -1;
    for (const TChapter& Chapter : Found->Chapters) {
      FUZZ_REQUIRE(Chapter.Offset > Last && std::binary_search(LineStarts.begin(), LineStarts.end(), Chapter.Offset));
      Last = Chapter.Offset;
      std::u32string Title;
      for (std::size_t Pos = 0; Pos < Chapter.Title.size();) {
        const TUtf8Sequence Character = ReadUtf8(std::string_view(Chapter.Title).substr(Pos));
        FUZZ_REQUIRE(Character.Valid && !Character.Cut);
        Title += Character.Code;
        Pos += Character.Length;
      }
      const auto Space = [](char32_t Code) { return Code == ' ' || Code == '\t' || Code == 0x3000; };
      FUZZ_REQUIRE(Title.size() <= MaxChapterTitle);
      // A title cut at its most characters may end in a space of the line.
      FUZZ_REQUIRE(Title.empty() || (!Space(Title.front()) && (Title.size() == MaxChapterTitle || !Space(Title.back()))));
    }
  }

  // Within one block, every line whole: the headings are the lines PCRE2 matches somewhere.
  pcre2_code* Code = CompileAsTheSearch(Pattern, Rules.Encoding, MatchCase);
  FUZZ_REQUIRE(Code != nullptr);
  std::vector<TFileOffset> Matched;
  bool GaveUp = false;
  for (TDecodedLine& Line : Lines) {
    Line.DropReturn();
    std::size_t Begin = 0, End = 0;
    int Found = 0;
    for (std::size_t I = 0; I < Line.CharacterStarts.size() && Found == 0; ++I)
      Found = MatchAt(Code, Line, Line.CharacterStarts[I], Begin, End);
    GaveUp = Found < 0;  // the reference gave up: nothing to hold the scan to
    if (GaveUp) break;
    if (Found > 0) Matched.push_back(Line.Start);
  }
  pcre2_code_free(Code);
  if (GaveUp) return 0;
  FUZZ_REQUIRE(Whole.Chapters.size() == Matched.size());
  for (std::size_t I = 0; I < Matched.size(); ++I) FUZZ_REQUIRE(Whole.Chapters[I].Offset == Matched[I]);
  return 0;
}
