// The GB18030 decoder on random bytes: it never fails, every byte ends up in the text, and what it
// gives is valid UTF-16 with every CR and LF where the bytes had it.

#include "CodePage.h"
#include "DecodeChecks.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const TCodePage& CodePage = TCodePage::Ansi();
  const std::string_view Bytes(reinterpret_cast<const char*>(Data), Size);
  const QString Text = CodePage.Decode(Bytes);
  FUZZ_REQUIRE(IsValidUtf16(Text));
  // No character is longer than four bytes and each shows as one or two units, a bad byte as one
  // U+FFFD: at most one unit per byte, and nothing silently dropped.
  FUZZ_REQUIRE(Text.size() <= static_cast<qsizetype>(Size));
  FUZZ_REQUIRE(Text.size() >= static_cast<qsizetype>((Size + 3) / 4));
  RequireBreaksKept(Bytes, Text, [&](std::string_view Piece) { return CodePage.Decode(Piece); });
  return 0;
}
