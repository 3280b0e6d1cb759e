#include "TextSearch.h"

#include "ReadPage.h"
#include "RegexErrors.h"
#include "TextScan.h"
#include "Unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// ---- The compiled query -------------------------------------------------------------------------------


namespace {

// The code points of UTF-8 text with the bytes of each; empty when the text is not valid UTF-8.
std::vector<std::string_view> Utf8Characters(std::string_view Text, std::vector<char32_t>& Codes) {
  std::vector<std::string_view> Characters;
  std::size_t Pos = 0;
  while (Pos < Text.size()) {
    const TUtf8Sequence Character = ReadUtf8(Text.substr(Pos));
    if (!Character.Valid || Character.Cut) {
      Codes.clear();
      return {};
    }
    Characters.push_back(Text.substr(Pos, Character.Length));
    Codes.push_back(Character.Code);
    Pos += Character.Length;
  }
  return Characters;
}

// The letter in its other case: ASCII and the full-width Latin letters; 0 for anything else.
char32_t OtherCase(char32_t Code) {
  if (Code >= 'A' && Code <= 'Z') return Code + 0x20;
  if (Code >= 'a' && Code <= 'z') return Code - 0x20;
  if (Code >= 0xFF21 && Code <= 0xFF3A) return Code + 0x20;
  if (Code >= 0xFF41 && Code <= 0xFF5A) return Code - 0x20;
  return 0;
}

std::string Utf8Of(char32_t Code) {
  char Bytes[4];
  return {Bytes, static_cast<std::size_t>(PutUtf8(Code, Bytes) - Bytes)};
}

// Characters of the query in the bytes of one encoding.
class TQueryEncoder {
public:
  explicit TQueryEncoder(TTextEncoding Encoding) : FName(RulesOf(Encoding).MenuName), FEncoder(Encoding) {
    if (!FEncoder) throw ESearchQuery(std::string("无法转换为 ") + FName + " 编码");
  }

  std::string operator()(std::string_view Character) {
    std::string Bytes;
    if (!FEncoder.Encode(Character, Bytes))
      throw ESearchQuery("要查找的文字中的“" + std::string(Character) + "”无法用 " + FName + " 编码表示");
    return Bytes;
  }

private:
  const char* FName;
  TTextEncoder FEncoder;
};

// How often a byte turns up in text, roughly: zero bytes (UTF-16's other half of ASCII), then ASCII
// (letters, spaces, line ends), then the rest. The scan probes the rarest bytes of the query.
int Commonness(unsigned char Byte) {
  if (Byte == 0) return 3;
  if (Byte == ' ' || Byte == '\r' || Byte == '\n' || (Byte >= 'a' && Byte <= 'z')) return 2;
  return Byte < 0x80 ? 1 : 0;
}

void CompilePlain(TSearchPattern::TImpl& Impl) {
  std::vector<char32_t> Codes;
  const std::vector<std::string_view> Characters = Utf8Characters(Impl.Query.Text, Codes);
  if (Characters.empty()) throw ESearchQuery("要查找的文字含有无效的字符");
  TQueryEncoder Encode(Impl.Encoding);
  for (std::size_t I = 0; I < Characters.size(); ++I) {
    const std::string Bytes = Encode(Characters[I]);
    std::string OtherBytes = Bytes;
    if (!Impl.Query.MatchCase && OtherCase(Codes[I]) != 0) OtherBytes = Encode(Utf8Of(OtherCase(Codes[I])));
    if (OtherBytes.size() != Bytes.size()) OtherBytes = Bytes;  // never in the encodings we know
    const bool TwoCases = OtherBytes != Bytes;
    if (!Impl.Spans.empty() && !TwoCases && !Impl.Spans.back().TwoCases)
      Impl.Spans.back().Length += Bytes.size();
    else
      Impl.Spans.push_back({Impl.Needle.size(), Bytes.size(), TwoCases});
    Impl.Needle += Bytes;
    Impl.Other += OtherBytes;
  }
  // The last rarest byte and, before it, the first rarest other one.
  const std::size_t Length = Impl.Needle.size();
  const auto Rank = [&](std::size_t At) { return Commonness(static_cast<unsigned char>(Impl.Needle[At])); };
  std::size_t Second = Length - 1;
  for (std::size_t At = Length; At-- > 0;)
    if (Rank(At) < Rank(Second)) Second = At;
  std::size_t First = Second;
  for (std::size_t At = 0; At < Length; ++At)
    if (At != Second && (First == Second || Rank(At) < Rank(First))) First = At;
  Impl.ProbeFirst = std::min(First, Second);
  Impl.ProbeSecond = std::max(First, Second);
}

// Characters of UTF-8 Text before byte Offset.
std::size_t CharactersBefore(std::string_view Text, std::size_t Offset) {
  std::size_t Count = 0;
  for (std::size_t Pos = 0; Pos < std::min(Offset, Text.size()); ++Pos)
    if (!IsContinuation(static_cast<unsigned char>(Text[Pos]))) ++Count;
  return Count;
}

void CompileRegex(TSearchPattern::TImpl& Impl) {
  std::uint32_t Options = PCRE2_UTF | PCRE2_MULTILINE;
  if (!Impl.Query.MatchCase) Options |= PCRE2_CASELESS;
  // The file's own bytes are matched in UTF-8; they may hold bytes that are no character.
  if (RulesOf(Impl.Encoding).DecodedAsItIs) Options |= PCRE2_MATCH_INVALID_UTF;
  pcre2_compile_context* Context = pcre2_compile_context_create(nullptr);
  // Novels end their lines in CR LF: $ belongs before the CR.
  pcre2_set_newline(Context, PCRE2_NEWLINE_ANYCRLF);
  int Error = 0;
  PCRE2_SIZE ErrorOffset = 0;
  const std::string& Text = Impl.Query.Text;
  Impl.Code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(Text.data()), Text.size(), Options, &Error, &ErrorOffset,
                            Context);
  pcre2_compile_context_free(Context);
  if (!Impl.Code) throw ESearchQuery(RegexFaultMessage(Error, CharactersBefore(Text, ErrorOffset) + 1));
  // Without the JIT (not built for this machine) the same pattern is interpreted, only slower.
  pcre2_jit_compile(Impl.Code, PCRE2_JIT_COMPLETE);
}

}  // namespace

