// Detection and the whole-character walk on random bytes: the look-back and the page in allocations
// of their own, so that a read outside either is caught; the range found lies in the page and
// starts and ends on what the encoding calls a character boundary.

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "TextEncoding.h"
#include "Unicode.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>

namespace {

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TFuzzInput Input(Data, Size);
  const TTextEncoding Encoding = Encodings()[Input.Take<std::uint8_t>() % Encodings().size()].Encoding;
  const std::size_t Before = Input.Take<std::uint8_t>();
  const TFileOffset Further = Input.Take<std::uint8_t>() % 2 ? 0 : Input.Take<std::uint16_t>();
  const std::string_view Rest = Input.Rest();
  const std::size_t Split = std::min(Before, Rest.size());
  // The bytes before the page reach the file's start unless the page lies further on.
  const TFileOffset PageStart = static_cast<TFileOffset>(Split) + Further;
  const TExact Page(Rest.substr(Split));

  const TTextEncoding Detected = DetectEncoding({std::string(Rest.substr(0, Split)), std::string(Page.View())});
  FUZZ_REQUIRE(static_cast<std::size_t>(Detected) < Encodings().size());

  const std::size_t Needed = LookBackNeeded(Encoding, PageStart, Page.View());
  FUZZ_REQUIRE(Needed <= LookBackBytes && static_cast<TFileOffset>(Needed) <= PageStart);
  const TExact LookBack(Rest.substr(0, Split).substr(Split - std::min(Split, Needed)));
  const TWholeCharacters Whole = WholeCharacters(Encoding, PageStart, LookBack.View(), Page.View());
  const std::string_view Bytes = Page.View();
  FUZZ_REQUIRE(Whole.From <= Whole.To && Whole.To <= Bytes.size());
  if (Whole.To > Whole.From) {
    if (CodeUnitBytes(Encoding) == 2)
      FUZZ_REQUIRE((Whole.To - Whole.From) % 2 == 0 && (PageStart + static_cast<TFileOffset>(Whole.From)) % 2 == 0);
    if (RulesOf(Encoding).DecodedAsItIs && PageStart > 0 && Whole.From < 3) FUZZ_REQUIRE(!IsContinuation(static_cast<unsigned char>(Bytes[Whole.From])));
  }
  for (std::size_t Pos = 0; Pos < Bytes.size();) {
    const std::size_t Next = CharNext(Encoding, Bytes, Pos);
    FUZZ_REQUIRE(Next > Pos && Next <= Bytes.size());
    Pos = Next;
  }
  FUZZ_REQUIRE(TextEnd(Encoding, Bytes) <= Bytes.size());
  return 0;
}
