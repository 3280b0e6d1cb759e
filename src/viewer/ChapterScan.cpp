#include "ChapterScan.h"

#include "ChapterRules.h"
#include "TextScan.h"
#include "Unicode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>


namespace {

// The first block is small, so the first headings come at once; then it doubles, as FindText's.
constexpr std::size_t FirstBlockBytes = 64 * 1024;

// The most bytes one character takes in any encoding a file is read in (GB18030 and UTF-8: 4, UTF-16:
// a surrogate pair); a byte that begins no character counts as one.
constexpr std::size_t MaxCharacterBytes = 4;

// A built-in rule's cheap test on a line's raw bytes: after spaces, one of the characters its headings
// begin with, and no more bytes than its longest heading can take. Only lines that pass are decoded and
// matched, which keeps the scan near the speed of reading the file.
class TLineFilter {
public:
  TLineFilter(TTextEncoding Encoding, const TLineLeads& Leads) : FMaxBytes(Leads.MaxCharacters * MaxCharacterBytes) {
    TTextEncoder Encoder(Encoding);
    if (!Encoder) throw std::runtime_error("no converter to " + std::string(RulesOf(Encoding).MenuName));
    // A character the encoding lacks can begin no line of it.
    const auto Encode = [&](std::string_view Utf8) {
      std::string Bytes;
      if (!Encoder.Encode(Utf8, Bytes)) Bytes.clear();
      return Bytes;
    };
    for (const char* Space : {" ", "\t", "\u3000"}) Add(Encode(Space), true);
    for (std::size_t Pos = 0; Pos < Leads.Leads.size();) {
      const std::size_t Length = ReadUtf8(Leads.Leads.substr(Pos)).Length;
      Add(Encode(Leads.Leads.substr(Pos, Length)), false);
      Pos += Length;
    }
  }

  bool Candidate(std::string_view Line) const {
    for (std::size_t Pos = 0; Pos < Line.size();) {
      const std::string_view Rest = Line.substr(Pos);
      const std::vector<TEntry>& Entries = FByFirstByte[static_cast<unsigned char>(Rest[0])];
      const auto Entry = std::find_if(Entries.begin(), Entries.end(),
                                      [&](const TEntry& Entry) { return Rest.starts_with(Entry.Bytes); });
      if (Entry == Entries.end()) return false;
      if (!Entry->Space) return Rest.size() <= FMaxBytes;
      Pos += Entry->Bytes.size();
    }
    return false;
  }

private:
  // A space or a lead, in the encoding's bytes; looked up by its first byte, so a line costs a table
  // look-up or two (most begin with neither, or with a space and then neither).
  struct TEntry {
    std::string Bytes;
    bool Space = false;
  };
  void Add(const std::string& Bytes, bool Space) {
    if (Bytes.empty()) return;
    const auto First = static_cast<unsigned char>(Bytes.front());
    FByFirstByte[First].push_back(TEntry{Bytes, Space});
  }

  std::size_t FMaxBytes;
  std::array<std::vector<TEntry>, 256> FByFirstByte;
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

// One pattern's part in a scan: its matcher, its cheap test when it is a built-in rule's, and what it
// found since the last hand-over.
struct TRuleScan {
  explicit TRuleScan(const TSearchPattern::TImpl& Pattern) : Matcher(Pattern) {
    const int Number = pcre2_substring_number_from_name(Pattern.Code, reinterpret_cast<PCRE2_SPTR>("volume"));
    Volume = std::max(0, Number);
    if (const std::optional<TLineLeads> Leads = LineLeadsOf(Pattern.Query.Text)) Filter.emplace(Pattern.Encoding, *Leads);
  }
  TRegexMatcher Matcher;
  std::optional<TLineFilter> Filter;
  int Volume = 0;  // the number of the group "volume"; 0: the pattern has none
  std::vector<TChapter> Found;
};

// Lines of a file matched against one pattern or more: the whole file in growing blocks (Run), or a
// sample of pieces (Sample).
class TChapterScan {
public:
  TChapterScan(const std::string& FileName, const std::vector<const TSearchPattern*>& Patterns,
               const std::atomic<bool>& Cancel, std::size_t MaxChapters, std::size_t BlockBytes)
      : FEncoding(Patterns.front()->Encoding()), FUnit(CodeUnitBytes(FEncoding)), FCancel(Cancel),
        FMaxChapters(MaxChapters), FMaxBlock(std::max<std::size_t>(4, BlockBytes / 4 * 4)),
        FBlock(std::min(FMaxBlock, FirstBlockBytes)), FFile(FileName) {
    for (const TSearchPattern* Pattern : Patterns) {
      if (!Pattern->Impl().Code) throw std::invalid_argument("ScanChapters needs a regular expression");
      FRules.push_back(std::make_unique<TRuleScan>(Pattern->Impl()));
    }
    FSize = FFile.Size();
    const std::string_view Mark = RulesOf(FEncoding).ByteOrderMark;
    if (FSize >= static_cast<TFileOffset>(Mark.size())) {
      std::string Head(Mark.size(), '\0');
      FFile.Read(0, static_cast<TFileOffset>(Mark.size()), Head.data(), false);
      if (Head == Mark) FFirst = static_cast<TFileOffset>(Mark.size());
    }
  }

