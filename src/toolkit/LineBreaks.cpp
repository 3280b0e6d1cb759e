#include "LineBreaks.h"

std::string NormaliseLineBreaks(const std::string& Bytes, TTextEncoding Encoding) {
  const TEncodingRules& Rules = RulesOf(Encoding);
  const std::size_t Unit = Rules.CodeUnit;
  const std::string CrLf = std::string(Rules.CarriageReturn).append(Rules.LineFeed);
  std::string Normal;
  Normal.reserve(Bytes.size() + Bytes.size() / 16);
  // Bytes from Copied on are copied unchanged in one piece when the next line break comes.
  std::size_t Copied = 0;
  std::size_t Pos = 0;
  while (Pos + Unit <= Bytes.size()) {
    const unsigned Code = CodeUnitAt(Encoding, Bytes, Pos);
    if (Code == '\r' || Code == '\n') {
      Normal.append(Bytes, Copied, Pos - Copied);
      Normal += CrLf;
      Pos += Unit;
      if (Code == '\r' && Pos + Unit <= Bytes.size() && CodeUnitAt(Encoding, Bytes, Pos) == '\n') Pos += Unit;
      Copied = Pos;
    } else if (Unit == 1 && Code < 0x80) {
      ++Pos;  // a character of its own in every one-byte encoding
    } else {
      Pos = Rules.Next(Bytes, Pos);
    }
  }
  Normal.append(Bytes, Copied);
  return Normal;
}