TSearchPattern::TSearchPattern(const TSearchQuery& Query, TTextEncoding Encoding) : FImpl(std::make_unique<TImpl>()) {
  FImpl->Query = Query;
  FImpl->Encoding = Encoding;
  if (Query.Text.empty()) throw ESearchQuery("请输入要查找的文字");
  if (Query.Regex)
    CompileRegex(*FImpl);
  else
    CompilePlain(*FImpl);
}

TSearchPattern::~TSearchPattern() = default;

const TSearchQuery& TSearchPattern::Query() const { return FImpl->Query; }

TTextEncoding TSearchPattern::Encoding() const { return FImpl->Encoding; }

// ---- Reading the file ---------------------------------------------------------------------------------

namespace {

// How far before a block the scan looks for the start of the line (a regular expression's ^ and
// look-behind): as far as the page reader looks.
constexpr std::size_t ContextBytes = LookBackBytes;
// What a regular expression's block reads before it first: a line start is nearly always that close.
constexpr std::size_t LineContextBytes = 1024;
// The first block: small, so a hit near the start comes back at once.
constexpr std::size_t FirstBlockBytes = 64 * 1024;

// One step of a scan: hits are looked for that start in [ScanFrom, ScanTo); the buffer holds the
// file's bytes [BufferFrom, BufferTo) around them.
struct TBlock {
  TFileOffset BufferFrom = 0;
  TFileOffset ScanFrom = 0;
  TFileOffset ScanTo = 0;
  TFileOffset BufferTo = 0;
  bool ScanFromLineStart = false;  // ScanFrom follows a line feed (or is where the text begins)
};

// ---- Plain text ---------------------------------------------------------------------------------------

class TPlainScan {
public:
  explicit TPlainScan(const TSearchPattern::TImpl& Pattern) : FPattern(Pattern) {}

  std::size_t Tail() const { return FPattern.Needle.size() - 1 + 3; }

