// The Unicode forms of the table of encodings: UTF-8 and UTF-16 in either byte order. Each tells its
// characters apart from the bytes around them alone (continuation bytes, surrogates, the parity of
// an offset), so a page never needs the bytes before it.

#include "TextEncodingRows.h"
#include "Unicode.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

using namespace std::string_view_literals;

unsigned char ByteAt(std::string_view Bytes, std::size_t Pos) { return static_cast<unsigned char>(Bytes[Pos]); }

constexpr char Replacement[] = "\xEF\xBF\xBD";

std::size_t NoLookBack(TFileOffset, std::string_view) { return 0; }
bool Settled(std::string_view) { return true; }

// ---- UTF-8 ------------------------------------------------------------------------------------------

std::size_t Utf8Length(std::string_view Bytes, std::size_t Pos) {
  const TUtf8Sequence Sequence = ReadUtf8(Bytes.substr(Pos));
  return Sequence.Valid ? Sequence.Length : 1;
}

// A sequence with an overlong form, a surrogate or a byte out of place is no character, and each of
// its bytes shows as a replacement of its own.
TCharacter Utf8Read(std::string_view Bytes) {
  const TUtf8Sequence Sequence = ReadUtf8(Bytes);
  return {Sequence.Length, Sequence.Code, Sequence.Valid};
}

bool Utf8Starts(std::string_view Bytes, TFileOffset, std::size_t&, std::size_t Pos) {
  if (!IsContinuation(ByteAt(Bytes, Pos))) return true;
  // A continuation byte is a character of its own unless a sequence begun before it takes it: one
  // that is a character, or one the end cuts off.
  for (std::size_t Back = 1; Back <= 3 && Back <= Pos; ++Back) {
    if (IsContinuation(ByteAt(Bytes, Pos - Back))) continue;
    return Utf8Length(Bytes, Pos - Back) <= Back;
  }
  return true;
}

// Past the continuation bytes of a character begun before the bytes.
std::size_t Utf8KnownStart(std::string_view Bytes, std::size_t Pos) {
  std::size_t Start = 0;
  while (Start < Pos && Start < 3 && IsContinuation(ByteAt(Bytes, Start))) ++Start;
  return Start;
}

TWholeCharacters Utf8Whole(TFileOffset PageStart, std::string_view, std::string_view Page, std::size_t From) {
  const std::size_t Size = Page.size();
  TWholeCharacters Whole{From, Size};
  if (PageStart > 0)
    while (Whole.From < std::min<std::size_t>(Size, 3) && IsContinuation(ByteAt(Page, Whole.From))) ++Whole.From;
  // A lead byte among the last three whose sequence runs past the end is cut off.
  for (std::size_t Pos = Size; Pos > Whole.From && Pos + 4 > Size; --Pos) {
    const unsigned char Byte = ByteAt(Page, Pos - 1);
    if (IsContinuation(Byte)) continue;
    if (Pos - 1 + Utf8LengthOf(Byte) > Size) Whole.To = Pos - 1;
    break;
  }
  return Whole;
}

// Valid sequences are copied as they are; every byte of anything else becomes U+FFFD.
std::size_t Utf8Decode(std::string_view Bytes, std::size_t Pos, std::size_t To, char*& Out) {
  char* At = Out;
  while (Pos < To) {
    const unsigned char Lead = ByteAt(Bytes, Pos);
    if (Lead < 0x80) {
      *At++ = static_cast<char>(Lead);
      ++Pos;
      continue;
    }
    const TUtf8Sequence Sequence = ReadUtf8(Bytes.substr(Pos));
    if (Sequence.Valid && !Sequence.Cut) {
      std::memcpy(At, Bytes.data() + Pos, Sequence.Length);
      At += Sequence.Length;
      Pos += Sequence.Length;
    } else {
      At = std::copy_n(Replacement, 3, At);
      ++Pos;
    }
  }
  Out = At;
  return Pos;
}

