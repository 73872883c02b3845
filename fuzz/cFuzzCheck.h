#pragma once

#include <cstdio>
#include <cstdlib>

// A property every fuzz target checks: when it fails the input is a finding, whatever NDEBUG
// says. libFuzzer saves the input on the abort.
#define FUZZ_CHECK(cond)                                                               \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// Routes the daemon's log lines nowhere (or to stderr with FERRYD_FUZZ_LOG set) while still
// formatting every one of them, debug included, so the format paths run on fuzzed text.
void fuzzQuietLog();
