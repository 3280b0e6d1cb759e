// Every row's decoders on random bytes (the first byte picks the row, the second where to cut), each
// input in an allocation of exactly its size so that a read past it is caught: the UTF-8 is valid and
// says what the UTF-16 says, every byte is decoded, the bytes before a character start decode on
// their own to what they decode to in the whole, the way back from UTF-8 to the bytes lands on the
// characters, and the walk over character starts agrees with the decoder's steps.

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "TextEncoding.h"
#include "Unicode.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The UTF-8 of the characters of Bytes that start in [From, To), in room of the documented size.
std::string Decode(const TEncodingRules& Rules, std::string_view Bytes, std::size_t From, std::size_t To,
                   std::size_t* Next = nullptr) {
  std::unique_ptr<char[]> Room(new char[(Bytes.size() - From) * Utf8BytesPerByte + 4]);
  char* Out = Room.get();
  const std::size_t After = Rules.Decode(Bytes, From, To, Out);
  if (Next) *Next = After;
  return {Room.get(), static_cast<std::size_t>(Out - Room.get())};
}

std::u32string CodePoints(std::string_view Utf8) {
  std::u32string Codes;
  for (std::size_t Pos = 0; Pos < Utf8.size();) {
    const TUtf8Sequence Character = ReadUtf8(Utf8.substr(Pos));
    FUZZ_REQUIRE(Character.Valid && !Character.Cut);
    Codes.push_back(Character.Code);
    Pos += Character.Length;
  }
  return Codes;
}

std::u32string CodePoints(std::u16string_view Utf16) {
  std::u32string Codes;
  for (std::size_t Pos = 0; Pos < Utf16.size(); ++Pos) {
    const char32_t Unit = Utf16[Pos];
    FUZZ_REQUIRE(!IsLowSurrogate(Unit));
    if (IsHighSurrogate(Unit)) {
      FUZZ_REQUIRE(Pos + 1 < Utf16.size() && IsLowSurrogate(Utf16[Pos + 1]));
      Codes.push_back(FromSurrogates(Unit, Utf16[++Pos]));
    } else {
      Codes.push_back(Unit);
    }
  }
  return Codes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TFuzzInput Input(Data, Size);
  const TEncodingRules& Rules = Encodings()[Input.Take<std::uint8_t>() % Encodings().size()];
  const auto CutAt = Input.Take<std::uint16_t>();
  const TExact Whole(Input.Rest());
  const std::string_view Bytes = Whole.View();

  std::size_t Next = 0;
  const std::string Text = Decode(Rules, Bytes, 0, Bytes.size(), &Next);
  FUZZ_REQUIRE(Next == Bytes.size());
  const std::u32string Codes = CodePoints(Text);
  std::unique_ptr<char16_t[]> Room(new char16_t[std::max<std::size_t>(Bytes.size(), 1)]);
  const char16_t* End = Rules.DecodeUtf16(Bytes, Room.get());
  FUZZ_REQUIRE(End >= Room.get() && End <= Room.get() + Bytes.size());
  FUZZ_REQUIRE(CodePoints(std::u16string_view(Room.get(), static_cast<std::size_t>(End - Room.get()))) == Codes);
  // No character is longer than four bytes.
  FUZZ_REQUIRE(Codes.size() >= (Bytes.size() + 3) / 4);
  FUZZ_REQUIRE(Rules.SkipDecoded(Bytes, 0, Text.size()) == Bytes.size());

  // The character starts, walked by the decoder's steps; the walk of starts and the known starts agree.
  std::vector<std::size_t> Starts;
  for (std::size_t Pos = 0; Pos < Bytes.size(); Pos = CharNext(Rules.Encoding, Bytes, Pos)) {
    Starts.push_back(Pos);
    const TCharacter Character = Rules.Read(Bytes.substr(Pos));
    FUZZ_REQUIRE(Character.Length >= 1 && Character.Length <= 4);
    FUZZ_REQUIRE(std::min(Character.Length, Bytes.size() - Pos) == CharNext(Rules.Encoding, Bytes, Pos) - Pos);
  }
  TCharacterStarts IsStart(Rules.Encoding, Bytes, 0, 0);
  for (std::size_t Pos = 0, Index = 0; Pos < Bytes.size(); ++Pos) {
    const bool Listed = Index < Starts.size() && Starts[Index] == Pos;
    FUZZ_REQUIRE(IsStart(Pos) == Listed);
    Index += Listed;
    const std::size_t Known = Rules.KnownStart(Bytes, Pos);
    FUZZ_REQUIRE(Known <= Pos && std::binary_search(Starts.begin(), Starts.end(), Known));
  }

  // Cut at a character start: the bytes before it alone, then the rest alone, decode to the whole;
  // and the UTF-8 before it leads back to it.
  if (!Starts.empty()) {
    const std::size_t Cut = Starts[CutAt % Starts.size()];
    const TExact Head(Bytes.substr(0, Cut)), Tail(Bytes.substr(Cut));
    const std::string Before = Decode(Rules, Head.View(), 0, Cut);
    FUZZ_REQUIRE(Before + Decode(Rules, Tail.View(), 0, Bytes.size() - Cut) == Text);
    FUZZ_REQUIRE(Decode(Rules, Bytes, 0, Cut, &Next) == Before && Next == Cut);
    FUZZ_REQUIRE(Rules.SkipDecoded(Bytes, 0, Before.size()) == Cut);
  }
  return 0;
}
