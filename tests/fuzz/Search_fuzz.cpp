// FindText on random files with a query plain or regular, cut from the file itself or taken as it
// comes, from any offset either way with small blocks. Input: the encoding, the kind of query, the
// direction, the start, the block size, the query's place and length, then the file's content. It
// never crashes or hangs; a hit lies in the text, starts on a character as the decoder reads them and
// says on which side of the start it was found; and a plain query's hit is the one a walk over the
// file's characters finds.

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "ReadPage.h"
#include "TempDir.h"
#include "TextSearch.h"
#include "Unicode.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

// The letter in its other case where the search takes either (ASCII and full-width), else 0.
char32_t OtherCase(char32_t Code) {
  if ((Code >= 'A' && Code <= 'Z') || (Code >= 0xFF21 && Code <= 0xFF3A)) return Code + 0x20;
  if ((Code >= 'a' && Code <= 'z') || (Code >= 0xFF41 && Code <= 0xFF5A)) return Code - 0x20;
  return 0;
}

// The query's characters in the file's bytes, each with its other case (the same when there is none);
// none when a character has no bytes there.
std::optional<std::vector<std::pair<std::string, std::string>>> Encoded(const std::string& Query, TTextEncoding Encoding,
                                                                        bool MatchCase) {
  TTextEncoder Encoder(Encoding);
  std::vector<std::pair<std::string, std::string>> Characters;
  for (std::size_t Pos = 0; Pos < Query.size();) {
    const TUtf8Sequence Character = ReadUtf8(std::string_view(Query).substr(Pos));
    std::string Bytes, Other;
    if (!Character.Valid || Character.Cut || !Encoder.Encode(Query.substr(Pos, Character.Length), Bytes)) return std::nullopt;
    Other = Bytes;
    if (const char32_t Case = MatchCase ? 0 : OtherCase(Character.Code)) {
      char Utf8[4];
      Encoder.Encode(std::string(Utf8, PutUtf8(Case, Utf8)), Other);
      if (Other.size() != Bytes.size()) Other = Bytes;
    }
    Characters.emplace_back(Bytes, Other);
    Pos += Character.Length;
  }
  return Characters;
}

// Every place a plain query stands in the text, on a character start.
std::vector<TFileOffset> PlainHits(const std::string& Bytes, std::size_t First, TTextEncoding Encoding,
                                   const std::vector<std::pair<std::string, std::string>>& Query) {
  std::vector<TFileOffset> Hits;
  for (std::size_t Start = 0; Start < Bytes.size(); Start = CharNext(Encoding, Bytes, Start)) {
    if (Start < First) continue;
    std::size_t At = Start;
    bool Fits = true;
    for (const auto& [Form, Other] : Query) {
      Fits = Bytes.compare(At, Form.size(), Form) == 0 || Bytes.compare(At, Other.size(), Other) == 0;
      if (!Fits) break;
      At += Form.size();
    }
    if (Fits) Hits.push_back(static_cast<TFileOffset>(Start));
  }
  return Hits;
}

