#include "TextEncoding.h"

#include <algorithm>
#include <bitset>
#include <string>

#include <iconv.h>

namespace {

unsigned char ByteAt(std::string_view Bytes, std::size_t Pos) { return static_cast<unsigned char>(Bytes[Pos]); }

bool IsGbLead(unsigned char Byte) { return Byte >= 0x81 && Byte <= 0xFE; }
bool IsDigit(unsigned char Byte) { return Byte >= 0x30 && Byte <= 0x39; }
bool IsGbTrail(unsigned char Byte) { return Byte >= 0x40 && Byte <= 0xFE && Byte != 0x7F; }
// No GB18030 character holds a byte below 0x30 after its first byte, so such a byte always starts one.
bool StartsGbCharacter(unsigned char Byte) { return Byte < 0x30; }

bool IsContinuation(unsigned char Byte) { return (Byte & 0xC0) == 0x80; }
bool IsHighSurrogate(unsigned Unit) { return Unit >= 0xD800 && Unit <= 0xDBFF; }
bool IsLowSurrogate(unsigned Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

// Bytes of the UTF-8 sequence a byte opens, 1 for anything that opens none.
std::size_t Utf8Length(unsigned char Byte) {
  if (Byte < 0xC0) return 1;
  if (Byte < 0xE0) return 2;
  if (Byte < 0xF0) return 3;
  return Byte < 0xF8 ? 4 : 1;
}

// Length of the GB18030 character at Pos, counted as the decoder reads it: a lead byte without a
// valid second byte is a (bad) character of its own. Past the end of Bytes when the end cuts it off.
std::size_t GbLength(std::string_view Bytes, std::size_t Pos) {
  const std::size_t Left = Bytes.size() - Pos;
  if (!IsGbLead(ByteAt(Bytes, Pos))) return 1;
  if (Left < 2) return 2;
  const unsigned char Second = ByteAt(Bytes, Pos + 1);
  if (IsDigit(Second)) {
    if (Left < 3) return 4;
    if (!IsGbLead(ByteAt(Bytes, Pos + 2))) return 1;
    if (Left < 4) return 4;
    return IsDigit(ByteAt(Bytes, Pos + 3)) ? 4 : 1;
  }
  return IsGbTrail(Second) ? 2 : 1;
}

// Where the GB18030 walk from a character start at Pos ends: just before the character the end of
// Bytes cuts off, or the end.
std::size_t GbWholeEnd(std::string_view Bytes, std::size_t Pos) {
  while (Pos < Bytes.size()) {
    const std::size_t Length = GbLength(Bytes, Pos);
    if (Length > Bytes.size() - Pos) break;
    Pos += Length;
  }
  return Pos;
}

// Where the first whole GB18030 character of Page starts, walking on from the last byte of LookBack
// that starts a character (or from LookBack's first byte when AtFileStart).
std::size_t GbFirstWhole(std::string_view LookBack, std::string_view Page, bool AtFileStart) {
  std::size_t Pos = LookBack.size();
  while (Pos > 0 && !StartsGbCharacter(ByteAt(LookBack, Pos - 1))) --Pos;
  if (Pos > 0)
    --Pos;
  else if (!AtFileStart)
    return 0;  // nothing in reach tells: the start counts as whole
  // Inside LookBack while a whole character's bytes are all there; the last few across into Page.
  while (Pos + 4 <= LookBack.size()) Pos += GbLength(LookBack, Pos);
  std::string Seam(LookBack.substr(Pos));
  Seam.append(Page.substr(0, 4));
  const std::size_t Before = LookBack.size() - Pos;
  std::size_t InSeam = 0;
  while (InSeam < Before) InSeam += GbLength(Seam, InSeam);
  return std::min(InSeam - Before, Page.size());
}

bool StartsWith(std::string_view Bytes, std::string_view Prefix) { return Bytes.substr(0, Prefix.size()) == Prefix; }

// Whether Sample is UTF-8 that holds at least one multi-byte sequence; a sequence cut by the end of
// the sample is taken as valid, since the file goes on.
bool IsMultiByteUtf8(std::string_view Sample) {
  bool MultiByte = false;
  std::size_t Pos = 0;
  while (Pos < Sample.size()) {
    const unsigned char Lead = ByteAt(Sample, Pos);
    if (Lead < 0x80) {
      ++Pos;
      continue;
    }
    // The range of the second byte keeps out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char Low = 0x80, High = 0xBF;
    std::size_t Length = 0;
    if (Lead >= 0xC2 && Lead <= 0xDF) Length = 2;
    else if (Lead >= 0xE0 && Lead <= 0xEF) {
      Length = 3;
      if (Lead == 0xE0) Low = 0xA0;
      if (Lead == 0xED) High = 0x9F;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
      Length = 4;
      if (Lead == 0xF0) Low = 0x90;
      if (Lead == 0xF4) High = 0x8F;
    } else {
      return false;
    }
    for (std::size_t I = 1; I < Length; ++I) {
      if (Pos + I >= Sample.size()) return true;
      const unsigned char Byte = ByteAt(Sample, Pos + I);
      if (I == 1 ? Byte < Low || Byte > High : !IsContinuation(Byte)) return false;
    }
    MultiByte = true;
    Pos += Length;
  }
  return MultiByte;
}

// ---- The character walks -------------------------------------------------------------------------

std::size_t GbNext(std::string_view Bytes, std::size_t Pos) {
  const std::size_t Size = Bytes.size();
  if (Pos >= Size) return Size;
  if (!IsGbLead(ByteAt(Bytes, Pos)) || Pos + 1 == Size || Bytes[Pos + 1] == '\0') return Pos + 1;
  if (Pos + 3 < Size && IsDigit(ByteAt(Bytes, Pos + 1)) && IsGbLead(ByteAt(Bytes, Pos + 2)) &&
      IsDigit(ByteAt(Bytes, Pos + 3)))
    return Pos + 4;
  return Pos + 2;
}

std::size_t Utf8Next(std::string_view Bytes, std::size_t Pos) {
  const std::size_t Size = Bytes.size();
  if (Pos >= Size) return Size;
  const std::size_t End = std::min(Size, Pos + Utf8Length(ByteAt(Bytes, Pos)));
  std::size_t Next = Pos + 1;
  while (Next < End && IsContinuation(ByteAt(Bytes, Next))) ++Next;
  return Next;
}

template <TTextEncoding Utf16>
std::size_t Utf16Next(std::string_view Bytes, std::size_t Pos) {
  const std::size_t Size = Bytes.size();
  if (Pos >= Size) return Size;
  if (Pos + 2 > Size) return Size;
  if (IsHighSurrogate(CodeUnitAt(Utf16, Bytes, Pos)) && Pos + 4 <= Size &&
      IsLowSurrogate(CodeUnitAt(Utf16, Bytes, Pos + 2)))
    return Pos + 4;
  return Pos + 2;
}

// ---- Where a page needs the bytes before it ---------------------------------------------------------

std::size_t GbLookBack(TFileOffset PageStart, std::string_view Page) {
  if (PageStart <= 0 || Page.empty() || StartsGbCharacter(ByteAt(Page, 0))) return 0;
  return static_cast<std::size_t>(std::min<TFileOffset>(PageStart, LookBackBytes));
}

std::size_t NoLookBack(TFileOffset, std::string_view) { return 0; }

// ---- The whole characters of a page -----------------------------------------------------------------

TWholeCharacters GbWhole(TFileOffset PageStart, std::string_view LookBack, std::string_view Page, std::size_t From) {
  const std::size_t Size = Page.size();
  TWholeCharacters Whole{From, Size};
  if (PageStart > 0 && !LookBack.empty() && GbLookBack(PageStart, Page) > 0)
    Whole.From = GbFirstWhole(LookBack, Page, static_cast<TFileOffset>(LookBack.size()) == PageStart);
  // Walk only from the last byte that surely starts a character: usually the page's final line feed.
  std::size_t Known = Size;
  while (Known > Whole.From && !StartsGbCharacter(ByteAt(Page, Known - 1))) --Known;
  Whole.To = GbWholeEnd(Page, Known > Whole.From ? Known - 1 : Whole.From);
  return Whole;
}

TWholeCharacters Utf8Whole(TFileOffset PageStart, std::string_view, std::string_view Page, std::size_t From) {
  const std::size_t Size = Page.size();
  TWholeCharacters Whole{From, Size};
  if (PageStart > 0)
    while (Whole.From < std::min<std::size_t>(Size, 3) && IsContinuation(ByteAt(Page, Whole.From))) ++Whole.From;
  // A lead byte among the last three whose sequence runs past the end is cut off.
  Whole.To = Size;
  for (std::size_t Pos = Size; Pos > Whole.From && Pos + 4 > Size; --Pos) {
    const unsigned char Byte = ByteAt(Page, Pos - 1);
    if (IsContinuation(Byte)) continue;
    if (Pos - 1 + Utf8Length(Byte) > Size) Whole.To = Pos - 1;
    break;
  }
  return Whole;
}

template <TTextEncoding Utf16>
TWholeCharacters Utf16Whole(TFileOffset PageStart, std::string_view, std::string_view Page, std::size_t From) {
  const std::size_t Size = Page.size();
  TWholeCharacters Whole{From, Size};
  // Code units stand at even file offsets; a low surrogate first is the rest of a pair.
  if (PageStart % 2 != 0) Whole.From = 1;
  if (PageStart > 0 && Whole.From + 2 <= Size && IsLowSurrogate(CodeUnitAt(Utf16, Page, Whole.From)))
    Whole.From += 2;
  Whole.From = std::min(Whole.From, Size);
  Whole.To = Whole.From + (Size - Whole.From) / 2 * 2;
  if (Whole.To >= Whole.From + 2 && IsHighSurrogate(CodeUnitAt(Utf16, Page, Whole.To - 2))) Whole.To -= 2;
  return Whole;
}

// ---- One character, for its columns -----------------------------------------------------------------

// As the decoder reads UTF-8: a sequence with an overlong form, a surrogate or a byte out of place is
// no character, and each of its bytes shows as a replacement of its own.
TCharacter Utf8Read(std::string_view Bytes) {
  TCharacter Character;
  const unsigned char Lead = ByteAt(Bytes, 0);
  if (Lead < 0x80) return {1, Lead, true};
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
    return Character;
  }
  for (std::size_t I = 1; I < Length; ++I) {
    if (I >= Bytes.size()) return {Length, 0, true};  // the rest is still to come
    const unsigned char Byte = ByteAt(Bytes, I);
    if (I == 1 ? Byte < Low || Byte > High : !IsContinuation(Byte)) return Character;
    Code = Code << 6 | (Byte & 0x3F);
  }
  return {Length, Code, true};
}

template <TTextEncoding Utf16>
TCharacter Utf16Read(std::string_view Bytes) {
  if (Bytes.size() < 2) return {2, 0, true};
  const unsigned Unit = CodeUnitAt(Utf16, Bytes, 0);
  if (IsLowSurrogate(Unit)) return {2, 0, false};
  if (!IsHighSurrogate(Unit)) return {2, Unit, true};
  if (Bytes.size() < 4) return {4, 0, true};
  const unsigned Low = CodeUnitAt(Utf16, Bytes, 2);
  if (!IsLowSurrogate(Low)) return {2, 0, false};
  return {4, 0x10000 + ((Unit - 0xD800) << 10 | (Low - 0xDC00)), true};
}

// Which characters of the Basic Multilingual Plane GB18030 writes in two bytes (the rest of it above
// ASCII takes four), asked once of the system's converter, which knows the whole mapping.
class TGbTwoByte {
public:
  TGbTwoByte() {
    const iconv_t Cd = iconv_open("GB18030", "UTF-32LE");
    if (Cd == reinterpret_cast<iconv_t>(-1)) return;  // no converter: every such character counts four
    for (char32_t Code = 0x80; Code <= 0xFFFF; ++Code) {
      if (Code >= 0xD800 && Code <= 0xDFFF) continue;
      char In[4] = {static_cast<char>(Code & 0xFF), static_cast<char>(Code >> 8), 0, 0};
      char Out[8];
      char* InPos = In;
      std::size_t InLeft = sizeof In;
      char* OutPos = Out;
      std::size_t OutLeft = sizeof Out;
      // One at a time: a character the converter refuses counts four and spoils no other.
      if (iconv(Cd, &InPos, &InLeft, &OutPos, &OutLeft) != static_cast<std::size_t>(-1) && OutPos - Out == 2)
        FTwoByte[Code] = true;
    }
    iconv_close(Cd);
  }
  bool operator[](char32_t Code) const { return Code <= 0xFFFF && FTwoByte[Code]; }

private:
  std::bitset<0x10000> FTwoByte;
};

// ---- The table --------------------------------------------------------------------------------------

using namespace std::string_view_literals;

// Made on first use: other objects made before main() ask for it.
const std::vector<TEncodingRules>& Table() {
  static const std::vector<TEncodingRules> Rows = {
    {TTextEncoding::Gb18030, "GB18030", "GB18030", "\x84\x31\x95\x33"sv, 1, "\n"sv, "\r"sv, GbNext, GbWhole,
     GbLookBack, nullptr},
    {TTextEncoding::Utf8, "UTF-8", "UTF-8", "\xEF\xBB\xBF"sv, 1, "\n"sv, "\r"sv, Utf8Next, Utf8Whole, NoLookBack,
     Utf8Read},
    {TTextEncoding::Utf16Le, "UTF-16LE", "UTF-16LE", "\xFF\xFE"sv, 2, "\n\0"sv, "\r\0"sv,
     Utf16Next<TTextEncoding::Utf16Le>, Utf16Whole<TTextEncoding::Utf16Le>, NoLookBack,
     Utf16Read<TTextEncoding::Utf16Le>},
    {TTextEncoding::Utf16Be, "UTF-16BE", "UTF-16BE", "\xFE\xFF"sv, 2, "\0\n"sv, "\0\r"sv,
     Utf16Next<TTextEncoding::Utf16Be>, Utf16Whole<TTextEncoding::Utf16Be>, NoLookBack,
     Utf16Read<TTextEncoding::Utf16Be>},
  };
  return Rows;
}

}  // namespace

