#pragma once

#include "FileOffset.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The encodings a text file is read in. Everything that depends on which encoding a text is in lives
// in one row of the table of encodings (Encodings(), below): where characters begin and end, how
// many columns they take, how they decode to UTF-8 and how UTF-8 encodes into them, and what tells a
// file in it. The page reader, the search, the chapter scan, the text area's decoder and the Setup
// menu ask the row; adding an encoding is adding a row (TextEncoding.cpp) and its functions.
enum class TTextEncoding { Gb18030, Big5, Utf8, Utf16Le, Utf16Be };

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

// How well a sample without a byte-order mark reads as one encoding: a count of the characters that
// text in it commonly holds, less what cannot be its text; or one of the two ends below.
using TLikeness = std::int64_t;
constexpr TLikeness Unfit = INT64_MIN;    // the sample cannot be text in it
constexpr TLikeness Certain = INT64_MAX;  // the sample is surely text in it

// One row of the table: what an encoding is and how each part of the program treats it.
//
// The replacement rule, the same in every part that decodes (the page, the search, the chapter
// titles): a code unit that begins no whole character (a byte that no valid character follows, one
// cut off by the end of the bytes, a lone surrogate) decodes to one U+FFFD, and decoding goes on with
// the next code unit; so a bad lead byte before a line feed costs one U+FFFD and keeps the line feed.
struct TEncodingRules {
  TTextEncoding Encoding;
  const char* MenuName;   // its item under Setup > 文本编码, and its name in messages
  const char* IconvName;  // the system converter's name for it, for encoding UTF-8 into it
  std::string_view ByteOrderMark;
  std::size_t CodeUnit;   // bytes of one code unit; a zero unit (NUL) ends a text
  std::string_view LineFeed;        // as code units of this encoding
  std::string_view CarriageReturn;

  // ---- Characters
  // Bytes of the character at Pos (inside Bytes) as the decoder reads it: a code unit that begins no
  // character is one of its own; past the end of Bytes when the end cuts a character off.
  std::size_t (*Length)(std::string_view Bytes, std::size_t Pos);
  // The character at the start of Bytes (not empty), what it is and how long; Length past the bytes
  // at hand when they are not all there yet.
  TCharacter (*Read)(std::string_view Bytes);
  // A character takes as many columns as it has bytes, counted one by one as the page reader reads
  // them (GB18030, the code page the line capacity is counted in); otherwise the columns of its
  // GB18030 form (Gb18030Columns), so the same text fills the same lines in every encoding.
  bool BytesAreColumns;

  // ---- Where characters start
  // How many bytes before an offset can decide whether a character starts there.
  std::size_t StartReach;
  // Whether Pos starts a character of Bytes (whose first byte lies at BufferFrom in the file), for
  // offsets asked in increasing order; Walked is the walk's state, first an offset known to start a
  // character at or before the first asked.
  bool (*Starts)(std::string_view Bytes, TFileOffset BufferFrom, std::size_t& Walked, std::size_t Pos);
  // An offset at or before Pos that surely starts a character (0 when nothing before tells).
  std::size_t (*KnownStart)(std::string_view Bytes, std::size_t Pos);
  // The bytes of a page that are whole characters (see WholeCharacters below), From past the
  // byte-order mark.
  TWholeCharacters (*Whole)(TFileOffset PageStart, std::string_view LookBack, std::string_view Page, std::size_t From);
  // How many bytes before a page it needs to find its first character (see LookBackNeeded below).
  std::size_t (*LookBack)(TFileOffset PageStart, std::string_view Page);
  // Whether LookBack already holds where that walk starts (see LookBackSettles below).
  bool (*Settles)(std::string_view LookBack);

  // ---- Decoding, by the replacement rule above
  // Decodes the characters of Bytes that start in [From, To), To <= Bytes.size(), writing their UTF-8
  // at Out (room for Utf8BytesPerByte per byte of Bytes from From, plus 4), and advances Out past it.
  // Returns where the first character at or after To starts (past To when the last one decoded runs
  // over it). A NUL decodes to a NUL.
  std::size_t (*Decode)(std::string_view Bytes, std::size_t From, std::size_t To, char*& Out);
  // Where the characters of Bytes from Pos on (Pos a character start) have decoded to Utf8Bytes bytes
  // of UTF-8, as Decode takes them: for finding a match's place in the file.
  std::size_t (*SkipDecoded)(std::string_view Bytes, std::size_t Pos, std::size_t Utf8Bytes);
  // The same decoding into UTF-16 for the screen, all of Bytes at once: writes at Out (room for one
  // unit a byte, which no character exceeds) and returns the end.
  char16_t* (*DecodeUtf16)(std::string_view Bytes, char16_t* Out);
  // Its bytes are UTF-8 already: a matcher may take them as they are, where a byte that is no
  // character matches nothing, rather than decoded.
  bool DecodedAsItIs;

  // ---- Detection
  // How well a sample (from a character's start; its end may cut one) reads as this encoding;
  // nullptr: only its byte-order mark tells it.
  TLikeness (*Likeness)(std::string_view Sample);
};

// Every encoding, in the order the Setup menu lists them; the first is the default, which a file that
// nothing else fits is read in.
const std::vector<TEncodingRules>& Encodings();
const TEncodingRules& RulesOf(TTextEncoding Encoding);

