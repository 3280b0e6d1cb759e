#pragma once

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// What a line can begin with, after its leading spaces (space, tab, U+3000), when a regular expression
// matches it: read from the pattern itself, so that a scan can pass over the other lines without
// decoding and matching them, and can never pass over one the pattern would take.

// The spaces a line may begin with before its leads.
inline bool IsLeadingSpace(char32_t Code) { return Code == ' ' || Code == '\t' || Code == 0x3000; }

// Characters, as ranges of code points [First, Last], in order and apart.
struct TLineLeads {
  std::vector<std::pair<char32_t, char32_t>> Ranges;

  bool Contains(char32_t Code) const;
};

// The leads of the lines Pattern (PCRE2, UTF, multiline, matched against one line at a time) matches;
// Caseless as the pattern is compiled. None when the pattern does not bind them: a match that may
// start after the line's start or end among its spaces, one whose first other character may be any,
// or a construct this reading does not follow (conditionals, backreferences, recursion, verbs,
// extended syntax, \Q…\E, POSIX classes), for which it says nothing rather than guess.
std::optional<TLineLeads> LineLeadsOf(std::string_view Pattern, bool Caseless);
