#pragma once

#include <cstdint>

// A byte offset or size in a file. 64-bit, so files past 2 GiB and 4 GiB page like small ones.
using TFileOffset = std::int64_t;