// The most UTF-8 bytes one byte decodes to, for sizing a decoder's output.
constexpr std::size_t Utf8BytesPerByte = 3;

// How much of a file one sample for detection takes, and how many samples are taken at most.
constexpr std::size_t EncodingSampleBytes = 64 * 1024;
constexpr std::size_t EncodingSampleCount = 5;
// How far before a page the start of its first whole character is looked for, where no byte of the
// page itself tells (GB18030, Big5).
constexpr std::size_t LookBackBytes = 64 * 1024;

// The samples of FileName that decide its encoding: its first EncodingSampleBytes, and more of that
// size spread evenly over the rest, the last at its end (the whole file when it is no larger than
// EncodingSampleCount samples). One open, a few reads, however large the file; a file that cannot be
// read gives one empty sample.
std::vector<std::string> ReadEncodingSamples(const std::string& FileName);

// The encoding of a file from its samples: Samples[0] is its start, the others lie anywhere inside it
// (each is read from just after its first byte below 0x30, where a character starts in every encoding
// of one-byte code units). A byte-order mark at the start decides; otherwise the row whose likeness
// over all samples is greatest, where another row than the default must show more than the default and
// more than nothing. So: UTF-8 when every sample is valid UTF-8 and one holds a multi-byte sequence (a
// sequence cut by a sample's end counts as valid); Big5 when its commonest characters outnumber
// GB18030's; GB18030 for everything else, pure ASCII included.
TTextEncoding DetectEncoding(const std::vector<std::string>& Samples);

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
// capacity is counted in (ASCII 1, a Chinese character 2, a character GBK lacks 4).
std::size_t Gb18030Columns(char32_t CodePoint);

// The columns a character read by Rules takes: its bytes where they are the columns, else those of
// its GB18030 form; a byte (code unit) that begins no character takes one column a byte.
inline std::size_t ColumnsOf(const TEncodingRules& Rules, const TCharacter& Character) {
  if (Rules.BytesAreColumns || !Character.Valid) return Character.Length;
  return Gb18030Columns(Character.CodePoint);
}

// Where the character after the one at Pos starts, as the decoder reads them (the row's Length); a
// character that the end cuts off takes the bytes left; at or past the end, the end. In every encoding
// a line break's or a NUL's code unit is a character of its own: no character of one-byte code units
// holds a byte below 0x30 after its first byte, and none of UTF-16 a unit below 0xD800 after its first.
std::size_t CharNext(TTextEncoding Encoding, std::string_view Bytes, std::size_t Pos);

// Where the text ends: at its first NUL, a zero byte, or in UTF-16 a zero code unit; else its size.
std::size_t TextEnd(TTextEncoding Encoding, std::string_view Bytes);

// How many bytes just before a page that starts at PageStart are needed to find its first whole
// character: 0 when the page decides on its own (UTF-8 continuation bytes, UTF-16 parity, a GB18030
// or Big5 page at the file's start or opening with a byte that always starts a character); else up
// to LookBackBytes.
std::size_t LookBackNeeded(TTextEncoding Encoding, TFileOffset PageStart, std::string_view Page);
// Whether LookBack, the last bytes before a page, already holds where the walk to its first whole
// character starts, so that more bytes before them change nothing.
bool LookBackSettles(TTextEncoding Encoding, std::string_view LookBack);

// The whole characters of Page, read from PageStart. LookBack holds the bytes just before PageStart
// (fewer than LookBackNeeded, or none: the start then counts as whole). GB18030 and Big5 walk forward
// from the last byte of LookBack that always starts a character (GB18030: below 0x30, Big5: below
// 0x40), or from the file's start when LookBack reaches it; with neither, the start counts as whole.
// Reads nothing outside LookBack and Page.
TWholeCharacters WholeCharacters(TTextEncoding Encoding, TFileOffset PageStart, std::string_view LookBack,
                                 std::string_view Page);

// Whether offsets of a buffer, asked in increasing order, start a character of the encoding. Known is
// an offset known to start one, at or before the first asked.
class TCharacterStarts {
public:
  TCharacterStarts(TTextEncoding Encoding, std::string_view Bytes, TFileOffset BufferFrom, std::size_t Known)
      : FRules(RulesOf(Encoding)), FBytes(Bytes), FBufferFrom(BufferFrom), FWalked(Known) {}

  bool operator()(std::size_t Pos) { return FRules.Starts(FBytes, FBufferFrom, FWalked, Pos); }

private:
  const TEncodingRules& FRules;
  std::string_view FBytes;
  TFileOffset FBufferFrom;
  std::size_t FWalked;
};

// UTF-8 text in the bytes of one encoding, through the system's converter (the row's iconv name),
// held for the encoder's life. One user at a time.
class TTextEncoder {
public:
  explicit TTextEncoder(TTextEncoding Encoding);
  ~TTextEncoder();
  TTextEncoder(const TTextEncoder&) = delete;
  TTextEncoder& operator=(const TTextEncoder&) = delete;

  // Whether the system can convert into the encoding at all.
  explicit operator bool() const;
  // The bytes of Utf8, or false when it is not valid UTF-8 or holds a character the encoding lacks.
  bool Encode(std::string_view Utf8, std::string& Bytes);

private:
  void* FConverter;
};
