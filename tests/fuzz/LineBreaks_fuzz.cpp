// The text area's line-break normalisation on random bytes.

#include "CodePage.h"
#include "FuzzCheck.h"
#include "LineBreaks.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The text as the code page walks it: its characters, and each line break (CR LF, CR or LF that is
// a character of its own) as one mark, kept apart from a character by its empty text.
std::vector<std::string> Characters(const std::string& Bytes) {
  const TCodePage& CodePage = TCodePage::Ansi();
  std::vector<std::string> Result;
  std::size_t Pos = 0;
  while (Pos < Bytes.size()) {
    if (Bytes[Pos] == '\r' || Bytes[Pos] == '\n') {
      Pos += Bytes.compare(Pos, 2, "\r\n") == 0 ? 2 : 1;
      Result.emplace_back();
    } else {
      const std::size_t Next = CodePage.CharNext(Bytes, Pos);
      FUZZ_REQUIRE(Next > Pos && Next <= Bytes.size());
      Result.push_back(Bytes.substr(Pos, Next - Pos));
      Pos = Next;
    }
  }
  return Result;
}

// Every CR or LF that is a character of its own stands in a CR LF pair.
bool OnlyPairs(const std::string& Bytes) {
  const TCodePage& CodePage = TCodePage::Ansi();
  for (std::size_t Pos = 0; Pos < Bytes.size();) {
    if (Bytes[Pos] == '\n') return false;
    if (Bytes[Pos] == '\r') {
      if (Bytes.compare(Pos, 2, "\r\n") != 0) return false;
      Pos += 2;
    } else {
      Pos = CodePage.CharNext(Bytes, Pos);
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string Bytes(reinterpret_cast<const char*>(Data), Size);
  const std::string Normal = NormaliseLineBreaks(Bytes);
  FUZZ_REQUIRE(OnlyPairs(Normal));
  // Nothing but the breaks changed: the same characters (NULs and trail bytes included) and the
  // same breaks, in the same order.
  FUZZ_REQUIRE(Characters(Normal) == Characters(Bytes));
  FUZZ_REQUIRE(NormaliseLineBreaks(Normal) == Normal);
  return 0;
}