  // The first (Backward: the last) hit in the buffer that starts in [ScanFrom, ScanTo) and starts a
  // character, as buffer offsets.
  std::optional<std::pair<std::size_t, std::size_t>> Find(std::string_view Bytes, std::size_t ScanFrom,
                                                          std::size_t ScanTo, TCharacterStarts& Starts,
                                                          bool Backward) const {
    const std::size_t Length = FPattern.Needle.size();
    if (Bytes.size() < Length) return std::nullopt;
    ScanTo = std::min(ScanTo, Bytes.size() - Length + 1);
    if (ScanFrom >= ScanTo) return std::nullopt;
    std::optional<std::pair<std::size_t, std::size_t>> Found;
    const auto Visit = [&](std::size_t Pos) {
      if (!Matches(Bytes.data() + Pos) || !Starts(Pos)) return false;
      Found.emplace(Pos, Length);
      return !Backward;
    };
    Candidates(reinterpret_cast<const unsigned char*>(Bytes.data()), ScanFrom, ScanTo, Visit);
    return Found;
  }

private:
  bool Matches(const char* At) const {
    for (const TNeedleSpan& Span : FPattern.Spans) {
      if (std::memcmp(At + Span.Offset, FPattern.Needle.data() + Span.Offset, Span.Length) == 0) continue;
      if (!Span.TwoCases || std::memcmp(At + Span.Offset, FPattern.Other.data() + Span.Offset, Span.Length) != 0)
        return false;
    }
    return true;
  }

  // Calls Visit with each offset in [From, To) where the two probe bytes fit, in order, until it
  // returns true. Bytes holds the whole needle from every such offset.
  template <class TVisit>
  void Candidates(const unsigned char* Bytes, std::size_t From, std::size_t To, TVisit& Visit) const {
    const std::size_t P1 = FPattern.ProbeFirst, P2 = FPattern.ProbeSecond;
    const unsigned char A1 = static_cast<unsigned char>(FPattern.Needle[P1]);
    const unsigned char B1 = static_cast<unsigned char>(FPattern.Other[P1]);
    const unsigned char A2 = static_cast<unsigned char>(FPattern.Needle[P2]);
    const unsigned char B2 = static_cast<unsigned char>(FPattern.Other[P2]);
    std::size_t Pos = From;
#ifdef __SSE2__
    // Sixteen offsets at a time: both probe bytes compared at once, and only where both fit is the
    // whole needle compared.
    const __m128i First1 = _mm_set1_epi8(static_cast<char>(A1)), Second1 = _mm_set1_epi8(static_cast<char>(B1));
    const __m128i First2 = _mm_set1_epi8(static_cast<char>(A2)), Second2 = _mm_set1_epi8(static_cast<char>(B2));
    for (; Pos + 16 <= To; Pos += 16) {
      const __m128i X = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Bytes + Pos + P1));
      const __m128i Y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Bytes + Pos + P2));
      const __m128i Fit = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(X, First1), _mm_cmpeq_epi8(X, Second1)),
                                        _mm_or_si128(_mm_cmpeq_epi8(Y, First2), _mm_cmpeq_epi8(Y, Second2)));
      unsigned Mask = static_cast<unsigned>(_mm_movemask_epi8(Fit));
      while (Mask != 0) {
        if (Visit(Pos + static_cast<std::size_t>(__builtin_ctz(Mask)))) return;
        Mask &= Mask - 1;
      }
    }
#endif
    for (; Pos < To; ++Pos) {
      const unsigned char X = Bytes[Pos + P1], Y = Bytes[Pos + P2];
      if ((X == A1 || X == B1) && (Y == A2 || Y == B2) && Visit(Pos)) return;
    }
  }

  const TSearchPattern::TImpl& FPattern;
};

}  // namespace

// ---- Regular expressions ------------------------------------------------------------------------------

namespace {

class TRegexScan {
public:
  explicit TRegexScan(const TSearchPattern::TImpl& Pattern)
      : FPattern(Pattern), FRules(RulesOf(Pattern.Encoding)), FMatcher(Pattern) {}
  TRegexScan(const TRegexScan&) = delete;
  TRegexScan& operator=(const TRegexScan&) = delete;

