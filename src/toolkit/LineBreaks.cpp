#include "LineBreaks.h"

#include "CodePage.h"

std::string NormaliseLineBreaks(const std::string& Bytes) {
  const TCodePage& CodePage = TCodePage::Ansi();
  std::string Normal;
  Normal.reserve(Bytes.size() + Bytes.size() / 16);
  std::size_t Pos = 0;
  while (Pos < Bytes.size()) {
    if (Bytes[Pos] == '\r') {
      Normal += "\r\n";
      Pos += Pos + 1 < Bytes.size() && Bytes[Pos + 1] == '\n' ? 2 : 1;
    } else if (Bytes[Pos] == '\n') {
      Normal += "\r\n";
      ++Pos;
    } else {
      const std::size_t Next = CodePage.CharNext(Bytes, Pos);
      Normal.append(Bytes, Pos, Next - Pos);
      Pos = Next;
    }
  }
  return Normal;
}
