#pragma once

#include "TextEncoding.h"

#include <cstddef>
#include <string_view>

// The text of a GB18030 or UTF-16 block as UTF-8, for matching a regular expression over characters.
// Characters are taken as the character walk takes them; a byte or unit that begins no character
// decodes to one U+FFFD, a single 0x80 to "€" (as code page 936 shows it).

// The most UTF-8 bytes one byte of a block decodes to, for sizing the output.
constexpr std::size_t Utf8BytesPerByte = 3;

// Decodes the characters of Bytes that start in [From, To), To <= Bytes.size(), writing their UTF-8
// at Out (room for Utf8BytesPerByte per byte of Bytes from From, plus 4). A character cut off by the
// end of Bytes decodes to U+FFFD and takes the bytes left. Returns where the first character at or
// after To starts (past To when the last one decoded runs over it), and advances Out past the UTF-8.
// GB18030 and UTF-16 only.
std::size_t DecodeToUtf8(TTextEncoding Encoding, std::string_view Bytes, std::size_t From, std::size_t To, char*& Out);

// Where the characters of Bytes from Pos on (Pos a character start) have decoded to Utf8Bytes bytes
// of UTF-8, as DecodeToUtf8 takes them: for finding a match's place in the file.
std::size_t SkipDecoded(TTextEncoding Encoding, std::string_view Bytes, std::size_t Pos, std::size_t Utf8Bytes);
