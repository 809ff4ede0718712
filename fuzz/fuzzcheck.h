#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant ends the run like a crash, so that libFuzzer keeps the input, and says
// which one it was.
#define REQUIRE(condition)                                                                         \
    ((condition) ? void() : fuzzcheck::broken(#condition, __FILE__, __LINE__))

namespace fuzzcheck {

[[noreturn]] inline void broken(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

} // namespace fuzzcheck
