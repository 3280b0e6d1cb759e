#include "ChapterScan.h"

#include "TFileScan.h"
#include "TextScan.h"
#include "Unicode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace {

// A pattern's cheap test on a line's raw bytes, from what its headings can begin with after spaces
// (LineLeadsOf): only lines that pass are decoded and matched, which keeps the scan near the speed of
// reading the file.
class TLineFilter {
public:
  TLineFilter(TTextEncoding Encoding, const TLineLeads& Leads) : FRules(RulesOf(Encoding)), FLeads(Leads) {}

  // Whether Line may be a heading: it begins with a lead, or a carriage return stands inside it (the
  // matcher takes one for a line end, so ^ matches after it whatever the line begins with).
  bool Candidate(std::string_view Line) { return Leads(Line) || HoldsReturn(Line); }

private:
  enum class TKind : std::uint8_t { Space, Lead, Other };
  struct TKnown {
    std::uint32_t Key = 0;
    std::uint8_t Length = 0;  // 0: nothing known here yet
    TKind Kind = TKind::Other;
  };

  // Whether the line begins with a lead after its spaces.
  bool Leads(std::string_view Line) {
    for (std::size_t Pos = 0; Pos < Line.size();) {
      const std::string_view Rest = Line.substr(Pos);
      const std::size_t Length = FRules.Length(Rest, 0);
      TKind Kind;
      if (Length <= std::min<std::size_t>(4, Rest.size())) {
        // A line's first characters are few: each is read and looked up once, then known by its bytes.
        std::uint32_t Key = 0;
        for (std::size_t At = 0; At < Length; ++At) Key = Key << 8 | static_cast<unsigned char>(Rest[At]);
        TKnown& Known = FKnown[((Key ^ static_cast<std::uint32_t>(Length)) * 2654435761u) >> 19];
        if (Known.Length != Length || Known.Key != Key) Known = {Key, static_cast<std::uint8_t>(Length), KindOf(Rest)};
        Kind = Known.Kind;
      } else {
        Kind = KindOf(Rest);
      }
      if (Kind != TKind::Space) return Kind == TKind::Lead;
      Pos += Length;
    }
    return false;
  }

  bool HoldsReturn(std::string_view Line) const {
    if (FRules.CodeUnit == 1) return std::memchr(Line.data(), '\r', Line.size()) != nullptr;
    for (std::size_t Pos = 0; Pos + 2 <= Line.size(); Pos += 2)
      if (CodeUnitAt(FRules.Encoding, Line, Pos) == '\r') return true;
    return false;
  }

  // The character at the start of Bytes as the decoder reads it: bytes that begin none are U+FFFD.
  TKind KindOf(std::string_view Bytes) const {
    const TCharacter Character = FRules.Read(Bytes);
    const bool Whole = Character.Valid && Character.Length <= Bytes.size();
    const char32_t Code = Whole ? Character.CodePoint : ReplacementCharacter;
    if (IsLeadingSpace(Code)) return TKind::Space;
    return FLeads.Contains(Code) ? TKind::Lead : TKind::Other;
  }

  const TEncodingRules& FRules;
  const TLineLeads& FLeads;
  std::array<TKnown, 8192> FKnown{};
};

// A line's text as a title: valid UTF-8 (a byte that begins no character becomes U+FFFD), without
// leading and trailing spaces, at most MaxChapterTitle characters.
std::string TitleOf(std::string_view Line) {
  std::vector<std::string_view> Characters;
  for (std::size_t Pos = 0; Pos < Line.size();) {
    const TUtf8Sequence Character = ReadUtf8(Line.substr(Pos));
    const bool Whole = Character.Valid && Pos + Character.Length <= Line.size();
    Characters.push_back(Whole ? Line.substr(Pos, Character.Length) : std::string_view("\uFFFD"));
    Pos += Whole ? Character.Length : 1;
  }
  const auto Blank = [](std::string_view Character) {
    return Character == " " || Character == "\t" || Character == "\u3000";
  };
  auto Begin = std::find_if_not(Characters.begin(), Characters.end(), Blank);
  auto End = std::find_if_not(Characters.rbegin(), std::make_reverse_iterator(Begin), Blank).base();
  std::string Title;
  for (std::size_t Count = 0; Begin != End && Count < MaxChapterTitle; ++Begin, ++Count) Title += *Begin;
  return Title;
}

struct TTooMany {};

