#pragma once

// How this copy of the library was compiled, so that a benchmark can say what
// it measured and a test can catch image loops built without optimisation.

#include <kvel/export.h>

namespace KVEL {

struct BuildInfo {
    const char* buildType;     // CMake's build type, empty for none
    const char* compileFlags;  // the flags the library's sources were compiled with
    bool optimised;            // the compiler optimised for speed (not off, not for size)
};

KVEL_API BuildInfo buildInfo();

}  // namespace KVEL
