#pragma once

#include <string>

// Line breaks to CR LF over the whole length, NULs included: an LF alone and a CR alone each become
// CR LF, a CR LF pair stays. A lead byte takes the byte after it along unseen, so a CR or LF there
// is a trail byte and stays as it is. What the text area does first with every text it is given.
std::string NormaliseLineBreaks(const std::string& Bytes);
