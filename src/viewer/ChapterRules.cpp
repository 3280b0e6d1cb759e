#include "ChapterRules.h"

#include "Unicode.h"

#include <algorithm>
#include <set>
#include <string>

namespace {

// The pieces headings are made of. Each is a PCRE2 fragment over one decoded line (UTF mode, the
// pattern's case as the reader set it: the rules match case and say (?i) where they need it).

// Spaces before, inside and after a heading: ASCII, and the full-width one novels indent with.
const std::string Space = R"([ \t\x{3000}])";

// A heading's number. Chinese numerals include 两 (两百), 〇 (一〇三) and the financial forms books
// sometimes number with (壹佰贰拾叁); the lengths are bounded so a long run of digits is no number.
const std::string ChineseDigits = "零〇一二三四五六七八九十百千万两萬兩壹贰叁肆伍陆柒捌玖拾佰仟";
const std::string Number = "(?:[0-9０-９]{1,9}|[" + ChineseDigits + "]{1,12})";

// 第 and a number, spaces around the number allowed (第 1 章).
const std::string Ordinal = "第" + Space + "*" + Number + Space + "*";

// A line short enough to be a heading: at most 40 characters after its leading spaces. A paragraph
// that begins like one (第一章里写着…) is longer.
const std::string Short = "(?=[^\\r\\n]{1,40}$)";

// A line that reads as a sentence is none: a full stop or a semicolon anywhere in it, a comma at its
// end (it goes on in the next line), or an English full stop after a word (Chapter 7 is my favourite.).
const std::string NoSentence =
    "(?![^\\r\\n]*[。；;])(?![^\\r\\n]*[，,]" + Space + "*$)(?![^\\r\\n]*[A-Za-z]\\." + Space + "*$)";

// What stands between a heading's number and its title.
const std::string Separator = R"([ \t\x{3000}:：、.．·\-—_])";

// A title after a separator: anything, up to the line's end (the line is short already).
const std::string SeparatedTitle = "(?:" + Separator + "+[^\\r\\n]*?)";

// A title glued to its unit (第一章陨落的天才) is a title only when the line does not go on as a
// sentence would: no comma right after the unit (第二章，你先看看), and no end of speech (第9章我看哭了,
// 第三话他没说完就走了, 第二回合开始了！).
const std::string GluedTitle = "(?:(?![，,])[^\\r\\n]*[^ \\t\\x{3000}\\r\\n！？!?…了吗呢吧啊呀])";

// A closing bracket or decoration after the heading, and the line's end.
const std::string Close = "(?:" + Space + "*(?:[】〗\\]］]|={2,}))?" + Space + "*$";

// Strong units take a title straight after them. Each is no unit when the next character makes a word
// with it: 章节, 章的, 章里; 回来, 回合, 回头, 回答; 话说, 话题.
const std::string ChapterUnit = "章(?![节的里中时后前了过完开起就也还都是又])";
const std::string StrongUnit = "(?:" + ChapterUnit + "|[话話](?![说题里的])|回(?![来去合头家到答复应首忆想的]))";

// Weak units make words with what follows (第五节课, 第二集团军, 第三部电话, 第一幕后): a separator
// or the line's end must follow them. 卷 is a volume (below).
const std::string WeakUnit = "[节節集部篇幕]";

// A volume: 第一卷, 卷一, 卷 一, 卷之一, 上卷, 中卷, 下卷, and the halves of a book in two or three
// (上部, 下篇).
const std::string Volume = "(?<volume>" + Ordinal + "卷|卷" + Space + "*之?" + Number + "|[上中下][卷部篇])";

// The front and back matter readers list, alone or before a separated title.
const std::string Keyword =
    "(?:序言|序章|序幕|序|楔子|引子|前言|后记|後記|尾声|尾聲|最终章|最終章|终章|終章|番外篇|番外(?:之?" + Number +
    ")?|外传|外傳|完本感言|上架感言|卷首语|卷首語|作品相关|作品相關|内容简介|內容簡介)";

// English numbers as words (CHAPTER TWO, Chapter Twenty-One) and Roman ones (Chapter IV).
const std::string WordNumber =
    "(?i:(?:one|two|three|four|five|six|seven|eight|nine|ten|eleven|twelve|thirteen|fourteen|fifteen|"
    "sixteen|seventeen|eighteen|nineteen|twenty|thirty|forty|fifty|sixty|seventy|eighty|ninety|hundred)"
    "(?:[- ](?:one|two|three|four|five|six|seven|eight|nine))?)\\b";
const std::string EnglishNumber = "(?:[0-9０-９]{1,4}|" + WordNumber + "|[IVXLC]{1,7}\\b)";

// Chapter 12, CHAPTER TWO, chapter.12.
const std::string EnglishChapter = "(?i:chapter)[ \\t.．:：]*" + EnglishNumber;

// What may come before a heading: a bracket or a decoration (【 〖 ☆、 ==), then 正文, 正文卷 or VIP卷.
const std::string Open = "(?:[【〖\\[［]" + Space + "*|[☆★]、?" + Space + "*|={2,}" + Space + "*)?";
const std::string Prefix = "(?:(?:正文卷?|VIP卷)" + Space + "*)?";

std::string BuildDefault() {
  const std::string Body = "(?:" + Ordinal + StrongUnit + "(?:" + SeparatedTitle + "|" + GluedTitle + ")?" + "|(?:" +
                           Ordinal + WeakUnit + "|" + Volume + "|" + Keyword + "|" + EnglishChapter + ")" +
                           SeparatedTitle + "?)";
  return "^" + Space + "*" + Short + NoSentence + Open + Prefix + Body + Close;
}

// 1. 标题, 1、标题, 001 标题, 一、标题: a number and a title, as some books number their chapters. Such
// lines are lists in other books; the choice of rule tells them apart.
std::string BuildNumbered() {
  const std::string Lead = "(?:[0-9０-９]{1,4}" + Space + "*[.．、](?![0-9０-９])|[0-9]{3,4}(?=" + Space + ")|[" +
                           ChineseDigits + "]{1,6}、)";
  return "^" + Space + "*" + Short + NoSentence + Lead + Space + "*(?![，,])[^ \\t\\x{3000}\\r\\n][^\\r\\n]*?" + Close;
}

// Chapter 12, Part Two, Book III, Prologue, Epilogue…: parts and books are volumes.
std::string BuildEnglish() {
  const std::string Part = "(?<volume>(?i:part|book|volume))[ \\t.:]+" + EnglishNumber;
  const std::string Matter = "(?i:prologue|epilogue|preface|foreword|afterword|interlude|introduction)";
  return "^" + Space + "*" + Short + NoSentence + "(?:" + EnglishChapter + "|" + Part + "|" + Matter + ")" +
         SeparatedTitle + "?" + Close;
}

// 第N章 and nothing else.
std::string BuildStrict() {
  return "^" + Space + "*" + Short + NoSentence + Ordinal + ChapterUnit + "(?:" + SeparatedTitle + "|" + GluedTitle +
         ")?" + Close;
}

}  // namespace

