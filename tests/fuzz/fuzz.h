#pragma once

#include <cstdio>
#include <cstdlib>

// A property of the target that must hold for every input: a fuzzer reports
// its failure as a crash.
#define FUZZ_REQUIRE(condition) \
    do { \
        if (!(condition)) { \
            std::fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #condition); \
            std::abort(); \
        } \
    } while (false)