const std::vector<TEncodingRules>& Encodings() { return Table(); }

const TEncodingRules& RulesOf(TTextEncoding Encoding) {
  for (const TEncodingRules& Rules : Table())
    if (Rules.Encoding == Encoding) return Rules;
  return Table().front();
}

std::size_t Gb18030Columns(char32_t CodePoint) {
  if (CodePoint < 0x80) return 1;
  static const TGbTwoByte TwoByte;
  return TwoByte[CodePoint] ? 2 : 4;
}

TTextEncoding DetectEncoding(std::string_view Sample) {
  for (const TEncodingRules& Rules : Table())
    if (StartsWith(Sample, Rules.ByteOrderMark)) return Rules.Encoding;
  return IsMultiByteUtf8(Sample) ? TTextEncoding::Utf8 : TTextEncoding::Gb18030;
}

std::size_t Gb18030Length(std::string_view Bytes, std::size_t Pos) { return GbLength(Bytes, Pos); }

std::size_t CharNext(TTextEncoding Encoding, std::string_view Bytes, std::size_t Pos) {
  return RulesOf(Encoding).Next(Bytes, Pos);
}

std::size_t TextEnd(TTextEncoding Encoding, std::string_view Bytes) {
  const std::size_t Unit = CodeUnitBytes(Encoding);
  if (Unit == 1) return std::min(Bytes.find('\0'), Bytes.size());
  for (std::size_t Pos = 0; Pos + Unit <= Bytes.size(); Pos += Unit)
    if (Bytes.substr(Pos, Unit).find_first_not_of('\0') == std::string_view::npos) return Pos;
  return Bytes.size();
}

std::size_t LookBackNeeded(TTextEncoding Encoding, TFileOffset PageStart, std::string_view Page) {
  return RulesOf(Encoding).LookBack(PageStart, Page);
}

bool LookBackSettles(TTextEncoding Encoding, std::string_view LookBack) {
  return Encoding != TTextEncoding::Gb18030 ||
         std::any_of(LookBack.begin(), LookBack.end(), [](char Byte) { return StartsGbCharacter(static_cast<unsigned char>(Byte)); });
}

TWholeCharacters WholeCharacters(TTextEncoding Encoding, TFileOffset PageStart, std::string_view LookBack,
                                 std::string_view Page) {
  const TEncodingRules& Rules = RulesOf(Encoding);
  // The file's byte-order mark, or as much of it as the page holds, is no character.
  const std::string_view Mark = Rules.ByteOrderMark;
  std::size_t From = 0;
  if (PageStart == 0 && !Page.empty() && StartsWith(Mark, Page.substr(0, Mark.size())))
    From = std::min(Mark.size(), Page.size());
  TWholeCharacters Whole = Rules.Whole(PageStart, LookBack, Page, From);
  Whole.From = std::min(Whole.From, Page.size());
  Whole.To = std::max(Whole.To, Whole.From);
  return Whole;
}