  // The first (Backward: the last) match in the buffer that starts in [ScanFrom, ScanTo), as buffer
  // offsets. The text is matched from Begin, a character start at or before ScanFrom; NotBol: Begin
  // starts no line; NotEol: the buffer's end is not the end of the text.
  std::optional<std::pair<std::size_t, std::size_t>> Find(std::string_view Bytes, std::size_t Begin,
                                                          std::size_t ScanFrom, std::size_t ScanTo, bool NotBol,
                                                          bool NotEol, bool Backward) {
    std::uint32_t Options = PCRE2_NOTEMPTY;
    if (NotBol) Options |= PCRE2_NOTBOL;
    if (FRules.DecodedAsItIs) {
      // The matcher starts on a character: past the continuation bytes of one begun before.
      for (int Skipped = 0; Skipped < 3 && ScanFrom < ScanTo && IsContinuation(static_cast<unsigned char>(Bytes[ScanFrom]));
           ++Skipped)
        ++ScanFrom;
      const std::string_view Subject = Bytes.substr(Begin);
      const auto Found = FMatcher.Match(Subject, ScanFrom - Begin, ScanTo - Begin, NotEol ? Options | PCRE2_NOTEOL : Options,
                               Backward);
      if (!Found) return std::nullopt;
      return std::make_pair(Begin + Found->first, Found->second - Found->first);
    }
    return FindDecoded(Bytes, Begin, ScanFrom, ScanTo, Options | PCRE2_NO_UTF_CHECK, NotEol, Backward);
  }

private:
  // Decoded text is valid UTF-8, so the matcher need not check it. Forward, the text is decoded and
  // matched a piece of lines at a time: the first hit is most often near.
  std::optional<std::pair<std::size_t, std::size_t>> FindDecoded(std::string_view Bytes, std::size_t Begin,
                                                                 std::size_t ScanFrom, std::size_t ScanTo,
                                                                 std::uint32_t Options, bool NotEol, bool Backward) {
    constexpr std::size_t PieceBytes = 4 * 1024;
    const TTextEncoding Encoding = FPattern.Encoding;
    const std::size_t Need = (Bytes.size() - Begin) * Utf8BytesPerByte + 8;
    if (FTextSize < Need) {
      FText.reset(new char[Need]);
      FTextSize = Need;
    }
    char* Out = FText.get();
    const std::size_t Resume = FRules.Decode(Bytes, Begin, ScanFrom, Out);
    const std::size_t StartAt = static_cast<std::size_t>(Out - FText.get());
    std::optional<std::size_t> Limit;  // where the characters that start from ScanTo on begin
    if (ScanTo <= Resume) Limit = StartAt;
    std::optional<std::pair<std::size_t, std::size_t>> Found;
    std::size_t Raw = Resume, MatchFrom = StartAt;
    while (Raw < Bytes.size() && !(Limit && MatchFrom >= *Limit)) {
      std::size_t PieceEnd = Bytes.size();
      if (!Backward && Raw + PieceBytes < Bytes.size()) {
        const std::size_t Line = AfterLineFeed(Encoding, Bytes, 0, Raw + PieceBytes, Bytes.size(), false);
        if (Line != NoLineFeed) PieceEnd = Line;
      }
      if (!Limit && ScanTo <= PieceEnd) {
        Raw = FRules.Decode(Bytes, Raw, ScanTo, Out);
        Limit = static_cast<std::size_t>(Out - FText.get());
      }
      Raw = FRules.Decode(Bytes, Raw, PieceEnd, Out);
      const std::string_view Subject(FText.get(), static_cast<std::size_t>(Out - FText.get()));
      const bool Whole = Raw >= Bytes.size();
      Found = FMatcher.Match(Subject, MatchFrom, Limit ? *Limit : Subject.size(),
                    Whole && !NotEol ? Options : Options | PCRE2_NOTEOL, Backward);
      if (Found) break;
      MatchFrom = Subject.size();
    }
    if (!Found) return std::nullopt;
    // Back to the file's bytes: walk the characters from the first one scanned.
    const std::size_t HitStart = FRules.SkipDecoded(Bytes, Resume, Found->first - StartAt);
    const std::size_t HitEnd = FRules.SkipDecoded(Bytes, HitStart, Found->second - Found->first);
    return std::make_pair(HitStart, HitEnd - HitStart);
  }

