#include "ChapterScan.h"

#include "TextScan.h"
#include "Unicode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

const char* const DefaultChapterPattern =
    R"(^[ \t\x{3000}]*(?=[^\r\n]{1,30}$))"
    R"((?:第[0-9０-９零一二三四五六七八九十百千万两〇萬兩]+[章回节節卷集部篇](?:[ \t\x{3000}:：、.．·—\-]*[^ \t\x{3000}].*)?)"
    R"(|(?:序章|序言|楔子|引子|尾声|尾聲|后记|後記|番外(?:篇|[0-9０-９零一二三四五六七八九十百千万两〇萬兩]+)?)(?:[ \t\x{3000}:：、.．·—\-]+.*)?)"
    R"(|(?i:chapter)[ \t\x{3000}]*[0-9０-９]+(?:[ \t\x{3000}:：、.．·—\-]+.*)?))"
    R"([ \t\x{3000}]*$)";

namespace {

// The first block is small, so the first headings come at once; then it doubles, as FindText's.
constexpr std::size_t FirstBlockBytes = 64 * 1024;

// The default pattern's cheap test on a line's raw bytes: after spaces, one of the characters a
// heading can begin with. Only lines that pass are decoded and matched, which keeps the scan near the
// speed of reading the file.
class TDefaultLineFilter {
public:
  explicit TDefaultLineFilter(TTextEncoding Encoding) {
    TTextEncoder Encoder(Encoding);
    if (!Encoder) throw std::runtime_error("no converter to " + std::string(RulesOf(Encoding).MenuName));
    // A character the encoding lacks can begin no line of it.
    const auto Add = [&](std::vector<std::string>& To, const char* Utf8) {
      std::string Bytes;
      if (Encoder.Encode(Utf8, Bytes) && !Bytes.empty()) To.push_back(Bytes);
    };
    for (const char* Space : {" ", "\t", "\u3000"}) Add(FSpaces, Space);
    for (const char* Lead : {"第", "序", "楔", "引", "尾", "后", "後", "番", "C", "c"}) Add(FLeads, Lead);
    for (const std::string& Bytes : FSpaces) FFirstByte[static_cast<unsigned char>(Bytes[0])] = true;
    for (const std::string& Bytes : FLeads) FFirstByte[static_cast<unsigned char>(Bytes[0])] = true;
  }