  void Run(const std::function<void(std::vector<TChapter>&&)>& OnChapters, const TSearchProgress& Progress) {
    bool AtLineStart = true;
    for (TFileOffset Cursor = FFirst; Cursor < FSize;) {
      if (FCancel.load(std::memory_order_relaxed)) throw TStop{TSearchOutcome::Cancelled};
      const TFileOffset To = std::min(FSize, Cursor + static_cast<TFileOffset>(FBlock));
      const std::string_view Bytes = Read(Cursor, To);
      // The block ends after its last line feed, so that no line is cut; a line longer than the whole
      // block is cut, and the next block starts inside it.
      std::size_t End = Bytes.size();
      bool EndsLine = To == FSize;
      if (To < FSize) {
        const std::size_t Cut = AfterLineFeed(FEncoding, Bytes, Cursor, 0, Bytes.size(), true);
        if (Cut != NoLineFeed) {
          End = Cut;
          EndsLine = true;
        }
      }
      Lines(Bytes.substr(0, End), Cursor, 0, AtLineStart, EndsLine);
      AtLineStart = EndsLine;
      Cursor += static_cast<TFileOffset>(End);
      HandOver(OnChapters);
      Report(Progress, Cursor);
      FBlock = std::min(FMaxBlock, FBlock * 2);
    }
  }

  void HandOver(const std::function<void(std::vector<TChapter>&&)>& OnChapters) {
    std::vector<TChapter>& Found = FRules.front()->Found;
    if (Found.empty()) return;
    OnChapters(std::move(Found));
    Found.clear();
  }

  void Sample(std::size_t SampleBytes, TChapterSample& Result) {
    // The book's start, where a first piece of equal size would often hold front matter only, and
    // pieces from all through the rest, so that headings can show how evenly they are spread.
    constexpr int Spread = 8;
    std::vector<std::pair<TFileOffset, TFileOffset>> Plan;
    const auto Length = static_cast<std::size_t>(FSize - FFirst);
    if (Length <= SampleBytes) {
      Plan.emplace_back(FFirst, FSize);
    } else {
      const auto Head = static_cast<TFileOffset>(SampleBytes / 2);
      const auto Piece = static_cast<TFileOffset>((SampleBytes - SampleBytes / 2) / Spread);
      const TFileOffset Rest = FSize - FFirst - Head;
      Plan.emplace_back(FFirst, FFirst + Head);
      for (int K = 0; K < Spread; ++K) {
        TFileOffset From = FFirst + Head + Rest / (2 * Spread) * (2 * K + 1) - Piece / 2;
        From -= From % 2;  // a UTF-16 unit's start
        Plan.emplace_back(From, std::min(FSize, From + Piece));
      }
    }
    for (const auto& [From, To] : Plan) {
      if (FCancel.load(std::memory_order_relaxed)) throw TStop{TSearchOutcome::Cancelled};
      const std::string_view Bytes = Read(From, To);
      // Whole lines only: from after the first line feed (but at the text's start) to after the last.
      const std::size_t Begin = From == FFirst ? 0 : AfterLineFeed(FEncoding, Bytes, From, 0, Bytes.size(), false);
      if (Begin == NoLineFeed) continue;
      const std::size_t End =
          To == FSize ? Bytes.size() : AfterLineFeed(FEncoding, Bytes, From, Begin, Bytes.size(), true);
      if (End == NoLineFeed || End <= Begin) continue;
      Lines(Bytes.substr(0, End), From, Begin, true, true);
      Result.Pieces.emplace_back(From + static_cast<TFileOffset>(Begin), From + static_cast<TFileOffset>(End));
    }
  }