  const TSearchPattern::TImpl& FPattern;
  const TEncodingRules& FRules;
  TRegexMatcher FMatcher;
  std::unique_ptr<char[]> FText;  // the decoded block, never read beyond what was written
  std::size_t FTextSize = 0;
};

// ---- The scan -----------------------------------------------------------------------------------------

class TScan {
public:
  TScan(const std::string& FileName, const TSearchPattern::TImpl& Pattern, const std::atomic<bool>& Cancel,
        const TSearchProgress& Progress, std::size_t BlockBytes)
      : FEncoding(Pattern.Encoding), FCancel(Cancel), FProgress(Progress),
        FMaxBlock(std::max<std::size_t>(4, BlockBytes / 4 * 4)), FBlock(std::min(FMaxBlock, FirstBlockBytes)) {
    FFile.emplace(FileName);
    FSize = FFile->Size();
    const std::string_view Mark = RulesOf(FEncoding).ByteOrderMark;
    if (FSize >= static_cast<TFileOffset>(Mark.size())) {
      std::string Head(Mark.size(), '\0');
      FFile->Read(0, static_cast<TFileOffset>(Mark.size()), Head.data(), false);
      if (Head == Mark) FFirst = static_cast<TFileOffset>(Mark.size());
    }
    if (Pattern.Code)
      FRegex.emplace(Pattern);
    else
      FPlain.emplace(Pattern);
  }

  TFileOffset First() const { return FFirst; }
  TFileOffset Size() const { return FSize; }

  // The first (Backward: the last) hit that starts in [Lo, Hi).
  std::optional<TSearchHit> Range(TFileOffset Lo, TFileOffset Hi, bool Backward, bool Wrapped) {
    FWrapped = Wrapped;
    FAtLineStart = false;
    TFileOffset Cursor = Backward ? Hi : Lo;
    while (Backward ? Cursor > Lo : Cursor < Hi) {
      if (FCancel.load(std::memory_order_relaxed)) throw TStop{TSearchOutcome::Cancelled};
      const TBlock Block = FRegex ? RegexBlock(Cursor, Lo, Hi, Backward) : PlainBlock(Cursor, Lo, Hi, Backward);
      const std::optional<TSearchHit> Hit = Scan(Block, Backward);
      Cursor = Backward ? Block.ScanFrom : Block.ScanTo;
      FAtLineStart = Backward ? Block.ScanFromLineStart : LineStartAt(Block, Block.ScanTo);
      Report(Block.ScanTo - Block.ScanFrom);
      if (Hit) return Hit;
      FBlock = std::min(FMaxBlock, FBlock * 2);
    }
    return std::nullopt;
  }

private:
  std::string_view Bytes(const TBlock& Block) const {
    return {FBuffer.get(), static_cast<std::size_t>(Block.BufferTo - Block.BufferFrom)};
  }

  void Load(TBlock& Block) {
    const std::size_t Count = static_cast<std::size_t>(Block.BufferTo - Block.BufferFrom);
    if (FBufferSize < Count) {
      FBuffer.reset(new char[Count]);
      FBufferSize = Count;
    }
    FFile->Read(Block.BufferFrom, Block.BufferTo, FBuffer.get());
  }

  // Whether a line starts at Offset, as far as the block's buffer shows.
  bool LineStartAt(const TBlock& Block, TFileOffset Offset) const {
    if (Offset == FFirst) return true;
    const TFileOffset Unit = static_cast<TFileOffset>(CodeUnitBytes(FEncoding));
    if (Offset - Unit < Block.BufferFrom || Offset > Block.BufferTo) return false;
    const std::size_t At = static_cast<std::size_t>(Offset - Unit - Block.BufferFrom);
    return CodeUnitAt(FEncoding, Bytes(Block), At) == '\n';
  }

  TBlock PlainBlock(TFileOffset Cursor, TFileOffset Lo, TFileOffset Hi, bool Backward) {
    TBlock Block;
    const TFileOffset Step = static_cast<TFileOffset>(FBlock);
    Block.ScanFrom = Backward ? std::max(Lo, Cursor - Step) : Cursor;
    Block.ScanTo = Backward ? Cursor : std::min(Hi, Cursor + Step);
    // As far before the block as a byte that surely starts a character may lie.
    const TFileOffset Context = static_cast<TFileOffset>(RulesOf(FEncoding).StartReach);
    Block.BufferFrom = std::max<TFileOffset>(0, Block.ScanFrom - Context);
    Block.BufferTo = std::min(FSize, Block.ScanTo + static_cast<TFileOffset>(FPlain->Tail()));
    Load(Block);
    return Block;
  }