char16_t* Utf8DecodeUtf16(std::string_view Bytes, char16_t* Out) {
  for (std::size_t Pos = 0; Pos < Bytes.size();) {
    const unsigned char Lead = ByteAt(Bytes, Pos);
    if (Lead < 0x80) {
      *Out++ = Lead;
      ++Pos;
      continue;
    }
    const TUtf8Sequence Sequence = ReadUtf8(Bytes.substr(Pos));
    const bool Whole = Sequence.Valid && !Sequence.Cut;
    Out = PutUtf16(Whole ? Sequence.Code : ReplacementCharacter, Out);
    Pos += Whole ? Sequence.Length : 1;
  }
  return Out;
}

std::size_t Utf8SkipDecoded(std::string_view Bytes, std::size_t Pos, std::size_t Utf8Bytes) {
  while (Utf8Bytes > 0 && Pos < Bytes.size()) {
    const TUtf8Sequence Sequence = ReadUtf8(Bytes.substr(Pos));
    const bool Whole = Sequence.Valid && !Sequence.Cut;
    Utf8Bytes -= std::min(Utf8Bytes, Whole ? Sequence.Length : std::size_t{3});
    Pos += Whole ? Sequence.Length : 1;
  }
  return Pos;
}

// Certain when the sample is valid UTF-8 with a multi-byte sequence in it (one cut by the sample's
// end counts as valid, since the file goes on); pure ASCII tells nothing.
TLikeness Utf8Likeness(std::string_view Sample) {
  bool MultiByte = false;
  for (std::size_t Pos = 0; Pos < Sample.size();) {
    if (ByteAt(Sample, Pos) < 0x80) {
      ++Pos;
      continue;
    }
    const TUtf8Sequence Sequence = ReadUtf8(Sample.substr(Pos));
    if (!Sequence.Valid) return Unfit;
    MultiByte = true;
    if (Sequence.Cut) break;
    Pos += Sequence.Length;
  }
  return MultiByte ? Certain : 0;
}

// ---- UTF-16 -----------------------------------------------------------------------------------------

template <bool BigEndian>
struct TUtf16 {
  static unsigned UnitAt(std::string_view Bytes, std::size_t Pos) {
    const unsigned First = ByteAt(Bytes, Pos), Second = ByteAt(Bytes, Pos + 1);
    return BigEndian ? First << 8 | Second : First | Second << 8;
  }

  // One code unit, or a surrogate pair; a last odd byte is a unit cut off.
  static std::size_t Length(std::string_view Bytes, std::size_t Pos) {
    if (Pos + 2 > Bytes.size()) return 2;
    if (!IsHighSurrogate(UnitAt(Bytes, Pos))) return 2;
    if (Pos + 4 > Bytes.size()) return 4;
    return IsLowSurrogate(UnitAt(Bytes, Pos + 2)) ? 4 : 2;
  }

  static TCharacter Read(std::string_view Bytes) {
    if (Bytes.size() < 2) return {2, 0, true};
    const unsigned Unit = UnitAt(Bytes, 0);
    if (IsLowSurrogate(Unit)) return {2, 0, false};
    if (!IsHighSurrogate(Unit)) return {2, Unit, true};
    if (Bytes.size() < 4) return {4, 0, true};
    const unsigned Low = UnitAt(Bytes, 2);
    if (!IsLowSurrogate(Low)) return {2, 0, false};
    return {4, FromSurrogates(Unit, Low), true};
  }

  // Code units stand at even offsets of the file; a low surrogate after a high one ends a pair.
  static bool Starts(std::string_view Bytes, TFileOffset BufferFrom, std::size_t&, std::size_t Pos) {
    if ((BufferFrom + static_cast<TFileOffset>(Pos)) % 2 != 0) return false;
    if (Pos < 2) return true;
    // A last odd byte is a unit cut off, or the rest of a pair that the end cuts off.
    if (Pos + 2 > Bytes.size()) return !IsHighSurrogate(UnitAt(Bytes, Pos - 2));
    return !(IsLowSurrogate(UnitAt(Bytes, Pos)) && IsHighSurrogate(UnitAt(Bytes, Pos - 2)));
  }

  static std::size_t KnownStart(std::string_view, std::size_t) { return 0; }

