#pragma once

#include <cstddef>
#include <string_view>

// The program's one set of Unicode helpers: UTF-8 sequences and UTF-16 surrogates, for the decoders
// of the table of encodings and for the texts the reader types (UTF-8).

constexpr char32_t ReplacementCharacter = 0xFFFD;

inline bool IsContinuation(unsigned char Byte) { return (Byte & 0xC0) == 0x80; }
inline bool IsHighSurrogate(char32_t Unit) { return Unit >= 0xD800 && Unit <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

// The code point of a surrogate pair.
inline char32_t FromSurrogates(char32_t High, char32_t Low) { return 0x10000 + ((High - 0xD800) << 10 | (Low - 0xDC00)); }

// Bytes of the UTF-8 sequence a byte opens, 1 for anything that opens none.
inline std::size_t Utf8LengthOf(unsigned char Lead) {
  if (Lead < 0xC0) return 1;
  if (Lead < 0xE0) return 2;
  if (Lead < 0xF0) return 3;
  return Lead < 0xF8 ? 4 : 1;
}

// Bytes of Code in UTF-8.
inline std::size_t Utf8Size(char32_t Code) { return Code < 0x80 ? 1 : Code < 0x800 ? 2 : Code < 0x10000 ? 3 : 4; }

// Writes Code in UTF-8 at Out (room for four bytes); returns the end.
inline char* PutUtf8(char32_t Code, char* Out) {
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

// Writes Code in UTF-16 at Out (room for two units); returns the end.
inline char16_t* PutUtf16(char32_t Code, char16_t* Out) {
  if (Code < 0x10000) {
    *Out++ = static_cast<char16_t>(Code);
  } else {
    *Out++ = static_cast<char16_t>(0xD800 + ((Code - 0x10000) >> 10));
    *Out++ = static_cast<char16_t>(0xDC00 + ((Code - 0x10000) & 0x3FF));
  }
  return Out;
}

// One UTF-8 sequence at the start of Bytes, read strictly: overlong forms, surrogates, code points past
// U+10FFFF and a byte out of place make it no character (Valid false; its first byte is then a bad
// byte of its own). A sequence the end of Bytes cuts off is Valid with Cut set: its Length runs past
// the end, and the bytes that are there are right so far.
struct TUtf8Sequence {
  std::size_t Length = 1;
  char32_t Code = 0;
  bool Valid = false;
  bool Cut = false;
};

inline TUtf8Sequence ReadUtf8(std::string_view Bytes) {
  TUtf8Sequence Sequence;
  if (Bytes.empty()) return Sequence;
  const unsigned char Lead = static_cast<unsigned char>(Bytes[0]);
  if (Lead < 0x80) return {1, Lead, true, false};
  // The range of the second byte keeps out overlong forms, surrogates and code points past U+10FFFF.
  unsigned char Low = 0x80, High = 0xBF;
  std::size_t Length = 0;
  char32_t Code = 0;
  if (Lead >= 0xC2 && Lead <= 0xDF) {
    Length = 2;
    Code = Lead & 0x1F;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Length = 3;
    Code = Lead & 0x0F;
    if (Lead == 0xE0) Low = 0xA0;
    if (Lead == 0xED) High = 0x9F;
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Length = 4;
    Code = Lead & 0x07;
    if (Lead == 0xF0) Low = 0x90;
    if (Lead == 0xF4) High = 0x8F;
  } else {
    return Sequence;
  }
  for (std::size_t I = 1; I < Length; ++I) {
    if (I >= Bytes.size()) return {Length, 0, true, true};
    const unsigned char Byte = static_cast<unsigned char>(Bytes[I]);
    if (I == 1 ? Byte < Low || Byte > High : !IsContinuation(Byte)) return Sequence;
    Code = Code << 6 | (Byte & 0x3F);
  }
  return {Length, Code, true, false};
}
