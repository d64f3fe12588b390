// Checks for programming errors in the console runner, active in every build type.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace qor {

inline void oruAssert(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "Assertion failed: %s\n", what);
        std::abort();
    }
}

}  // namespace qor