  static TWholeCharacters Whole(TFileOffset PageStart, std::string_view, std::string_view Page, std::size_t From) {
    const std::size_t Size = Page.size();
    TWholeCharacters Whole{From, Size};
    // Code units stand at even file offsets; a low surrogate first is the rest of a pair.
    if (PageStart % 2 != 0) Whole.From = 1;
    if (PageStart > 0 && Whole.From + 2 <= Size && IsLowSurrogate(UnitAt(Page, Whole.From))) Whole.From += 2;
    Whole.From = std::min(Whole.From, Size);
    Whole.To = Whole.From + (Size - Whole.From) / 2 * 2;
    if (Whole.To >= Whole.From + 2 && IsHighSurrogate(UnitAt(Page, Whole.To - 2))) Whole.To -= 2;
    return Whole;
  }

  // The character at Pos as Decode takes it: its bytes and code point (U+FFFD for a unit that begins
  // no character, or a last odd byte).
  static std::pair<std::size_t, char32_t> Character(std::string_view Bytes, std::size_t Pos) {
    if (Pos + 2 > Bytes.size()) return {Bytes.size() - Pos, ReplacementCharacter};
    const unsigned Unit = UnitAt(Bytes, Pos);
    if (IsHighSurrogate(Unit) && Pos + 4 <= Bytes.size()) {
      const unsigned Low = UnitAt(Bytes, Pos + 2);
      if (IsLowSurrogate(Low)) return {4, FromSurrogates(Unit, Low)};
    }
    if (IsHighSurrogate(Unit) || IsLowSurrogate(Unit)) return {2, ReplacementCharacter};
    return {2, Unit};
  }

  static std::size_t Decode(std::string_view Bytes, std::size_t Pos, std::size_t To, char*& Out) {
    char* At = Out;
    while (Pos < To) {
      if (Pos + 2 <= Bytes.size()) {
        const unsigned Unit = UnitAt(Bytes, Pos);
        if (Unit < 0x80) {
          *At++ = static_cast<char>(Unit);
          Pos += 2;
          continue;
        }
      }
      const auto [Length, Code] = Character(Bytes, Pos);
      At = PutUtf8(Code, At);
      Pos += Length;
    }
    Out = At;
    return Pos;
  }

  static char16_t* DecodeUtf16(std::string_view Bytes, char16_t* Out) {
    for (std::size_t Pos = 0; Pos < Bytes.size();) {
      const auto [Length, Code] = Character(Bytes, Pos);
      Out = PutUtf16(Code, Out);
      Pos += Length;
    }
    return Out;
  }

  static std::size_t SkipDecoded(std::string_view Bytes, std::size_t Pos, std::size_t Utf8Bytes) {
    while (Utf8Bytes > 0 && Pos < Bytes.size()) {
      const auto [Length, Code] = Character(Bytes, Pos);
      Pos += Length;
      Utf8Bytes -= std::min(Utf8Bytes, Utf8Size(Code));
    }
    return Pos;
  }

  static TEncodingRules Row(TTextEncoding Encoding, const char* Name, std::string_view ByteOrderMark,
                            std::string_view LineFeed, std::string_view CarriageReturn) {
    return {Encoding,   Name,    Name,   ByteOrderMark, 2,           LineFeed,    CarriageReturn, Length,
            Read,       false,   4,      Starts,        KnownStart,  Whole,       NoLookBack,     Settled,
            Decode,     SkipDecoded,     DecodeUtf16,   false,       nullptr};
  }
};

}  // namespace

TEncodingRules Utf8Row() {
  return {TTextEncoding::Utf8, "UTF-8",        "UTF-8",          "\xEF\xBB\xBF"sv, 1,        "\n"sv,
          "\r"sv,              Utf8Length,     Utf8Read,         false,            4,        Utf8Starts,
          Utf8KnownStart,      Utf8Whole,      NoLookBack,       Settled,          Utf8Decode, Utf8SkipDecoded,
          Utf8DecodeUtf16,     true,           Utf8Likeness};
}

TEncodingRules Utf16LeRow() {
  return TUtf16<false>::Row(TTextEncoding::Utf16Le, "UTF-16LE", "\xFF\xFE"sv, "\n\0"sv, "\r\0"sv);
}

TEncodingRules Utf16BeRow() {
  return TUtf16<true>::Row(TTextEncoding::Utf16Be, "UTF-16BE", "\xFE\xFF"sv, "\0\n"sv, "\0\r"sv);
}
