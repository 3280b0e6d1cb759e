#pragma once

#include <cstdint>
#include <string>

// Decimal text of a number as status messages show it: a leading "-" when negative, no leading
// zeros, no padding and no digit grouping.
inline std::string IntToStr(std::int64_t Value) { return std::to_string(Value); }
