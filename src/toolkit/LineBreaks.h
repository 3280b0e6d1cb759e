#pragma once

#include "TextEncoding.h"

#include <string>

// Line breaks to CR LF over the whole length, NULs included, in the code units of Encoding: an LF alone
// and a CR alone each become CR LF, a CR LF pair stays, and no code unit is split (UTF-16 breaks are
// two-byte units). In every encoding of the table a CR or LF code unit is a character of its own (a
// lead byte before one is a bad byte, and the break a break), so characters stay as they are. What
// the text area does first with every text it is given.
std::string NormaliseLineBreaks(const std::string& Bytes, TTextEncoding Encoding);