  bool Candidate(std::string_view Line) const {
    std::size_t Pos = 0;
    for (;;) {
      if (Pos >= Line.size() || !FFirstByte[static_cast<unsigned char>(Line[Pos])]) return false;
      const std::string_view Rest = Line.substr(Pos);
      const auto Begins = [&](const std::string& Bytes) { return Rest.starts_with(Bytes); };
      if (std::any_of(FLeads.begin(), FLeads.end(), Begins)) return true;
      const auto Space = std::find_if(FSpaces.begin(), FSpaces.end(), Begins);
      if (Space == FSpaces.end()) return false;
      Pos += Space->size();
    }
  }

private:
  std::vector<std::string> FSpaces, FLeads;
  std::array<bool, 256> FFirstByte{};
};

// A line's text as a title: valid UTF-8 (a byte that begins no character becomes U+FFFD), without
// leading and trailing spaces, at most MaxChapterTitle characters.
std::string TitleOf(std::string_view Line) {
  std::vector<std::string_view> Characters;
  for (std::size_t Pos = 0; Pos < Line.size();) {
    const TUtf8Sequence Character = ReadUtf8(Line.substr(Pos));
    const bool Whole = Character.Valid && !Character.Cut;
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

class TChapterScan {
public:
  TChapterScan(const std::string& FileName, const TSearchPattern::TImpl& Pattern, const std::atomic<bool>& Cancel,
               const std::function<void(std::vector<TChapter>&&)>& OnChapters, const TSearchProgress& Progress,
               std::size_t MaxChapters, std::size_t BlockBytes)
      : FEncoding(Pattern.Encoding), FUnit(CodeUnitBytes(Pattern.Encoding)), FCancel(Cancel),
        FOnChapters(OnChapters), FProgress(Progress), FMaxChapters(MaxChapters),
        FMaxBlock(std::max<std::size_t>(4, BlockBytes / 4 * 4)), FBlock(std::min(FMaxBlock, FirstBlockBytes)),
        FFile(FileName), FMatcher(Pattern) {
    FSize = FFile.Size();
    const std::string_view Mark = RulesOf(FEncoding).ByteOrderMark;
    if (FSize >= static_cast<TFileOffset>(Mark.size())) {
      std::string Head(Mark.size(), '\0');
      FFile.Read(0, static_cast<TFileOffset>(Mark.size()), Head.data(), false);
      if (Head == Mark) FFirst = static_cast<TFileOffset>(Mark.size());
    }
    if (Pattern.Query.Text == DefaultChapterPattern) FFilter.emplace(FEncoding);
  }

  void Run() {
    bool AtLineStart = true;
    for (TFileOffset Cursor = FFirst; Cursor < FSize;) {
      if (FCancel.load(std::memory_order_relaxed)) throw TStop{TSearchOutcome::Cancelled};
      const TFileOffset To = std::min(FSize, Cursor + static_cast<TFileOffset>(FBlock));
      const std::size_t Count = static_cast<std::size_t>(To - Cursor);
      if (FBufferSize < Count) {
        FBuffer.reset(new char[Count]);
        FBufferSize = Count;
      }
      FFile.Read(Cursor, To, FBuffer.get());
      const std::string_view Bytes(FBuffer.get(), Count);
      // The block ends after its last line feed, so that no line is cut; a line longer than the whole
      // block is cut, and the next block starts inside it.
      std::size_t End = Count;
      bool EndsLine = To == FSize;
      if (To < FSize) {
        const std::size_t Cut = AfterLineFeed(FEncoding, Bytes, Cursor, 0, Count, true);
        if (Cut != NoLineFeed) {
          End = Cut;
          EndsLine = true;
        }
      }
      Lines(Bytes.substr(0, End), Cursor, AtLineStart, EndsLine);
      AtLineStart = EndsLine;
      Cursor += static_cast<TFileOffset>(End);
      HandOver();
      Report(Cursor);
      FBlock = std::min(FMaxBlock, FBlock * 2);
    }
  }

  void HandOver() {
    if (FFound.empty()) return;
    FOnChapters(std::move(FFound));
    FFound.clear();
  }

private:
  // The lines of a block; EndsLine: its end is a line's end (the file's end or after a line feed).
  void Lines(std::string_view Bytes, TFileOffset BufferFrom, bool AtLineStart, bool EndsLine) {
    std::size_t Pos = 0;
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
  // end there is no line end ($ does not match).
  void Line(std::string_view Bytes, TFileOffset BufferFrom, std::size_t From, std::size_t To, bool Cut) {
    if (!Cut && To >= From + FUnit && CodeUnitAt(FEncoding, Bytes, To - FUnit) == '\r') To -= FUnit;
    if (FFilter && !FFilter->Candidate(Bytes.substr(From, To - From))) return;
    std::string_view Subject;
    std::uint32_t Options = Cut ? PCRE2_NOTEMPTY | PCRE2_NOTEOL : PCRE2_NOTEMPTY;
    const TEncodingRules& Rules = RulesOf(FEncoding);
    if (Rules.DecodedAsItIs) {
      Subject = Bytes.substr(From, To - From);
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
    if (!FMatcher.Match(Subject, 0, Subject.size(), Options, false)) return;
    if (FCount == FMaxChapters) throw TTooMany{};
    ++FCount;
    FFound.push_back({BufferFrom + static_cast<TFileOffset>(From), TitleOf(Subject)});
  }

  void Report(TFileOffset Cursor) {
    if (!FProgress) return;
    const TFileOffset Total = std::max<TFileOffset>(1, FSize - FFirst);
    const int Permille = static_cast<int>(std::min<TFileOffset>(1000, (Cursor - FFirst) * 1000 / Total));
    if (Permille == FReported) return;
    FReported = Permille;
    FProgress(Permille, false);
  }

  TTextEncoding FEncoding;
  std::size_t FUnit;
  const std::atomic<bool>& FCancel;
  const std::function<void(std::vector<TChapter>&&)>& FOnChapters;
  const TSearchProgress& FProgress;
  std::size_t FMaxChapters;
  std::size_t FMaxBlock;
  std::size_t FBlock;
  TSearchFile FFile;
  TRegexMatcher FMatcher;
  std::optional<TDefaultLineFilter> FFilter;
  TFileOffset FSize = 0;
  TFileOffset FFirst = 0;
  std::unique_ptr<char[]> FBuffer;  // the block, never read beyond what was read into it
  std::size_t FBufferSize = 0;
  std::unique_ptr<char[]> FText;  // a line decoded to UTF-8
  std::size_t FTextSize = 0;
  std::vector<TChapter> FFound;
  std::size_t FCount = 0;
  int FReported = -1;
};

}  // namespace

TScanOutcome ScanChapters(const std::string& FileName, const TSearchPattern& Pattern, const std::atomic<bool>& Cancel,
                          const std::function<void(std::vector<TChapter>&& Found)>& OnChapters,
                          const TSearchProgress& Progress, std::size_t MaxChapters, std::size_t BlockBytes) {
  if (!Pattern.Impl().Code) throw std::invalid_argument("ScanChapters needs a regular expression");
  if (Cancel.load()) return TScanOutcome::Cancelled;
  std::optional<TChapterScan> Scan;
  try {
    Scan.emplace(FileName, Pattern.Impl(), Cancel, OnChapters, Progress, MaxChapters, BlockBytes);
    Scan->Run();
    return TScanOutcome::Done;
  } catch (const TStop& Stop) {
    if (Scan) Scan->HandOver();
    return Stop.Outcome == TSearchOutcome::Cancelled ? TScanOutcome::Cancelled : TScanOutcome::FileChanged;
  } catch (const TTooMany&) {
    Scan->HandOver();
    return TScanOutcome::TooMany;
  }
}
