#pragma once

// The pieces the matchers of a file's scan share (FindText's search, ScanChapters' headings): the
// compiled query, line feeds in any encoding and the regular expression matcher. Private to the
// engine: it brings PCRE2 with it.

#include "FileOffset.h"
#include "LineLeads.h"
#include "TextEncoding.h"
#include "TextSearch.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A stretch of the plain query's bytes: where the two cases of a letter differ, either form matches.
struct TNeedleSpan {
  std::size_t Offset = 0;
  std::size_t Length = 0;
  bool TwoCases = false;
};

struct TSearchPattern::TImpl {
  TSearchQuery Query;
  TTextEncoding Encoding = TTextEncoding::Gb18030;

  // Plain text: the query in the file's bytes, and the same with every Latin letter in its other case
  // (equal to Needle when the case must match). Both cases of a letter take as many bytes.
  std::string Needle;
  std::string Other;
  std::vector<TNeedleSpan> Spans;
  // The two bytes the scan looks at first, by their place in the needle: the rarest ones.
  std::size_t ProbeFirst = 0;
  std::size_t ProbeSecond = 0;
  // For needles whose probes fit too often (a long run of one letter): the needle as byte classes
  // (the byte and its other case are one class) with its prefix function, so that the scan can go
  // on in time linear in the block. Empty where a byte of the file would fall in two classes.
  std::array<std::int16_t, 256> ByteClass{};
  std::vector<std::int16_t> NeedleClasses;
  std::vector<std::uint32_t> Borders;

  // A regular expression, over UTF-8 (the file's own bytes, or a block decoded to it), and what the
  // lines it matches begin with (LineLeadsOf), for a scan of lines.
  pcre2_code* Code = nullptr;
  std::optional<TLineLeads> Leads;

  TImpl() = default;
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;
  ~TImpl() { pcre2_code_free(Code); }
};

inline constexpr std::size_t NoLineFeed = static_cast<std::size_t>(-1);

// Just past the first (Last: the last) line feed of the encoding that lies whole in Bytes[From, To);
// BufferFrom is the file offset of Bytes[0], for UTF-16's even code units.
std::size_t AfterLineFeed(TTextEncoding Encoding, std::string_view Bytes, TFileOffset BufferFrom, std::size_t From,
                          std::size_t To, bool Last);

// The matcher of one compiled regular expression, for one scan at a time.
class TRegexMatcher {
public:
  explicit TRegexMatcher(const TSearchPattern::TImpl& Pattern);
  ~TRegexMatcher();
  TRegexMatcher(const TRegexMatcher&) = delete;
  TRegexMatcher& operator=(const TRegexMatcher&) = delete;

  // The first (Backward: the last) non-empty match in Subject that starts in [From, Limit), as offsets
  // of its start and end. Throws ESearchQuery when the pattern needs more backtracking than PCRE2 allows.
  std::optional<std::pair<std::size_t, std::size_t>> Match(std::string_view Subject, std::size_t From,
                                                           std::size_t Limit, std::uint32_t Options, bool Backward);
  // Whether group Number took part in the match Match found last.
  bool Took(int Number) const;

private:
  const pcre2_code* FCode;
  pcre2_match_data* FMatch = nullptr;
  pcre2_match_context* FContext = nullptr;
  pcre2_jit_stack* FStack = nullptr;
};
