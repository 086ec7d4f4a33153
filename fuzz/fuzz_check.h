#pragma once
// Property checks for the fuzz targets. A violated property names itself on
// standard error and aborts; libFuzzer reports the abort as a crash and
// saves the input.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                         \
    do {                                                                              \
        if (!(condition)) {                                                           \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, \
                         #condition);                                                 \
            std::abort();                                                             \
        }                                                                             \
    } while (false)