  std::vector<std::vector<TChapter>> TakeFound() {
    std::vector<std::vector<TChapter>> Found;
    for (const std::unique_ptr<TRuleScan>& Rule : FRules) Found.push_back(std::move(Rule->Found));
    return Found;
  }

private:
  std::string_view Read(TFileOffset From, TFileOffset To) {
    const auto Count = static_cast<std::size_t>(To - From);
    if (FBufferSize < Count) {
      FBuffer.reset(new char[Count]);
      FBufferSize = Count;
    }
    FFile.Read(From, To, FBuffer.get());
    return std::string_view(FBuffer.get(), Count);
  }

  // The lines of Bytes from Pos on; EndsLine: its end is a line's end (the file's end or after a line
  // feed).
  void Lines(std::string_view Bytes, TFileOffset BufferFrom, std::size_t Pos, bool AtLineStart, bool EndsLine) {
    bool LineStart = AtLineStart;
    while (Pos < Bytes.size()) {
      const std::size_t Next = AfterLineFeed(FEncoding, Bytes, BufferFrom, Pos, Bytes.size(), false);
      if (LineStart) {
        if (FCancel.load(std::memory_order_relaxed)) throw TStop{TSearchOutcome::Cancelled};
        Line(Bytes, BufferFrom, Pos, Next == NoLineFeed ? Bytes.size() : Next - FUnit, Next == NoLineFeed && !EndsLine);
      }
      if (Next == NoLineFeed) break;
      Pos = Next;
      LineStart = true;
    }
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
      if (FCount == FMaxChapters) throw TTooMany{};
      ++FCount;
      const std::uint8_t Level = Rule->Volume > 0 && Rule->Matcher.Took(Rule->Volume) ? 0 : 1;
      Rule->Found.push_back({BufferFrom + static_cast<TFileOffset>(From), TitleOf(*Subject), Level});
    }
  }

  void Report(const TSearchProgress& Progress, TFileOffset Cursor) {
    if (!Progress) return;
    const TFileOffset Total = std::max<TFileOffset>(1, FSize - FFirst);
    const int Permille = static_cast<int>(std::min<TFileOffset>(1000, (Cursor - FFirst) * 1000 / Total));
    if (Permille == FReported) return;
    FReported = Permille;
    Progress(Permille, false);
  }

  TTextEncoding FEncoding;
  std::size_t FUnit;
  const std::atomic<bool>& FCancel;
  std::size_t FMaxChapters;
  std::size_t FMaxBlock;
  std::size_t FBlock;
  TSearchFile FFile;
  std::vector<std::unique_ptr<TRuleScan>> FRules;
  TFileOffset FSize = 0;
  TFileOffset FFirst = 0;
  std::unique_ptr<char[]> FBuffer;  // the block, never read beyond what was read into it
  std::size_t FBufferSize = 0;
  std::unique_ptr<char[]> FText;  // a line decoded to UTF-8
  std::size_t FTextSize = 0;
  std::size_t FCount = 0;
  int FReported = -1;
};

}  // namespace

TScanOutcome ScanChapters(const std::string& FileName, const TSearchPattern& Pattern, const std::atomic<bool>& Cancel,
                          const std::function<void(std::vector<TChapter>&& Found)>& OnChapters,
                          const TSearchProgress& Progress, std::size_t Cap, std::size_t BlockBytes) {
  if (!Pattern.Impl().Code) throw std::invalid_argument("ScanChapters needs a regular expression");
  if (Cancel.load()) return TScanOutcome::Cancelled;
  std::optional<TChapterScan> Scan;
  try {
    Scan.emplace(FileName, std::vector<const TSearchPattern*>{&Pattern}, Cancel, Cap, BlockBytes);
    Scan->Run(OnChapters, Progress);
    return TScanOutcome::Done;
  } catch (const TStop& Stop) {
    if (Scan) Scan->HandOver(OnChapters);
    return Stop.Outcome == TSearchOutcome::Cancelled ? TScanOutcome::Cancelled : TScanOutcome::FileChanged;
  } catch (const TTooMany&) {
    Scan->HandOver(OnChapters);
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
  std::optional<TChapterScan> Scan;
  try {
    Scan.emplace(FileName, Patterns, Cancel, static_cast<std::size_t>(-1), SearchBlockBytes);
    Scan->Sample(SampleBytes, Result);
  } catch (const TStop& Stop) {
    Result.Outcome = Stop.Outcome == TSearchOutcome::Cancelled ? TScanOutcome::Cancelled : TScanOutcome::FileChanged;
  }
  if (Scan) Result.Found = Scan->TakeFound();
  return Result;
}