// One pattern's part in a scan: its matcher, its cheap test when the pattern tells what its headings
// begin with, and what it found since the last hand-over.
struct TRuleScan {
  explicit TRuleScan(const TSearchPattern::TImpl& Pattern) : Matcher(Pattern) {
    const int Number = pcre2_substring_number_from_name(Pattern.Code, reinterpret_cast<PCRE2_SPTR>("volume"));
    Volume = std::max(0, Number);
    if (Pattern.Leads) Filter.emplace(Pattern.Encoding, *Pattern.Leads);
  }
  TRegexMatcher Matcher;
  std::optional<TLineFilter> Filter;
  int Volume = 0;  // the number of the group "volume"; 0: the pattern has none
  std::vector<TChapter> Found;
};

// The lines of blocks matched against one pattern or more: the headings of a whole file, or of a
// sample's pieces.
class TChapterLines {
public:
  TChapterLines(const std::vector<const TSearchPattern*>& Patterns, const TFileScan& Scan, std::size_t Cap)
      : FEncoding(Patterns.front()->Encoding()), FUnit(CodeUnitBytes(FEncoding)), FScan(Scan), FCap(Cap) {
    for (const TSearchPattern* Pattern : Patterns) {
      if (!Pattern->Impl().Code) throw std::invalid_argument("ScanChapters needs a regular expression");
      FRules.push_back(std::make_unique<TRuleScan>(Pattern->Impl()));
    }
  }

  // Every line that starts in the block's [From, To): one that runs past the block's bytes is cut there.
  void Match(const TScanBlock& Block) {
    const std::string_view Bytes = Block.Bytes;
    std::size_t Pos = Block.From;
    if (Block.LineStart != Pos || !Block.LineStarts) {
      Pos = AfterLineFeed(FEncoding, Bytes, Block.BufferFrom, Pos, Bytes.size(), false);
      if (Pos == NoLineFeed) return;
    }
    while (Pos < Block.To) {
      FScan.CheckCancel();
      const std::size_t Next = LineEnd(Bytes, Block.BufferFrom, Pos);
      if (Next == NoLineFeed) {
        Line(Bytes, Block.BufferFrom, Pos, Bytes.size(), !Block.TextEnd);
        return;
      }
      Line(Bytes, Block.BufferFrom, Pos, Next - FUnit, false);
      Pos = Next;
    }
  }

  void HandOver(const std::function<void(std::vector<TChapter>&&)>& OnChapters) {
    std::vector<TChapter>& Found = FRules.front()->Found;
    if (Found.empty()) return;
    OnChapters(std::move(Found));
    Found.clear();
  }

  std::vector<std::vector<TChapter>> TakeFound() {
    std::vector<std::vector<TChapter>> Found;
    for (const std::unique_ptr<TRuleScan>& Rule : FRules) Found.push_back(std::move(Rule->Found));
    return Found;
  }

private:
  // Just past the line feed that ends the line at Pos; NoLineFeed: none before the bytes end.
  std::size_t LineEnd(std::string_view Bytes, TFileOffset BufferFrom, std::size_t Pos) const {
    if (FUnit == 2) return AfterLineFeed(FEncoding, Bytes, BufferFrom, Pos, Bytes.size(), false);
    const void* Feed = std::memchr(Bytes.data() + Pos, '\n', Bytes.size() - Pos);
    return Feed ? static_cast<std::size_t>(static_cast<const char*>(Feed) - Bytes.data()) + 1 : NoLineFeed;
  }

  // The line Bytes[From, To), its line feed left off; Cut: the line goes on beyond the block, so its
  // end there is no line end ($ does not match). It is decoded once, for the first pattern that wants it.
  void Line(std::string_view Bytes, TFileOffset BufferFrom, std::size_t From, std::size_t To, bool Cut) {
    if (!Cut && To >= From + FUnit && CodeUnitAt(FEncoding, Bytes, To - FUnit) == '\r') To -= FUnit;
    const std::string_view Raw = Bytes.substr(From, To - From);
    std::optional<std::string_view> Subject;
    std::uint32_t Options = Cut ? PCRE2_NOTEMPTY | PCRE2_NOTEOL : PCRE2_NOTEMPTY;
    for (const std::unique_ptr<TRuleScan>& Rule : FRules) {
      if (Rule->Filter && !Rule->Filter->Candidate(Raw)) continue;
      if (!Subject) {
        const TEncodingRules& Rules = RulesOf(FEncoding);
        if (Rules.DecodedAsItIs) {
          Subject = Raw;
        } else {
          // Decoded text is valid UTF-8, so the matcher need not check it.
          Options |= PCRE2_NO_UTF_CHECK;
          const std::size_t Need = (To - From) * Utf8BytesPerByte + 8;
          if (FTextSize < Need) {
            FText.reset(new char[Need]);
            FTextSize = Need;
          }
          char* Out = FText.get();
          Rules.Decode(Bytes.substr(0, To), From, To, Out);
          Subject = std::string_view(FText.get(), static_cast<std::size_t>(Out - FText.get()));
        }
      }
      if (!Rule->Matcher.Match(*Subject, 0, Subject->size(), Options, false)) continue;
      if (FCount == FCap) throw TTooMany{};
      ++FCount;
      const std::uint8_t Level = Rule->Volume > 0 && Rule->Matcher.Took(Rule->Volume) ? 0 : 1;
      Rule->Found.push_back({BufferFrom + static_cast<TFileOffset>(From), TitleOf(*Subject), Level});
    }
  }

