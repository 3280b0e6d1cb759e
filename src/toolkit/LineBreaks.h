#pragma once

#include "TextEncoding.h"

#include <string>

// Line breaks to CR LF over the whole length, NULs included, in the code units of Encoding: an LF alone
// and a CR alone each become CR LF, a CR LF pair stays, and no code unit is split (UTF-16 breaks are
// two-byte units). A character is copied whole as the encoding walks it: in GB18030 a lead byte
// takes the byte after it along unseen, so a CR or LF there is a trail byte and stays as it is. What
// the text area does first with every text it is given.
std::string NormaliseLineBreaks(const std::string& Bytes, TTextEncoding Encoding);
