#pragma once

// The reference the scans of a file are held to: each line of a text decoded on its own, character by
// character, and matched by PCRE2 as it stands, compiled as the search compiles a regular expression.

#include "FileOffset.h"
#include "TextEncoding.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One line of a text, without its line feed: its UTF-8 (UTF-8 text as it is), where each character
// begins in it, and for each of its bytes and its end the file offset of the character's start (its
// first byte) or end (the others).
struct TDecodedLine {
  TFileOffset Start = 0;
  std::string Text;
  std::vector<std::size_t> CharacterStarts;
  std::vector<TFileOffset> Offsets;

  // Leaves off the carriage return before the line feed, as the chapter scan does.
  void DropReturn() {
    if (Text.empty() || Text.back() != '\r') return;
    Text.pop_back();
    CharacterStarts.pop_back();
    Offsets.pop_back();  // the line now ends where the carriage return began
  }
};

// The lines of Bytes from First (past a byte-order mark) on.
inline std::vector<TDecodedLine> DecodedLines(TTextEncoding Encoding, std::string_view Bytes, std::size_t First = 0) {
  const TEncodingRules& Rules = RulesOf(Encoding);
  std::vector<TDecodedLine> Lines(1);
  Lines.back().Start = static_cast<TFileOffset>(First);
  for (std::size_t Pos = First; Pos < Bytes.size();) {
    const std::size_t Next = CharNext(Encoding, Bytes, Pos);
    const std::string_view Character = Bytes.substr(Pos, Next - Pos);
    TDecodedLine& Line = Lines.back();
    if (Character == Rules.LineFeed) {
      Line.Offsets.push_back(static_cast<TFileOffset>(Pos));
      Lines.emplace_back().Start = static_cast<TFileOffset>(Next);
      Pos = Next;
      continue;
    }
    char Decoded[16];
    char* Out = Decoded;
    if (Rules.DecodedAsItIs)
      Out = std::copy(Character.begin(), Character.end(), Out);
    else
      Rules.Decode(Bytes.substr(0, Next), Pos, Next, Out);
    Line.CharacterStarts.push_back(Line.Text.size());
    Line.Text.append(Decoded, Out);
    Line.Offsets.push_back(static_cast<TFileOffset>(Pos));
    Line.Offsets.insert(Line.Offsets.end(), static_cast<std::size_t>(Out - Decoded) - 1, static_cast<TFileOffset>(Next));
    Pos = Next;
  }
  Lines.back().Offsets.push_back(static_cast<TFileOffset>(Bytes.size()));
  return Lines;
}

// Pattern compiled as the search compiles a regular expression for Encoding; null when it does not
// compile.
inline pcre2_code* CompileAsTheSearch(std::string_view Pattern, TTextEncoding Encoding, bool MatchCase) {
  std::uint32_t Options = PCRE2_UTF | PCRE2_MULTILINE;
  if (!MatchCase) Options |= PCRE2_CASELESS;
  if (RulesOf(Encoding).DecodedAsItIs) Options |= PCRE2_MATCH_INVALID_UTF;
  pcre2_compile_context* Context = pcre2_compile_context_create(nullptr);
  pcre2_set_newline(Context, PCRE2_NEWLINE_ANYCRLF);
  int Error = 0;
  PCRE2_SIZE ErrorAt = 0;
  pcre2_code* Code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(Pattern.data()), Pattern.size(), Options, &Error, &ErrorAt, Context);
  pcre2_compile_context_free(Context);
  return Code;
}

// The match of Code that begins at Line's character Start (non-empty), as [Begin, End) in Line.Text:
// 1 when there is one, 0 when there is none, -1 when PCRE2 gives up before it knows (the reference
// stops at a tenth of the backtracking the search allows, so that a pattern that backtracks wildly
// costs a fuzz input no more than a moment).
inline int MatchAt(const pcre2_code* Code, const TDecodedLine& Line, std::size_t Start, std::size_t& Begin,
                   std::size_t& End) {
  pcre2_match_data* Match = pcre2_match_data_create_from_pattern(Code, nullptr);
  pcre2_match_context* Context = pcre2_match_context_create(nullptr);
  pcre2_set_match_limit(Context, 1000000);
  const int Result = pcre2_match(Code, reinterpret_cast<PCRE2_SPTR>(Line.Text.data()), Line.Text.size(), Start,
                                 PCRE2_ANCHORED | PCRE2_NOTEMPTY, Match, Context);
  int Found = Result >= 0 ? 1 : Result == PCRE2_ERROR_NOMATCH ? 0 : -1;
  if (Found == 1) {
    Begin = pcre2_get_ovector_pointer(Match)[0];
    End = pcre2_get_ovector_pointer(Match)[1];
    // Bytes that are no UTF-8 are passed over even by an anchored match: that match begins elsewhere.
    if (Begin != Start) Found = 0;
  }
  pcre2_match_context_free(Context);
  pcre2_match_data_free(Match);
  return Found;
}
