#include "TextToUtf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <iconv.h>

namespace {

constexpr char32_t Replacement = 0xFFFD;
constexpr char32_t Euro = 0x20AC;

bool IsGbLead(unsigned Byte) { return Byte >= 0x81 && Byte <= 0xFE; }
bool IsDigit(unsigned Byte) { return Byte >= 0x30 && Byte <= 0x39; }
bool IsHighSurrogate(unsigned Unit) { return Unit >= 0xD800 && Unit <= 0xDBFF; }
bool IsLowSurrogate(unsigned Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

std::size_t Utf8Size(char32_t Code) { return Code < 0x80 ? 1 : Code < 0x800 ? 2 : Code < 0x10000 ? 3 : 4; }

char* PutUtf8(char32_t Code, char* Out) {
  if (Code < 0x80) {
    *Out++ = static_cast<char>(Code);
  } else if (Code < 0x800) {
    *Out++ = static_cast<char>(0xC0 | Code >> 6);
    *Out++ = static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    *Out++ = static_cast<char>(0xE0 | Code >> 12);
    *Out++ = static_cast<char>(0x80 | (Code >> 6 & 0x3F));
    *Out++ = static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    *Out++ = static_cast<char>(0xF0 | Code >> 18);
    *Out++ = static_cast<char>(0x80 | (Code >> 12 & 0x3F));
    *Out++ = static_cast<char>(0x80 | (Code >> 6 & 0x3F));
    *Out++ = static_cast<char>(0x80 | (Code & 0x3F));
  }
  return Out;
}

// The code points of a run of GB18030 characters of Width bytes each, 0 where the converter refuses
// one. In one pass where it can: converting them one at a time would take tens of milliseconds.
std::vector<char32_t> ConvertEach(const std::string& Characters, std::size_t Width) {
  const std::size_t Count = Characters.size() / Width;
  std::vector<char32_t> Codes(Count, 0);
  const iconv_t Cd = iconv_open("UTF-32LE", "GB18030");
  if (Cd == reinterpret_cast<iconv_t>(-1)) return Codes;  // no converter: every one decodes as U+FFFD
  std::string In = Characters;
  std::vector<char> Out(Count * 4 + 16);
  std::size_t Done = 0;
  while (Done < Count) {
    char* InPos = In.data() + Done * Width;
    std::size_t InLeft = (Count - Done) * Width;
    char* OutPos = Out.data();
    std::size_t OutLeft = Out.size();
    const bool Failed = iconv(Cd, &InPos, &InLeft, &OutPos, &OutLeft) == static_cast<std::size_t>(-1);
    const std::size_t Converted = static_cast<std::size_t>(InPos - (In.data() + Done * Width)) / Width;
    if (static_cast<std::size_t>(OutPos - Out.data()) != Converted * 4) break;  // not one code point each
    for (std::size_t I = 0; I < Converted; ++I) {
      std::uint32_t Code;
      std::memcpy(&Code, Out.data() + I * 4, 4);
      Codes[Done + I] = static_cast<char32_t>(Code);
    }
    Done += Converted;
    if (Failed) {
      ++Done;  // the one refused keeps 0
      iconv(Cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(Cd);
  return Codes;
}

// What the system's converter says of every two-byte character and every four-byte one of the Basic
// Multilingual Plane, asked once. The four-byte characters past it follow a formula.
struct TGbTables {
  // By lead - 0x81 and the second byte: the UTF-8 bytes (low three bytes) and their count (top byte);
  // 0 where the second byte makes no two-byte character.
  std::vector<std::uint32_t> Two;
  // By the four-byte index from 0x81308130: the code point, 0 where there is none.
  std::vector<char16_t> FourBmp;

  static constexpr std::size_t FourBmpCount = 39420;  // 0x81308130 .. 0x8431A439

  TGbTables() : Two(126 * 256, 0), FourBmp(FourBmpCount, 0) {
    std::string Pairs;
    for (unsigned Lead = 0x81; Lead <= 0xFE; ++Lead)
      for (unsigned Trail = 0x40; Trail <= 0xFE; ++Trail) {
        Pairs.push_back(static_cast<char>(Lead));
        Pairs.push_back(static_cast<char>(Trail == 0x7F ? 0x40 : Trail));  // 0x7F is no trail: kept aside
      }
    const std::vector<char32_t> PairCodes = ConvertEach(Pairs, 2);
    std::size_t At = 0;
    for (unsigned Lead = 0x81; Lead <= 0xFE; ++Lead)
      for (unsigned Trail = 0x40; Trail <= 0xFE; ++Trail, ++At) {
        if (Trail == 0x7F) continue;
        // A table entry holds three bytes of UTF-8 at most.
        const char32_t Code = PairCodes[At] != 0 && PairCodes[At] <= 0xFFFF ? PairCodes[At] : Replacement;
        char Bytes[4] = {};
        const std::size_t Length = static_cast<std::size_t>(PutUtf8(Code, Bytes) - Bytes);
        std::uint32_t Entry = static_cast<std::uint32_t>(Length) << 24;
        for (std::size_t I = 0; I < Length && I < 3; ++I)
          Entry |= static_cast<std::uint32_t>(static_cast<unsigned char>(Bytes[I])) << (8 * I);
        Two[(Lead - 0x81) << 8 | Trail] = Entry;
      }
    std::string Quads;
    for (std::size_t Index = 0; Index < FourBmpCount; ++Index) {
      Quads.push_back(static_cast<char>(0x81 + Index / 12600));
      Quads.push_back(static_cast<char>(0x30 + Index / 1260 % 10));
      Quads.push_back(static_cast<char>(0x81 + Index / 10 % 126));
      Quads.push_back(static_cast<char>(0x30 + Index % 10));
    }
    const std::vector<char32_t> QuadCodes = ConvertEach(Quads, 4);
    for (std::size_t Index = 0; Index < FourBmpCount; ++Index)
      if (QuadCodes[Index] != 0 && QuadCodes[Index] <= 0xFFFF) FourBmp[Index] = static_cast<char16_t>(QuadCodes[Index]);
  }
};

const TGbTables& GbTables() {
  static const TGbTables Tables;
  return Tables;
}

struct TCodeStep {
  std::size_t Bytes;
  char32_t Code;
};

// The GB18030 character at Pos the slow way: everything but ASCII and a plain two-byte character.
// Lengths as Gb18030Length counts them.
TCodeStep GbCharacter(const unsigned char* Bytes, std::size_t Size, std::size_t Pos) {
  const unsigned Lead = Bytes[Pos];
  const std::size_t Left = Size - Pos;
  if (Lead < 0x80) return {1, Lead};
  if (Lead == 0x80) return {1, Euro};
  if (!IsGbLead(Lead)) return {1, Replacement};
  if (Left < 2) return {Left, Replacement};  // cut off by the end
  const unsigned Second = Bytes[Pos + 1];
  if (IsDigit(Second)) {
    if (Left < 3) return {Left, Replacement};
    if (!IsGbLead(Bytes[Pos + 2])) return {1, Replacement};
    if (Left < 4) return {Left, Replacement};
    if (!IsDigit(Bytes[Pos + 3])) return {1, Replacement};
    const std::size_t Index = (((Lead - 0x81) * 10 + (Second - 0x30)) * 126 + (Bytes[Pos + 2] - 0x81)) * 10 +
                              (Bytes[Pos + 3] - 0x30);
    if (Index < TGbTables::FourBmpCount) {
      const char32_t Code = GbTables().FourBmp[Index];
      return {4, Code != 0 ? Code : Replacement};
    }
    constexpr std::size_t Supplementary = 189000;  // the index of 0x90308130, U+10000
    if (Index >= Supplementary && Index - Supplementary <= 0xFFFFF)
      return {4, static_cast<char32_t>(0x10000 + (Index - Supplementary))};
    return {4, Replacement};
  }
  const std::uint32_t Entry = GbTables().Two[(Lead - 0x81) << 8 | Second];
  if (Entry == 0) return {1, Replacement};
  // Decode the table's UTF-8 back: this path is for mapping offsets, not for speed.
  char32_t Code = 0;
  const std::size_t Length = Entry >> 24;
  const unsigned B0 = Entry & 0xFF, B1 = Entry >> 8 & 0xFF, B2 = Entry >> 16 & 0xFF;
  if (Length == 1) Code = B0;
  else if (Length == 2) Code = (B0 & 0x1F) << 6 | (B1 & 0x3F);
  else Code = (B0 & 0x0F) << 12 | (B1 & 0x3F) << 6 | (B2 & 0x3F);
  return {2, Code};
}

template <bool BigEndian>
unsigned UnitAt(const unsigned char* Bytes, std::size_t Pos) {
  return BigEndian ? Bytes[Pos] << 8 | Bytes[Pos + 1] : Bytes[Pos] | Bytes[Pos + 1] << 8;
}

// The UTF-16 character at Pos, as the character walk takes it: a unit, a surrogate pair, or a last
// odd byte.
template <bool BigEndian>
TCodeStep Utf16Character(const unsigned char* Bytes, std::size_t Size, std::size_t Pos) {
  if (Pos + 2 > Size) return {Size - Pos, Replacement};
  const unsigned Unit = UnitAt<BigEndian>(Bytes, Pos);
  if (IsHighSurrogate(Unit) && Pos + 4 <= Size) {
    const unsigned Low = UnitAt<BigEndian>(Bytes, Pos + 2);
    if (IsLowSurrogate(Low)) return {4, static_cast<char32_t>(0x10000 + ((Unit - 0xD800) << 10 | (Low - 0xDC00)))};
  }
  if (IsHighSurrogate(Unit) || IsLowSurrogate(Unit)) return {2, Replacement};
  return {2, Unit};
}

std::size_t DecodeGb(std::string_view Text, std::size_t Pos, std::size_t To, char*& Out) {
  const auto* Bytes = reinterpret_cast<const unsigned char*>(Text.data());
  const std::size_t Size = Text.size();
  const std::uint32_t* Two = GbTables().Two.data();
  char* At = Out;
  while (Pos < To) {
    const unsigned Lead = Bytes[Pos];
    if (Lead < 0x80) {
      *At++ = static_cast<char>(Lead);
      ++Pos;
      continue;
    }
    if (Pos + 1 < Size && IsGbLead(Lead)) {
      const std::uint32_t Entry = Two[(Lead - 0x81) << 8 | Bytes[Pos + 1]];
      if (Entry != 0) {
        std::memcpy(At, &Entry, 4);  // the fourth byte is overwritten by what follows
        At += Entry >> 24;
        Pos += 2;
        continue;
      }
    }
    const TCodeStep Step = GbCharacter(Bytes, Size, Pos);
    At = PutUtf8(Step.Code, At);
    Pos += Step.Bytes;
  }
  Out = At;
  return Pos;
}

template <bool BigEndian>
std::size_t DecodeUtf16(std::string_view Text, std::size_t Pos, std::size_t To, char*& Out) {
  const auto* Bytes = reinterpret_cast<const unsigned char*>(Text.data());
  const std::size_t Size = Text.size();
  char* At = Out;
  while (Pos < To) {
    if (Pos + 2 <= Size) {
      const unsigned Unit = UnitAt<BigEndian>(Bytes, Pos);
      if (Unit < 0x80) {
        *At++ = static_cast<char>(Unit);
        Pos += 2;
        continue;
      }
    }
    const TCodeStep Step = Utf16Character<BigEndian>(Bytes, Size, Pos);
    At = PutUtf8(Step.Code, At);
    Pos += Step.Bytes;
  }
  Out = At;
  return Pos;
}

}  // namespace

std::size_t DecodeToUtf8(TTextEncoding Encoding, std::string_view Bytes, std::size_t From, std::size_t To, char*& Out) {
  switch (Encoding) {
  case TTextEncoding::Gb18030: return DecodeGb(Bytes, From, To, Out);
  case TTextEncoding::Utf16Le: return DecodeUtf16<false>(Bytes, From, To, Out);
  case TTextEncoding::Utf16Be: return DecodeUtf16<true>(Bytes, From, To, Out);
  case TTextEncoding::Utf8: break;
  }
  // UTF-8 needs no decoding: copied as it is.
  const std::size_t End = std::max(From, To);
  std::memcpy(Out, Bytes.data() + From, End - From);
  Out += End - From;
  return End;
}

std::size_t SkipDecoded(TTextEncoding Encoding, std::string_view Bytes, std::size_t Pos, std::size_t Utf8Bytes) {
  const auto* Data = reinterpret_cast<const unsigned char*>(Bytes.data());
  const std::size_t Size = Bytes.size();
  if (Encoding == TTextEncoding::Utf8) return std::min(Size, Pos + Utf8Bytes);
  if (Encoding == TTextEncoding::Gb18030) {
    const std::uint32_t* Two = GbTables().Two.data();
    while (Utf8Bytes > 0 && Pos < Size) {
      const unsigned Lead = Data[Pos];
      if (Lead < 0x80) {
        ++Pos;
        --Utf8Bytes;
        continue;
      }
      if (Pos + 1 < Size && IsGbLead(Lead)) {
        const std::uint32_t Entry = Two[(Lead - 0x81) << 8 | Data[Pos + 1]];
        if (Entry != 0) {
          Pos += 2;
          Utf8Bytes -= std::min<std::size_t>(Utf8Bytes, Entry >> 24);
          continue;
        }
      }
      const TCodeStep Step = GbCharacter(Data, Size, Pos);
      Pos += Step.Bytes;
      Utf8Bytes -= std::min(Utf8Bytes, Utf8Size(Step.Code));
    }
    return Pos;
  }
  const bool BigEndian = Encoding == TTextEncoding::Utf16Be;
  while (Utf8Bytes > 0 && Pos < Size) {
    const TCodeStep Step = BigEndian ? Utf16Character<true>(Data, Size, Pos) : Utf16Character<false>(Data, Size, Pos);
    Pos += Step.Bytes;
    Utf8Bytes -= std::min(Utf8Bytes, Utf8Size(Step.Code));
  }
  return Pos;
}
