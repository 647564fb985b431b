// The invariant check of the fuzz targets: aborts, so libFuzzer keeps the
// input, and names the file and line of the broken invariant.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Check(bool condition, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken at %s:%d\n", file, line);
  std::abort();
}
