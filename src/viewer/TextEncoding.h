#pragma once

#include "FileOffset.h"

#include <cstddef>
#include <string_view>
#include <vector>

// The encodings a text file is read in, and their byte rules that need no decoding: which encoding a
// file is in, where characters begin and end, what a code unit is and where a NUL ends the text. The
// page reader's bytes stay as they are; these rules only decide which of them show as characters.
enum class TTextEncoding { Gb18030, Utf8, Utf16Le, Utf16Be };

// One character as a walk over a page reads it: how many bytes it takes, and what it is.
struct TCharacter {
  std::size_t Length = 1;  // may exceed the bytes at hand: the character needs that many
  char32_t CodePoint = 0;
  bool Valid = false;      // false: bytes that begin no character, shown as one replacement each
};

// The part of a page that holds whole characters: Page[From, To). The bytes before From finish a
// character that began before the page (or are the file's byte-order mark); the bytes from To on begin
// one that the page cuts off.
struct TWholeCharacters {
  std::size_t From = 0;
  std::size_t To = 0;
};

// What one encoding is, for everything that needs no decoding: the page reader, the whole-character
// walk, line breaks, the NUL cut, detection and the Setup menu. The toolkit's decoder takes only the
// iconv name from here. Adding an encoding is one row in TextEncoding.cpp and its functions.
struct TEncodingRules {
  TTextEncoding Encoding;
  const char* MenuName;   // its item under Setup > 文本编码
  const char* IconvName;  // the decoder's name for it
  std::string_view ByteOrderMark;
  std::size_t CodeUnit;   // bytes of one code unit; a zero unit (NUL) ends a text
  std::string_view LineFeed;        // as code units of this encoding
  std::string_view CarriageReturn;
  // The character walk (see CharNext below).
  std::size_t (*Next)(std::string_view Bytes, std::size_t Pos);
  // The bytes of a page that are whole characters (see WholeCharacters below), From past the
  // byte-order mark.
  TWholeCharacters (*Whole)(TFileOffset PageStart, std::string_view LookBack, std::string_view Page, std::size_t From);
  // How many bytes before a page it needs to find its first character (see LookBackNeeded below).
  std::size_t (*LookBack)(TFileOffset PageStart, std::string_view Page);
  // The character at the start of Bytes, for counting screen columns; nullptr when a character
  // takes as many columns as it has bytes (GB18030, whose bytes the page reader counts one by one).
  TCharacter (*Read)(std::string_view Bytes);
};

// Every encoding, in the order the Setup menu lists them.
const std::vector<TEncodingRules>& Encodings();
const TEncodingRules& RulesOf(TTextEncoding Encoding);

// How much of a file's start decides its encoding.
constexpr std::size_t EncodingSampleBytes = 64 * 1024;
// How far before a page the start of its first whole GB18030 character is looked for.
constexpr std::size_t LookBackBytes = 64 * 1024;

// The encoding of a file that begins with Sample: a byte-order mark decides (UTF-8, UTF-16 LE or BE,
// GB18030); otherwise a sample that is valid UTF-8 and holds a multi-byte sequence is UTF-8 (a
// sequence cut by the sample's end counts as valid); anything else, pure ASCII included, is GB18030.
TTextEncoding DetectEncoding(std::string_view Sample);

// 2 for UTF-16, 1 otherwise.
inline std::size_t CodeUnitBytes(TTextEncoding Encoding) { return RulesOf(Encoding).CodeUnit; }

// The code unit at Pos, which needs CodeUnitBytes bytes from Pos inside Bytes.
inline unsigned CodeUnitAt(TTextEncoding Encoding, std::string_view Bytes, std::size_t Pos) {
  const auto Byte = [&](std::size_t At) { return static_cast<unsigned>(static_cast<unsigned char>(Bytes[At])); };
  switch (Encoding) {
  case TTextEncoding::Utf16Le: return Byte(Pos) | Byte(Pos + 1) << 8;
  case TTextEncoding::Utf16Be: return Byte(Pos) << 8 | Byte(Pos + 1);
  default: return Byte(Pos);
  }
}

// The columns a character takes on a screen line: its length in GB18030, the code page the line
// capacity is counted in (ASCII 1, a Chinese character 2, a character GBK lacks 4), so the same text
// fills the same lines in every encoding.
std::size_t Gb18030Columns(char32_t CodePoint);

// Where the character after the one at Pos starts; at or past the end, the end. GB18030: a lead byte
// (0x81..0xFE) takes the next byte along unseen, a line break too, but not a NUL or the end; lead,
// digit, lead, digit is one four-byte character. UTF-8: a lead byte takes the continuation bytes its
// sequence needs as far as they are there. UTF-16: one code unit, or a surrogate pair; a last odd
// byte on its own.
std::size_t CharNext(TTextEncoding Encoding, std::string_view Bytes, std::size_t Pos);

// Bytes of the GB18030 character at Pos as the decoder reads it: 1 for ASCII and for a byte that begins
// no character (a lead byte without a valid second byte among them), 2 for a lead and trail, 4 for
// lead, digit, lead, digit. Past the end of Bytes when the end cuts the character off. A byte below
// 0x30 is never part of a character begun before it, so it always starts one.
std::size_t Gb18030Length(std::string_view Bytes, std::size_t Pos);

// Where the text ends: at its first NUL, a zero byte, or in UTF-16 a zero code unit; else its size.
std::size_t TextEnd(TTextEncoding Encoding, std::string_view Bytes);


// How many bytes just before a page that starts at PageStart are needed to find its first whole
// character: 0 when the page decides on its own (UTF-8 continuation bytes, UTF-16 parity, a GB18030
// page at the file's start or opening with a byte below 0x30, which no character holds after its
// first byte); else, for GB18030, up to LookBackBytes.
std::size_t LookBackNeeded(TTextEncoding Encoding, TFileOffset PageStart, std::string_view Page);
// Whether LookBack, the last bytes before a page, already holds where the walk to its first whole
// character starts (for GB18030 a byte below 0x30), so that more bytes before them change nothing.
bool LookBackSettles(TTextEncoding Encoding, std::string_view LookBack);

// The whole characters of Page, read from PageStart. LookBack holds the bytes just before PageStart
// (fewer than LookBackNeeded, or none: the GB18030 start then counts as whole). GB18030 walks
// forward from the last byte below 0x30 in LookBack, or from the file's start when LookBack reaches
// it; with neither, the start counts as whole. Reads nothing outside LookBack and Page.
TWholeCharacters WholeCharacters(TTextEncoding Encoding, TFileOffset PageStart, std::string_view LookBack,
                                 std::string_view Page);
