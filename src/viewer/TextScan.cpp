#include "TextScan.h"

#include "Unicode.h"

#include <algorithm>
#include <cstring>
#include <new>

std::size_t AfterLineFeed(TTextEncoding Encoding, std::string_view Bytes, TFileOffset BufferFrom, std::size_t From,
                          std::size_t To, bool Last) {
  const TEncodingRules& Rules = RulesOf(Encoding);
  const std::size_t Unit = Rules.CodeUnit;
  // Where the line feed's byte stands in its code unit.
  const std::size_t Lag = Rules.LineFeed.find('\n');
  std::size_t Lo = From, Hi = To;
  while (Lo < Hi) {
    const void* Hit = Last ? ::memrchr(Bytes.data() + Lo, '\n', Hi - Lo) : std::memchr(Bytes.data() + Lo, '\n', Hi - Lo);
    if (!Hit) return NoLineFeed;
    const std::size_t At = static_cast<std::size_t>(static_cast<const char*>(Hit) - Bytes.data());
    if (Unit == 1) return At + 1;
    const std::size_t UnitStart = At - std::min(At, Lag);
    if (UnitStart >= From && UnitStart + 2 <= To && (BufferFrom + static_cast<TFileOffset>(UnitStart)) % 2 == 0 &&
        CodeUnitAt(Encoding, Bytes, UnitStart) == '\n')
      return UnitStart + 2;
    if (Last)
      Hi = At;
    else
      Lo = At + 1;
  }
  return NoLineFeed;
}

TRegexMatcher::TRegexMatcher(const TSearchPattern::TImpl& Pattern) : FCode(Pattern.Code) {
  FMatch = pcre2_match_data_create_from_pattern(Pattern.Code, nullptr);
  FContext = pcre2_match_context_create(nullptr);
  if (!FMatch || !FContext) {
    pcre2_match_context_free(FContext);
    pcre2_match_data_free(FMatch);
    throw std::bad_alloc();
  }
}

TRegexMatcher::~TRegexMatcher() {
  pcre2_jit_stack_free(FStack);
  pcre2_match_context_free(FContext);
  pcre2_match_data_free(FMatch);
}

std::optional<std::pair<std::size_t, std::size_t>> TRegexMatcher::Match(std::string_view Subject, std::size_t From,
                                                         std::size_t Limit, std::uint32_t Options, bool Backward) {
  std::optional<std::pair<std::size_t, std::size_t>> Found;
  for (std::size_t Start = From; Start < Limit;) {
    int Matched = pcre2_match(FCode, reinterpret_cast<PCRE2_SPTR>(Subject.data()), Subject.size(), Start,
                              Options, FMatch, FContext);
    if (Matched == PCRE2_ERROR_JIT_STACKLIMIT && !FStack) {
      // A pattern that nests deeply: give the JIT a larger stack than the thread's and try again.
      FStack = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
      if (FStack) {
        pcre2_jit_stack_assign(FContext, nullptr, FStack);
        continue;
      }
    }
    if (Matched == PCRE2_ERROR_NOMATCH) break;
    if (Matched < 0) throw ESearchQuery("正则表达式太复杂，无法在这个文件里查找");
    const PCRE2_SIZE* Ends = pcre2_get_ovector_pointer(FMatch);
    if (Ends[0] >= Limit) break;
    if (Ends[1] > Ends[0] && Ends[0] >= From) {
      Found.emplace(Ends[0], Ends[1]);
      if (!Backward) break;
    }
    // The next match may start inside this one: go on from its next character.
    Start = std::max<std::size_t>(Start, Ends[0]) + 1;
    while (Start < Subject.size() && IsContinuation(static_cast<unsigned char>(Subject[Start]))) ++Start;
  }
  return Found;
}

bool TRegexMatcher::Took(int Number) const {
  if (Number <= 0 || static_cast<std::uint32_t>(Number) >= pcre2_get_ovector_count(FMatch)) return false;
  return pcre2_get_ovector_pointer(FMatch)[2 * Number] != PCRE2_UNSET;
}
