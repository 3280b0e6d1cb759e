#include "LineBreaks.h"

#include "CodePage.h"

std::string NormaliseLineBreaks(const std::string& Bytes, const TCodePage& CodePage) {
  const std::size_t Unit = CodePage.CodeUnitBytes();
  const std::string CrLf = CodePage.LineBreak();
  std::string Normal;
  Normal.reserve(Bytes.size() + Bytes.size() / 16);
  // Bytes from Copied on are copied unchanged in one piece when the next line break comes.
  std::size_t Copied = 0;
  std::size_t Pos = 0;
  while (Pos + Unit <= Bytes.size()) {
    const unsigned Code = CodePage.CodeUnitAt(Bytes, Pos);
    if (Code == '\r' || Code == '\n') {
      Normal.append(Bytes, Copied, Pos - Copied);
      Normal += CrLf;
      Pos += Unit;
      if (Code == '\r' && Pos + Unit <= Bytes.size() && CodePage.CodeUnitAt(Bytes, Pos) == '\n') Pos += Unit;
      Copied = Pos;
    } else if (Unit == 1 && Code < 0x80) {
      ++Pos;  // a character of its own in every one-byte encoding
    } else {
      Pos = CodePage.CharNext(Bytes, Pos);
    }
  }
  Normal.append(Bytes, Copied);
  return Normal;
}
