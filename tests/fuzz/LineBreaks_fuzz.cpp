// The text area's line-break normalisation on random bytes, in every file encoding (the first byte
// picks it).

#include "CodePage.h"
#include "FuzzCheck.h"
#include "LineBreaks.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

bool IsBreak(const TCodePage& CodePage, const std::string& Bytes, std::size_t Pos, unsigned Code) {
  return Pos + CodePage.CodeUnitBytes() <= Bytes.size() && CodePage.CodeUnitAt(Bytes, Pos) == Code;
}

// The text as the code page walks it: its characters, and each line break (CR LF, CR or LF that is
// a character of its own) as one mark, kept apart from a character by its empty text.
std::vector<std::string> Characters(const TCodePage& CodePage, const std::string& Bytes) {
  const std::size_t Unit = CodePage.CodeUnitBytes();
  std::vector<std::string> Result;
  std::size_t Pos = 0;
  while (Pos < Bytes.size()) {
    if (IsBreak(CodePage, Bytes, Pos, '\r') || IsBreak(CodePage, Bytes, Pos, '\n')) {
      Pos += IsBreak(CodePage, Bytes, Pos, '\r') && IsBreak(CodePage, Bytes, Pos + Unit, '\n') ? 2 * Unit : Unit;
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
bool OnlyPairs(const TCodePage& CodePage, const std::string& Bytes) {
  const std::size_t Unit = CodePage.CodeUnitBytes();
  for (std::size_t Pos = 0; Pos < Bytes.size();) {
    if (IsBreak(CodePage, Bytes, Pos, '\n')) return false;
    if (IsBreak(CodePage, Bytes, Pos, '\r')) {
      if (!IsBreak(CodePage, Bytes, Pos + Unit, '\n')) return false;
      Pos += 2 * Unit;
    } else {
      Pos = CodePage.CharNext(Bytes, Pos);
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  const TCodePage& CodePage = TCodePage::Of(static_cast<TTextEncoding>(Data[0] % 4));
  const std::string Bytes(reinterpret_cast<const char*>(Data + 1), Size - 1);
  const std::string Normal = NormaliseLineBreaks(Bytes, CodePage);
  FUZZ_REQUIRE(OnlyPairs(CodePage, Normal));
  // Nothing but the breaks changed: the same characters (NULs and trail bytes included) and the
  // same breaks, in the same order.
  FUZZ_REQUIRE(Characters(CodePage, Normal) == Characters(CodePage, Bytes));
  FUZZ_REQUIRE(NormaliseLineBreaks(Normal, CodePage) == Normal);
  FUZZ_REQUIRE(CodePage.TextEnd(Normal) <= Normal.size());
  return 0;
}
