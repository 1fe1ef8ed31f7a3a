// ITK transform files read from arbitrary bytes, in memory.
#include "imagelib/detail/transform_text.h"

#include <cmath>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto t = KVEL::parseTransform(text, "fuzz.tfm")) {
        // A transform that reads maps points to finite points.
        const KVEL::Vec3 p = t->apply({1, 2, 3});
        if (!std::isfinite(p[0] + p[1] + p[2])) __builtin_trap();
    }
    return 0;
}