// Whether a character starts at Offset as the decoder reads them, which the regular expression is
// matched over: a character the end cuts off is one replacement a code unit.
bool IsCharacterStart(const std::string& Bytes, const TEncodingRules& Rules, TFileOffset Offset) {
  std::size_t Pos = 0;
  char Out[16];
  while (Pos < static_cast<std::size_t>(Offset)) {
    char* At = Out;
    Pos = Rules.Decode(Bytes, Pos, Pos + 1, At);
  }
  return Pos == static_cast<std::size_t>(Offset);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const TempDir Folder;
  TFuzzInput Input(Data, Size);
  const TEncodingRules& Rules = Encodings()[Input.Take<std::uint8_t>() % Encodings().size()];
  const auto Kind = Input.Take<std::uint8_t>();
  const bool Regex = Kind & 1, MatchCase = Kind & 2, Backward = Kind & 4, FromTheFile = Kind & 8;
  const auto RawFrom = Input.Take<std::uint16_t>();
  const std::size_t Block = 4 + Input.Take<std::uint8_t>() % 64;
  const auto QueryAt = Input.Take<std::uint16_t>();
  const std::size_t QueryLength = 1 + Input.Take<std::uint8_t>() % 16;
  const std::string Bytes(Input.Rest());
  // The query: text of the file itself (decoded), so that it is often there, or the bytes as they come.
  std::string Query;
  if (FromTheFile && !Bytes.empty()) {
    const std::size_t From = QueryAt % Bytes.size();
    const std::size_t To = std::min(Bytes.size(), From + QueryLength);
    std::string Decoded(Bytes.size() * Utf8BytesPerByte + 4, '\0');
    char* Out = Decoded.data();
    Rules.Decode(Bytes.substr(0, To), From, To, Out);
    Query.assign(Decoded.data(), Out);
  } else {
    Query = Bytes.substr(0, std::min(Bytes.size(), QueryLength));
  }

  const std::string File = Folder.Write("text.txt", Bytes);
  const TSearchQuery Wanted{Query, MatchCase, Regex};
  std::optional<TSearchPattern> Pattern;
  try {
    Pattern.emplace(Wanted, Rules.Encoding);
  } catch (const ESearchQuery&) {
    return 0;  // a query that cannot be searched for says so
  }
  const std::atomic<bool> Cancel{false};
  const auto From = static_cast<TFileOffset>(RawFrom % (Bytes.size() + 2));
  TSearchResult Result;
  try {
    Result = FindText(File, *Pattern, From, Backward, Cancel, {}, Block);
  } catch (const ESearchQuery&) {
    FUZZ_REQUIRE(Regex);  // a pattern PCRE2 gives up on
    return 0;
  }
  FUZZ_REQUIRE(Result.Outcome == TSearchOutcome::Found || Result.Outcome == TSearchOutcome::NotFound);
  const std::size_t First = Bytes.starts_with(Rules.ByteOrderMark) ? Rules.ByteOrderMark.size() : 0;
  const TFileOffset Start = std::clamp<TFileOffset>(From, static_cast<TFileOffset>(First), static_cast<TFileOffset>(Bytes.size()));
  if (Result.Outcome == TSearchOutcome::Found) {
    const TSearchHit& Hit = Result.Hit;
    FUZZ_REQUIRE(Hit.Length >= 1 && Hit.Start >= static_cast<TFileOffset>(First) &&
                 Hit.Start + Hit.Length <= static_cast<TFileOffset>(Bytes.size()));
    FUZZ_REQUIRE(IsCharacterStart(Bytes, Rules, Hit.Start));
    FUZZ_REQUIRE(Result.Wrapped == (Backward ? Hit.Start >= Start : Hit.Start < Start));
  }
  if (Regex) return 0;

  const auto Characters = Encoded(Query, Rules.Encoding, MatchCase);
  FUZZ_REQUIRE(Characters.has_value());  // the pattern took it
  const std::vector<TFileOffset> Hits = PlainHits(Bytes, First, Rules.Encoding, *Characters);
  // UTF-16 characters start at even offsets only: a search from an odd one starts at the next.
  const TFileOffset Even = CodeUnitBytes(Rules.Encoding) == 2 && Start % 2 != 0 && Start < static_cast<TFileOffset>(Bytes.size()) ? Start + 1 : Start;
  std::optional<TFileOffset> Expected;
  bool Wrapped = false;
  for (const TFileOffset Hit : Hits)
    if (Backward ? Hit < Even : Hit >= Even) {
      if (!Expected || Backward) Expected = Hit;
    }
  if (!Expected && !Hits.empty()) {
    Expected = Backward ? Hits.back() : Hits.front();
    Wrapped = true;
  }
  FUZZ_REQUIRE(Result.Outcome == (Expected ? TSearchOutcome::Found : TSearchOutcome::NotFound));
  std::size_t Length = 0;
  for (const auto& Character : *Characters) Length += Character.first.size();
  if (Expected)
    FUZZ_REQUIRE(Result.Hit.Start == *Expected && Result.Hit.Length == static_cast<TFileOffset>(Length) &&
                 Result.Wrapped == Wrapped);
  return 0;
}
