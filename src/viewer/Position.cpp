#include "Position.h"

#include <algorithm>
#include <cstdint>

namespace {

// The text with full-width digits, point, percent sign and space made ASCII (they are three UTF-8
// bytes each: EF BC 90..99, EF BC 8E, EF BC 85, and E3 80 80 for the ideographic space).
std::string Narrowed(const std::string& Text) {
  std::string Out;
  for (std::size_t Pos = 0; Pos < Text.size(); ++Pos) {
    const auto Byte = [&](std::size_t At) { return At < Text.size() ? static_cast<unsigned char>(Text[At]) : 0u; };
    if (Byte(Pos) == 0xEF && Byte(Pos + 1) == 0xBC) {
      const unsigned Last = Byte(Pos + 2);
      if (Last >= 0x90 && Last <= 0x99) Out += static_cast<char>('0' + (Last - 0x90));
      else if (Last == 0x8E) Out += '.';
      else if (Last == 0x85) Out += '%';
      else return {};  // another full-width sign: no place
      Pos += 2;
    } else if (Byte(Pos) == 0xE3 && Byte(Pos + 1) == 0x80 && Byte(Pos + 2) == 0x80) {
      Out += ' ';
      Pos += 2;
    } else {
      Out += Text[Pos];
    }
  }
  return Out;
}

}  // namespace

std::optional<TFileOffset> ParsePosition(const std::string& Text, TFileOffset FileSize) {
  std::string Plain = Narrowed(Text);
  const auto First = Plain.find_first_not_of(' ');
  if (First == std::string::npos) return std::nullopt;
  Plain = Plain.substr(First, Plain.find_last_not_of(' ') - First + 1);
  bool Share = false;
  if (Plain.back() == '%') {
    Share = true;
    Plain.pop_back();
    while (!Plain.empty() && Plain.back() == ' ') Plain.pop_back();
  }
  // Digits, and for a share one point with at most one digit after it (a tenth of a per cent).
  std::uint64_t Whole = 0;
  int Tenths = 0;
  bool Point = false, Digits = false, Tenth = false;
  for (const char Character : Plain) {
    if (Character == '.' && Share && !Point) {
      Point = true;
    } else if (Character >= '0' && Character <= '9' && !Point) {
      // A number past any file's size only says "the end": it stops growing where it cannot be held.
      const auto Digit = static_cast<unsigned>(Character - '0');
      Whole = Whole > (UINT64_MAX - Digit) / 10 ? UINT64_MAX : Whole * 10 + Digit;
      Digits = true;
    } else if (Character >= '0' && Character <= '9' && !Tenth) {
      Tenths = Character - '0';
      Tenth = true;
    } else {
      return std::nullopt;
    }
  }
  if (!Digits && !Tenth) return std::nullopt;
  const TFileOffset Size = std::max<TFileOffset>(FileSize, 0);
  if (!Share) return static_cast<TFileOffset>(std::min<std::uint64_t>(Whole, static_cast<std::uint64_t>(Size)));
  const std::uint64_t Permille = std::min<std::uint64_t>(Whole, 100) * 10 + static_cast<std::uint64_t>(Tenths);
  // Size * Permille / 1000 without overflow for any 63-bit size.
  const std::uint64_t Thousandth = static_cast<std::uint64_t>(Size) / 1000, Rest = static_cast<std::uint64_t>(Size) % 1000;
  const std::uint64_t Offset = Thousandth * Permille + Rest * Permille / 1000;
  return static_cast<TFileOffset>(std::min<std::uint64_t>(Offset, static_cast<std::uint64_t>(Size)));
}