  // Blocks that end after a line feed, so that a match inside a line is never cut; a line longer than
  // a block is cut, and the next block starts half a block back.
  TBlock RegexBlock(TFileOffset Cursor, TFileOffset Lo, TFileOffset Hi, bool Backward) {
    TBlock Block;
    const TFileOffset Step = static_cast<TFileOffset>(FBlock);
    const TFileOffset Context = FAtLineStart ? 4 : static_cast<TFileOffset>(LineContextBytes);
    if (!Backward) {
      Block.ScanFrom = Cursor;
      Block.BufferFrom = std::max(FFirst, Cursor - Context);
      Block.BufferTo = std::min(FSize, Cursor + Step);
      Load(Block);
      if (Block.BufferTo == FSize) {
        Block.ScanTo = Hi;
      } else {
        const std::size_t From = static_cast<std::size_t>(Cursor - Block.BufferFrom);
        const std::size_t Cut = AfterLineFeed(FEncoding, Bytes(Block), Block.BufferFrom, From, Bytes(Block).size(), true);
        if (Cut != NoLineFeed) {
          Block.BufferTo = Block.BufferFrom + static_cast<TFileOffset>(Cut);
          Block.ScanTo = std::min(Hi, Block.BufferTo);
        } else {
          Block.ScanTo = std::min(Hi, Cursor + Step / 2);
        }
      }
    } else {
      const TFileOffset Start = std::max(Lo, Cursor - Step);
      Block.ScanTo = Cursor;
      Block.BufferFrom = std::max(FFirst, Start - Context);
      // A match that starts before the cursor may run on to the end of its line.
      Block.BufferTo = FAtLineStart ? Cursor : std::min(FSize, Cursor + Step / 2);
      Load(Block);
      const TFileOffset Unit = static_cast<TFileOffset>(CodeUnitBytes(FEncoding));
      if (Block.BufferTo > Cursor) {
        const std::size_t From = static_cast<std::size_t>(std::max(Block.BufferFrom, Cursor - Unit) - Block.BufferFrom);
        const std::size_t Cut = AfterLineFeed(FEncoding, Bytes(Block), Block.BufferFrom, From, Bytes(Block).size(), false);
        if (Cut != NoLineFeed) Block.BufferTo = Block.BufferFrom + static_cast<TFileOffset>(Cut);
      }
      Block.ScanFrom = Start;
      if (Start > Lo) {
        const std::size_t From = static_cast<std::size_t>(Start - Block.BufferFrom);
        const std::size_t To = static_cast<std::size_t>(Cursor - Block.BufferFrom);
        const std::size_t Cut = AfterLineFeed(FEncoding, Bytes(Block), Block.BufferFrom, From, To, false);
        if (Cut != NoLineFeed && Cut < To)
          Block.ScanFrom = Block.BufferFrom + static_cast<TFileOffset>(Cut);
        else
          Block.ScanFrom = std::max(Lo, Cursor - Step / 2);
      }
    }
    Block.ScanFromLineStart = LineStartAt(Block, Block.ScanFrom);
    // No line start in the bytes read before the block: read on back as far as the page reader looks.
    const TFileOffset Farthest = std::max(FFirst, Block.ScanFrom - static_cast<TFileOffset>(ContextBytes));
    if (!Block.ScanFromLineStart && Block.BufferFrom > Farthest &&
        AfterLineFeed(FEncoding, Bytes(Block), Block.BufferFrom, 0,
                      static_cast<std::size_t>(Block.ScanFrom - Block.BufferFrom), true) == NoLineFeed) {
      Block.BufferFrom = Farthest;
      Load(Block);
    }
    return Block;
  }

  // Where the characters before ScanFrom are surely known to start.
  std::size_t KnownStart(const TBlock& Block) const {
    return RulesOf(FEncoding).KnownStart(Bytes(Block), static_cast<std::size_t>(Block.ScanFrom - Block.BufferFrom));
  }

