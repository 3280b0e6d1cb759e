#pragma once

// The rows of the table of encodings, each made where its encoding's functions are: the double-byte
// code pages in TextEncodingDoubleByte.cpp, the Unicode forms in TextEncodingUnicode.cpp. Only
// TextEncoding.cpp, which puts them in order, includes this.

#include "TextEncoding.h"

TEncodingRules Gb18030Row();
TEncodingRules Big5Row();
TEncodingRules Utf8Row();
TEncodingRules Utf16LeRow();
TEncodingRules Utf16BeRow();
