#include "TextSearch.h"

#include "RegexErrors.h"
#include "TFileScan.h"
#include "TextScan.h"
#include "Unicode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

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

// Each needle byte with its other case is a class; a file byte belongs to at most one, else the needle
// keeps no classes. The prefix function is Knuth-Morris-Pratt's over the classes.
void CompileClasses(TSearchPattern::TImpl& Impl) {
  Impl.ByteClass.fill(-1);
  std::vector<std::pair<unsigned char, unsigned char>> Members;
  std::vector<std::int16_t> Classes;
  Classes.reserve(Impl.Needle.size());
  for (std::size_t At = 0; At < Impl.Needle.size(); ++At) {
    const auto A = static_cast<unsigned char>(Impl.Needle[At]), B = static_cast<unsigned char>(Impl.Other[At]);
    const std::pair<unsigned char, unsigned char> Pair{std::min(A, B), std::max(A, B)};
    std::int16_t Class = Impl.ByteClass[A];
    if (Class < 0 && Impl.ByteClass[B] < 0) {
      Class = static_cast<std::int16_t>(Members.size());
      Members.push_back(Pair);
      Impl.ByteClass[A] = Impl.ByteClass[B] = Class;
    } else if (Class < 0 || Impl.ByteClass[B] != Class || Members[static_cast<std::size_t>(Class)] != Pair) {
      Impl.ByteClass.fill(-1);
      return;
    }
    Classes.push_back(Class);
  }
  std::vector<std::uint32_t> Borders(Classes.size(), 0);
  for (std::size_t At = 1, Length = 0; At < Classes.size(); ++At) {
    while (Length > 0 && Classes[At] != Classes[Length]) Length = Borders[Length - 1];
    if (Classes[At] == Classes[Length]) ++Length;
    Borders[At] = static_cast<std::uint32_t>(Length);
  }
  Impl.NeedleClasses = std::move(Classes);
  Impl.Borders = std::move(Borders);
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
  CompileClasses(Impl);
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
  Impl.Leads = LineLeadsOf(Text, !Impl.Query.MatchCase);
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

namespace {

// ---- Plain text ---------------------------------------------------------------------------------------

class TPlainScan {
public:
  explicit TPlainScan(const TSearchPattern::TImpl& Pattern) : FPattern(Pattern) {}

  // The bytes a block needs past its end: a hit that starts in it, and the next character's start.
  std::size_t Tail() const { return FPattern.Needle.size() - 1 + 3; }

  // The first (Backward: the last) hit in the block that starts a character, as buffer positions.
  std::optional<std::pair<std::size_t, std::size_t>> Find(const TScanBlock& Block, bool Backward) const {
    const std::string_view Bytes = Block.Bytes;
    TCharacterStarts Starts(FPattern.Encoding, Bytes, Block.BufferFrom, 0);
    std::size_t ScanFrom = Block.From, ScanTo = Block.To;
    const std::size_t Length = FPattern.Needle.size();
    if (Bytes.size() < Length) return std::nullopt;
    ScanTo = std::min(ScanTo, Bytes.size() - Length + 1);
    if (ScanFrom >= ScanTo) return std::nullopt;
    std::optional<std::pair<std::size_t, std::size_t>> Found;
    // Probing is fastest while the probes rarely fit; where they fit so often that comparing whole
    // needles costs more than a few passes over the bytes, the rest of the block goes the linear way.
    std::size_t Compared = 0;
    std::optional<std::size_t> Linear;
    const auto Visit = [&](std::size_t Pos) {
      Compared += Length;
      if (Compared > 4 * (Pos - ScanFrom) + 65536 && !FPattern.NeedleClasses.empty()) {
        Linear = Pos;
        return true;
      }
      if (!Matches(Bytes.data() + Pos) || !Starts(Pos)) return false;
      Found.emplace(Pos, Length);
      return !Backward;
    };
    Candidates(reinterpret_cast<const unsigned char*>(Bytes.data()), ScanFrom, ScanTo, Visit);
    if (Linear) FindLinear(Bytes, *Linear, ScanTo, Backward, Starts, Found);
    return Found;
  }

private:
  // Every hit starting in [From, To) in order, by the needle's classes, until the first when forward.
  void FindLinear(std::string_view Bytes, std::size_t From, std::size_t To, bool Backward, TCharacterStarts& Starts,
                  std::optional<std::pair<std::size_t, std::size_t>>& Found) const {
    const std::vector<std::int16_t>& Classes = FPattern.NeedleClasses;
    const std::size_t Length = Classes.size();
    std::size_t Matched = 0;
    for (std::size_t At = From; At < To + Length - 1; ++At) {
      const std::int16_t Class = FPattern.ByteClass[static_cast<unsigned char>(Bytes[At])];
      while (Matched > 0 && Classes[Matched] != Class) Matched = FPattern.Borders[Matched - 1];
      if (Classes[Matched] == Class) ++Matched;
      if (Matched < Length) continue;
      const std::size_t Pos = At + 1 - Length;
      Matched = FPattern.Borders[Length - 1];
      if (!Starts(Pos)) continue;
      Found.emplace(Pos, Length);
      if (!Backward) return;
    }
  }

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

// ---- Regular expressions ------------------------------------------------------------------------------

class TRegexScan {
public:
  explicit TRegexScan(const TSearchPattern::TImpl& Pattern)
      : FPattern(Pattern), FRules(RulesOf(Pattern.Encoding)), FMatcher(Pattern) {}
  TRegexScan(const TRegexScan&) = delete;
  TRegexScan& operator=(const TRegexScan&) = delete;

  // The first (Backward: the last) match in the block, as buffer positions. The text is matched from
  // the start of the block's first line (or a character start before it, where no line starts).
  std::optional<std::pair<std::size_t, std::size_t>> Find(const TScanBlock& Block, bool Backward) {
    const std::string_view Bytes = Block.Bytes;
    const std::size_t Begin = Block.LineStart, ScanTo = Block.To;
    const bool NotEol = !Block.TextEnd;
    std::size_t ScanFrom = Block.From;
    std::uint32_t Options = PCRE2_NOTEMPTY;
    if (!Block.LineStarts) Options |= PCRE2_NOTBOL;
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

}  // namespace

TSearchResult FindText(const std::string& FileName, const TSearchPattern& Pattern, TFileOffset From, bool Backward,
                       const std::atomic<bool>& Cancel, const TSearchProgress& Progress, std::size_t BlockBytes) {
  TSearchResult Result;
  try {
    if (Cancel.load()) throw TStop{TSearchOutcome::Cancelled};
    const TSearchPattern::TImpl& Impl = Pattern.Impl();
    TFileScan Scan(FileName, Impl.Encoding, Cancel, Progress, BlockBytes);
    std::optional<TPlainScan> Plain;
    std::optional<TRegexScan> Regex;
    if (Impl.Code)
      Regex.emplace(Impl);
    else
      Plain.emplace(Impl);
    const TBlockEdges Edges = Regex ? TBlockEdges{true, 0} : TBlockEdges{false, Plain->Tail()};
    const auto Match = [&](const TScanBlock& Block) {
      const auto Found = Plain ? Plain->Find(Block, Backward) : Regex->Find(Block, Backward);
      if (Found) Result.Hit = TSearchHit{Block.Offset(Found->first), static_cast<TFileOffset>(Found->second)};
      return Found.has_value();
    };
    From = std::clamp(From, Scan.First(), Scan.Size());
    // UTF-16 characters start at even offsets only.
    if (CodeUnitBytes(Impl.Encoding) == 2 && From % 2 != 0 && From < Scan.Size()) ++From;
    const TFileOffset Lo[2] = {Backward ? Scan.First() : From, Backward ? From : Scan.First()};
    const TFileOffset Hi[2] = {Backward ? From : Scan.Size(), Backward ? Scan.Size() : From};
    for (int Pass = 0; Pass < 2; ++Pass)
      if (Scan.Walk(Lo[Pass], Hi[Pass], Backward, Pass == 1, Edges, Match)) {
        Result.Outcome = TSearchOutcome::Found;
        Result.Wrapped = Pass == 1;
        return Result;
      }
    Result.Outcome = TSearchOutcome::NotFound;
  } catch (const TStop& Stop) {
    Result = TSearchResult{Stop.Outcome, {}, false};
  }
  return Result;
}
