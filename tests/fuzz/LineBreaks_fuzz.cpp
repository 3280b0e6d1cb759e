// The text area's line-break normalisation on random bytes, in every file encoding (the first byte
// picks it).

#include "FuzzCheck.h"
#include "LineBreaks.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

bool IsBreak(TTextEncoding Encoding, const std::string& Bytes, std::size_t Pos, unsigned Code) {
  return Pos + CodeUnitBytes(Encoding) <= Bytes.size() && CodeUnitAt(Encoding, Bytes, Pos) == Code;
}

// The text as the encoding walks it: its characters, and each line break (CR LF, CR or LF that is
// a character of its own) as one mark, kept apart from a character by its empty text.
std::vector<std::string> Characters(TTextEncoding Encoding, const std::string& Bytes) {
  const std::size_t Unit = CodeUnitBytes(Encoding);
  std::vector<std::string> Result;
  std::size_t Pos = 0;
  while (Pos < Bytes.size()) {
    if (IsBreak(Encoding, Bytes, Pos, '\r') || IsBreak(Encoding, Bytes, Pos, '\n')) {
      Pos += IsBreak(Encoding, Bytes, Pos, '\r') && IsBreak(Encoding, Bytes, Pos + Unit, '\n') ? 2 * Unit : Unit;
      Result.emplace_back();
    } else {
      const std::size_t Next = CharNext(Encoding, Bytes, Pos);
      FUZZ_REQUIRE(Next > Pos && Next <= Bytes.size());
      Result.push_back(Bytes.substr(Pos, Next - Pos));
      Pos = Next;
    }
  }
  return Result;
}

// Every CR or LF that is a character of its own stands in a CR LF pair.
bool OnlyPairs(TTextEncoding Encoding, const std::string& Bytes) {
  const std::size_t Unit = CodeUnitBytes(Encoding);
  for (std::size_t Pos = 0; Pos < Bytes.size();) {
    if (IsBreak(Encoding, Bytes, Pos, '\n')) return false;
    if (IsBreak(Encoding, Bytes, Pos, '\r')) {
      if (!IsBreak(Encoding, Bytes, Pos + Unit, '\n')) return false;
      Pos += 2 * Unit;
    } else {
      Pos = CharNext(Encoding, Bytes, Pos);
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  const TTextEncoding Encoding = Encodings()[Data[0] % Encodings().size()].Encoding;
  const std::string Bytes(reinterpret_cast<const char*>(Data + 1), Size - 1);
  const std::string Normal = NormaliseLineBreaks(Bytes, Encoding);
  FUZZ_REQUIRE(OnlyPairs(Encoding, Normal));
  // Nothing but the breaks changed: the same characters (NULs and trail bytes included) and the
  // same breaks, in the same order.
  FUZZ_REQUIRE(Characters(Encoding, Normal) == Characters(Encoding, Bytes));
  FUZZ_REQUIRE(NormaliseLineBreaks(Normal, Encoding) == Normal);
  FUZZ_REQUIRE(TextEnd(Encoding, Normal) <= Normal.size());
  return 0;
}