  std::optional<TSearchHit> Scan(const TBlock& Block, bool Backward) {
    const std::string_view Text = Bytes(Block);
    const std::size_t ScanFrom = static_cast<std::size_t>(Block.ScanFrom - Block.BufferFrom);
    const std::size_t ScanTo = static_cast<std::size_t>(Block.ScanTo - Block.BufferFrom);
    std::optional<std::pair<std::size_t, std::size_t>> Found;
    if (FPlain) {
      TCharacterStarts Starts(FEncoding, Text, Block.BufferFrom, 0);
      Found = FPlain->Find(Text, ScanFrom, ScanTo, Starts, Backward);
    } else {
      std::size_t Begin = ScanFrom;
      bool NotBol = false;
      if (!Block.ScanFromLineStart) {
        const std::size_t Line = AfterLineFeed(FEncoding, Text, Block.BufferFrom, 0, ScanFrom, true);
        if (Line != NoLineFeed) {
          Begin = Line;
        } else {
          Begin = KnownStart(Block);
          NotBol = Block.BufferFrom + static_cast<TFileOffset>(Begin) != FFirst;
        }
      }
      Found = FRegex->Find(Text, Begin, ScanFrom, ScanTo, NotBol, Block.BufferTo < FSize, Backward);
    }
    if (!Found) return std::nullopt;
    return TSearchHit{Block.BufferFrom + static_cast<TFileOffset>(Found->first),
                      static_cast<TFileOffset>(Found->second)};
  }

  void Report(TFileOffset Scanned) {
    FScanned += Scanned;
    if (!FProgress) return;
    const TFileOffset Total = std::max<TFileOffset>(1, FSize - FFirst);
    const int Permille = static_cast<int>(std::min<TFileOffset>(1000, FScanned * 1000 / Total));
    if (Permille == FReported && FWrapped == FReportedWrapped) return;
    FReported = Permille;
    FReportedWrapped = FWrapped;
    FProgress(Permille, FWrapped);
  }

  TTextEncoding FEncoding;
  const std::atomic<bool>& FCancel;
  const TSearchProgress& FProgress;
  std::size_t FMaxBlock;
  std::size_t FBlock;
  std::optional<TSearchFile> FFile;
  TFileOffset FSize = 0;
  TFileOffset FFirst = 0;
  std::optional<TPlainScan> FPlain;
  std::optional<TRegexScan> FRegex;
  std::unique_ptr<char[]> FBuffer;  // the block, never read beyond what was read into it
  std::size_t FBufferSize = 0;
  bool FAtLineStart = false;
  bool FWrapped = false;
  TFileOffset FScanned = 0;
  int FReported = -1;
  bool FReportedWrapped = false;
};

}  // namespace

TSearchResult FindText(const std::string& FileName, const TSearchPattern& Pattern, TFileOffset From, bool Backward,
                       const std::atomic<bool>& Cancel, const TSearchProgress& Progress, std::size_t BlockBytes) {
  TSearchResult Result;
  try {
    if (Cancel.load()) throw TStop{TSearchOutcome::Cancelled};
    TScan Scan(FileName, Pattern.Impl(), Cancel, Progress, BlockBytes);
    From = std::clamp(From, Scan.First(), Scan.Size());
    // UTF-16 characters start at even offsets only.
    if (CodeUnitBytes(Pattern.Encoding()) == 2 && From % 2 != 0 && From < Scan.Size()) ++From;
    const TFileOffset Lo[2] = {Backward ? Scan.First() : From, Backward ? From : Scan.First()};
    const TFileOffset Hi[2] = {Backward ? From : Scan.Size(), Backward ? Scan.Size() : From};
    for (int Pass = 0; Pass < 2; ++Pass)
      if (const std::optional<TSearchHit> Hit = Scan.Range(Lo[Pass], Hi[Pass], Backward, Pass == 1)) {
        Result.Outcome = TSearchOutcome::Found;
        Result.Hit = *Hit;
        Result.Wrapped = Pass == 1;
        return Result;
      }
    Result.Outcome = TSearchOutcome::NotFound;
  } catch (const TStop& Stop) {
    Result = TSearchResult{Stop.Outcome, {}, false};
  }
  return Result;
}
