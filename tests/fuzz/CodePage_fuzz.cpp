// Every code page's decoder on random bytes (the first byte picks the code page): it never fails,
// every byte ends up in the text, and what it gives is valid UTF-16; in the one-byte encodings with
// every CR and LF where the bytes had it.

#include "CodePage.h"
#include "DecodeChecks.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  const std::size_t Pick = Data[0] % (Encodings().size() + 1);
  const TCodePage& CodePage = Pick == Encodings().size() ? TCodePage::Ansi() : TCodePage::Of(Encodings()[Pick].Encoding);
  const std::string_view Bytes(reinterpret_cast<const char*>(Data + 1), Size - 1);
  const QString Text = CodePage.Decode(Bytes);
  FUZZ_REQUIRE(IsValidUtf16(Text));
  // No character is longer than four bytes and each shows as one or two units, a bad byte (code
  // unit) as one U+FFFD: at most one unit per byte, and nothing silently dropped.
  FUZZ_REQUIRE(Text.size() <= static_cast<qsizetype>(Bytes.size()));
  FUZZ_REQUIRE(Text.size() >= static_cast<qsizetype>((Bytes.size() + 3) / 4));
  if (CodeUnitBytes(CodePage.Encoding()) == 1)
    RequireBreaksKept(Bytes, Text, [&](std::string_view Piece) { return CodePage.Decode(Piece); });
  return 0;
}