  TTextEncoding FEncoding;
  std::size_t FUnit;
  const TFileScan& FScan;
  std::size_t FCap;
  std::vector<std::unique_ptr<TRuleScan>> FRules;
  std::unique_ptr<char[]> FText;  // a line decoded to UTF-8
  std::size_t FTextSize = 0;
  std::size_t FCount = 0;
};

// The pieces of a sample of the text [First, Size): the book's start, where a first piece of equal size
// would often hold front matter only, and pieces from all through the rest, so that headings can show
// how evenly they are spread.
std::vector<std::pair<TFileOffset, TFileOffset>> SamplePlan(TFileOffset First, TFileOffset Size, std::size_t SampleBytes) {
  constexpr int Spread = 8;
  if (static_cast<std::size_t>(Size - First) <= SampleBytes) return {{First, Size}};
  const auto Head = static_cast<TFileOffset>(SampleBytes / 2);
  const auto Piece = static_cast<TFileOffset>((SampleBytes - SampleBytes / 2) / Spread);
  const TFileOffset Rest = Size - First - Head;
  std::vector<std::pair<TFileOffset, TFileOffset>> Plan = {{First, First + Head}};
  for (int K = 0; K < Spread; ++K) {
    TFileOffset From = First + Head + Rest / (2 * Spread) * (2 * K + 1) - Piece / 2;
    From -= From % 2;  // a UTF-16 unit's start
    Plan.emplace_back(From, std::min(Size, From + Piece));
  }
  return Plan;
}

}  // namespace

TScanOutcome ScanChapters(const std::string& FileName, const TSearchPattern& Pattern, const std::atomic<bool>& Cancel,
                          const std::function<void(std::vector<TChapter>&& Found)>& OnChapters,
                          const TSearchProgress& Progress, std::size_t Cap, std::size_t BlockBytes) {
  if (!Pattern.Impl().Code) throw std::invalid_argument("ScanChapters needs a regular expression");
  if (Cancel.load()) return TScanOutcome::Cancelled;
  std::optional<TFileScan> Scan;
  std::optional<TChapterLines> Lines;
  try {
    Scan.emplace(FileName, Pattern.Encoding(), Cancel, Progress, BlockBytes);
    Lines.emplace(std::vector<const TSearchPattern*>{&Pattern}, *Scan, Cap);
    Scan->Walk(Scan->First(), Scan->Size(), false, false, TBlockEdges{true, 0}, [&](const TScanBlock& Block) {
      Lines->Match(Block);
      Lines->HandOver(OnChapters);
      return false;
    });
    return TScanOutcome::Done;
  } catch (const TStop& Stop) {
    if (Lines) Lines->HandOver(OnChapters);
    return Stop.Outcome == TSearchOutcome::Cancelled ? TScanOutcome::Cancelled : TScanOutcome::FileChanged;
  } catch (const TTooMany&) {
    Lines->HandOver(OnChapters);
    return TScanOutcome::TooMany;
  }
}

TChapterSample SampleChapters(const std::string& FileName, const std::vector<const TSearchPattern*>& Patterns,
                              const std::atomic<bool>& Cancel, std::size_t SampleBytes) {
  TChapterSample Result;
  Result.Found.resize(Patterns.size());
  if (Patterns.empty()) return Result;
  if (Cancel.load()) {
    Result.Outcome = TScanOutcome::Cancelled;
    return Result;
  }
  std::optional<TFileScan> Scan;
  std::optional<TChapterLines> Lines;
  try {
    Scan.emplace(FileName, Patterns.front()->Encoding(), Cancel, TSearchProgress(), SearchBlockBytes);
    Lines.emplace(Patterns, *Scan, static_cast<std::size_t>(-1));
    for (const auto& [From, To] : SamplePlan(Scan->First(), Scan->Size(), SampleBytes))
      if (const std::optional<TScanBlock> Block = Scan->Piece(From, To)) {
        Lines->Match(*Block);
        Result.Pieces.emplace_back(Block->Offset(Block->From), Block->Offset(Block->To));
      }
  } catch (const TStop& Stop) {
    Result.Outcome = Stop.Outcome == TSearchOutcome::Cancelled ? TScanOutcome::Cancelled : TScanOutcome::FileChanged;
  }
  if (Lines) Result.Found = Lines->TakeFound();
  return Result;
}
