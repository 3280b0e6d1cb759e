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
    } else {
      Pos += Unit;  // no character holds a line break's code unit after its first: no walk is needed
    }
  }
  Normal.append(Bytes, Copied);
  return Normal;
}
