#pragma once

#include "FileOffset.h"
#include "PageRows.h"
#include "TextEncoding.h"

#include <functional>
#include <string>

// Reads the page from Start that the text area shows whole when it lays its rows out by Geometry:
// the page's characters are broken into rows as the text area breaks them (TRowBreaker, with
// BreakRules), each character as wide as Advance says the text area draws it, and the page ends
// after the last row whose glyphs fit the column's height, after a NUL (which ends what the text area
// shows), or at the file's end; it holds one row at least. Line breaks count as the text area shows
// them: CR LF, a CR alone and an LF alone each end a row.
//
// The bytes come back from Start, unchanged, as ReadPage gives them; a start inside a character (or
// before the byte-order mark) counts from the first whole character, as ShownText finds it (StartWhole:
// Start is known to begin one). PageEnd receives the offset past the page, which always ends a whole
// character; when the file cannot be opened the text is empty and PageEnd is left alone.
std::string ReadLaidOutPage(const std::string& FileName, TFileOffset Start, TTextEncoding Encoding,
                            const TRowGeometry& Geometry, bool BreakRules, const std::function<int(char32_t)>& Advance,
                            bool StartWhole, TFileOffset& PageEnd);
