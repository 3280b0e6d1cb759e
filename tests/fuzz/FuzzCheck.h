#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep. A broken one aborts, so libFuzzer saves the input as a crash.
#define FUZZ_REQUIRE(Condition) ((Condition) ? void() : FuzzFailed(#Condition, __FILE__, __LINE__))

[[noreturn]] inline void FuzzFailed(const char* Condition, const char* File, int Line) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", File, Line, Condition);
  std::abort();
}
