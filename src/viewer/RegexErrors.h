#pragma once

#include <cstddef>
#include <string>

// The reader's message for a regular expression that PCRE2 does not compile: where (Character, counted
// from 1) and what went wrong, in Chinese for the faults readers make, in PCRE2's own English words for
// the rare rest. ErrorCode is pcre2_compile's.
std::string RegexFaultMessage(int ErrorCode, std::size_t Character);