const std::string DefaultChapterPattern = BuildDefault();

std::vector<TChapterRule> BuiltInChapterRules() {
  return {{"默认", DefaultChapterPattern},
          {"数字编号", BuildNumbered()},
          {"英文 Chapter", BuildEnglish()},
          // Off at first: its headings are some of the default's, a choice only the reader can make.
          {"仅“第N章”", BuildStrict(), false}};
}

namespace {

// The value of a Chinese numeral character: a digit (0..9) or a unit (10, 100, 1000, 10000); none
// for any other character.
std::optional<std::uint32_t> ChineseValue(char32_t Character) {
  switch (Character) {
  case U'零': case U'〇': return 0;
  case U'一': case U'壹': return 1;
  case U'二': case U'贰': case U'两': case U'兩': return 2;
  case U'三': case U'叁': return 3;
  case U'四': case U'肆': return 4;
  case U'五': case U'伍': return 5;
  case U'六': case U'陆': return 6;
  case U'七': case U'柒': return 7;
  case U'八': case U'捌': return 8;
  case U'九': case U'玖': return 9;
  case U'十': case U'拾': return 10;
  case U'百': case U'佰': return 100;
  case U'千': case U'仟': return 1000;
  case U'万': case U'萬': return 10000;
  default: return std::nullopt;
  }
}

std::optional<std::uint32_t> DigitValue(char32_t Character) {
  if (Character >= U'0' && Character <= U'9') return Character - U'0';
  if (Character >= U'０' && Character <= U'９') return Character - U'０';
  return std::nullopt;
}

// A run of Chinese numerals: digit by digit when it has no unit (一〇三 is 103), else by its units
// (一百零三, 两千, 十二).
std::optional<std::uint32_t> ChineseNumber(const std::vector<std::uint32_t>& Values) {
  const bool Units = std::any_of(Values.begin(), Values.end(), [](std::uint32_t Value) { return Value >= 10; });
  std::uint64_t Total = 0;
  if (!Units) {
    for (const std::uint32_t Value : Values) Total = Total * 10 + Value;
  } else {
    std::uint64_t Section = 0, Digit = 0;
    bool HasDigit = false;
    for (const std::uint32_t Value : Values) {
      if (Value < 10) {
        Digit = Value;
        HasDigit = true;
      } else if (Value < 10000) {
        Section += (HasDigit ? Digit : 1) * Value;  // 十二: a unit alone counts one of it
        Digit = 0;
        HasDigit = false;
      } else {
        Total += (Section + Digit == 0 ? 1 : Section + Digit) * Value;
        Section = Digit = 0;
        HasDigit = false;
      }
    }
    Total += Section + Digit;
  }
  if (Total > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(Total);
}

}  // namespace

std::optional<std::uint32_t> HeadingNumber(std::string_view Title) {
  // A heading's number comes early (第十二章, Chapter 12, 卷三, 正文卷 第一章); later ones are its title's.
  constexpr std::size_t Reach = 12;
  // What follows a heading's number: its unit, a separator, a bracket, the end. A number followed by
  // anything else is a word of the title (楔子 一个开始, 第二十二章 2019年).
  const std::u32string_view After = U"章回话話节節卷集部篇幕 \t\u3000、.．:：-—_·】〗]］=";
  std::vector<char32_t> Characters;
  for (std::size_t Pos = 0; Pos < Title.size();) {
    const TUtf8Sequence Character = ReadUtf8(Title.substr(Pos));
    Characters.push_back(Character.Valid ? Character.Code : U'\uFFFD');
    Pos += Character.Valid ? Character.Length : 1;
  }
  for (std::size_t Start = 0; Start < std::min(Characters.size(), Reach);) {
    std::vector<std::uint32_t> Arabic, Chinese;
    std::size_t End = Start;
    for (; End < Characters.size(); ++End) {
      const std::optional<std::uint32_t> Digit = DigitValue(Characters[End]);
      const std::optional<std::uint32_t> Numeral = ChineseValue(Characters[End]);
      if (Digit && Chinese.empty())
        Arabic.push_back(*Digit);
      else if (Numeral && Arabic.empty())
        Chinese.push_back(*Numeral);
      else
        break;
    }
    if (End == Start) {
      ++Start;
      continue;
    }
    const bool Ends = End == Characters.size() || After.find(Characters[End]) != std::u32string_view::npos;
    // More digits than a chapter count has are a year, a sum or a code, not a number of headings.
    if (!Ends || Arabic.size() > 9 || Chinese.size() > 12) {
      Start = End;
      continue;
    }
    if (Chinese.empty()) {
      std::uint32_t Value = 0;
      for (const std::uint32_t Digit : Arabic) Value = Value * 10 + Digit;
      return Value;
    }
    return ChineseNumber(Chinese);
  }
  return std::nullopt;
}

namespace {

// How plausible Headings, found in a sample read as Pieces, are as a book's table of contents, 0..1.
double TableOfContentsScore(const std::vector<TChapter>& Headings,
                            const std::vector<std::pair<TFileOffset, TFileOffset>>& Pieces) {
  // Headings less than this apart are one place in the book (a list's items, a table of contents at
  // its start): chapters are longer.
  constexpr TFileOffset Apart = 512;
  // A book's chapters are rarely longer than this: a sample should hold one per so many bytes.
  constexpr double ChapterBytes = 64 * 1024;
  // Where the sample's pieces have room for few headings, a few are enough.
  constexpr double FewestExpected = 2, MostExpected = 8;
  // Cells the sample is cut into to see how evenly the places spread.
  constexpr std::size_t MostCells = 16;

  TFileOffset SampleBytes = 0;
  for (const auto& [From, To] : Pieces) SampleBytes += To - From;
  if (Headings.empty() || SampleBytes <= 0) return 0;

  // Each heading's piece and its position in the sample (the pieces put end to end).
  std::vector<std::size_t> PieceOf;
  std::vector<TFileOffset> Position;
  std::size_t Piece = 0;
  TFileOffset Before = 0;  // the bytes of the pieces before Piece
  for (const TChapter& Heading : Headings) {
    while (Piece + 1 < Pieces.size() && Heading.Offset >= Pieces[Piece].second) {
      Before += Pieces[Piece].second - Pieces[Piece].first;
      ++Piece;
    }
    const auto& [From, To] = Pieces[Piece];
    PieceOf.push_back(Piece);
    Position.push_back(Before + std::clamp<TFileOffset>(Heading.Offset - From, 0, To - From - 1));
  }

  // Places: headings that stand apart from the one before them.
  std::vector<bool> Opens(Headings.size());
  std::vector<TFileOffset> Places;
  for (std::size_t I = 0; I < Headings.size(); ++I) {
    Opens[I] = I == 0 || PieceOf[I] != PieceOf[I - 1] || Headings[I].Offset - Headings[I - 1].Offset >= Apart;
    if (Opens[I]) Places.push_back(Position[I]);
  }

  const double Expected = std::clamp(static_cast<double>(SampleBytes) / ChapterBytes, FewestExpected, MostExpected);
  const double Count = std::min(1.0, static_cast<double>(Places.size()) / Expected);

  // Two places a cell, so that a chapter a little longer than the rest does not leave a cell empty.
  const std::size_t Cells = std::clamp<std::size_t>(Places.size() / 2, 1, MostCells);
  std::set<std::size_t> Hit;
  for (const TFileOffset At : Places)
    Hit.insert(static_cast<std::size_t>(At * static_cast<TFileOffset>(Cells) / SampleBytes));
  const double Spread = static_cast<double>(Hit.size()) / static_cast<double>(Cells);

  // The numbers of the places, one after another within a piece: each the next, or 1 again after a
  // volume's heading. A place's first numbered chapter speaks for it, so a list's items (1, 2, 3 close
  // together) count once, as a 1 that does not follow on.
  int Pairs = 0, Rising = 0;
  std::uint32_t Last = 0;
  bool HasLast = false, NewVolume = false, PlaceNumbered = false;
  for (std::size_t I = 0; I < Headings.size(); ++I) {
    if (I > 0 && PieceOf[I] != PieceOf[I - 1]) HasLast = NewVolume = false;
    if (Opens[I]) PlaceNumbered = false;
    if (Headings[I].Level == 0) {
      NewVolume = true;
      continue;
    }
    const std::optional<std::uint32_t> Number = PlaceNumbered ? std::nullopt : HeadingNumber(Headings[I].Title);
    if (!Number) continue;
    PlaceNumbered = true;
    if (HasLast) {
      ++Pairs;
      if (*Number == Last + 1 || (NewVolume && *Number <= 1)) ++Rising;
    }
    Last = *Number;
    HasLast = true;
    NewVolume = false;
  }
  // Headings without numbers (序章, 楔子, a reader's own kind) neither help nor hurt much.
  const double Sequence = Pairs >= 2 ? static_cast<double>(Rising) / Pairs : 0.5;

  return Count * (0.25 + 0.75 * Spread) * (0.2 + 0.8 * Sequence);
}

}  // namespace

std::optional<std::size_t> ChooseChapterPattern(const std::string& FileName,
                                                const std::vector<const TSearchPattern*>& Patterns,
                                                const std::atomic<bool>& Cancel) {
  // Another pattern takes the place of the one chosen so far only when its headings are a table of
  // contents on their own and clearly better: the default knows the common headings, and the other
  // kinds of line (1. 标题) are also a book's lists.
  constexpr double Plausible = 0.5, Better = 0.15;
  if (Patterns.size() <= 1) return 0;
  const TChapterSample Sample = SampleChapters(FileName, Patterns, Cancel);
  if (Sample.Outcome == TScanOutcome::Cancelled) return std::nullopt;
  if (Sample.Outcome != TScanOutcome::Done) return 0;
  std::size_t Best = 0;
  double BestScore = TableOfContentsScore(Sample.Found[0], Sample.Pieces);
  for (std::size_t I = 1; I < Patterns.size(); ++I) {
    const double Score = TableOfContentsScore(Sample.Found[I], Sample.Pieces);
    if (Score >= Plausible && Score > BestScore + Better) {
      Best = I;
      BestScore = Score;
    }
  }
  return Best;
}
