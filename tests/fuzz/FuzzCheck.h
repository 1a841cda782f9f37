#pragma once
// The fuzz targets' one way to report a broken promise: a message and an
// abort, which libFuzzer records as a crash with the input that caused it.
#include <cstdio>
#include <cstdlib>

namespace kav::fuzz {

[[noreturn]] inline void Fail(const char* What) {
  std::fprintf(stderr, "invariant broken: %s\n", What);
  std::abort();
}

inline void Expect(bool Condition, const char* What) {
  if (!Condition) Fail(What);
}

} // namespace kav::fuzz
