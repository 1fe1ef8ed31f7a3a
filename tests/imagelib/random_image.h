#pragma once

// Images of every element type filled with reproducible random values, for
// tests that compare an operation with a straightforward reference loop.

#include "imagelib/imagebase.h"

#include <memory>
#include <random>

namespace imagetest {

constexpr int kAllElementTypes[] = {KVEL::kGlUnsignedByte, KVEL::kGlByte,  KVEL::kGlShort,
                                    KVEL::kGlUnsignedShort, KVEL::kGlInt, KVEL::kGlUnsignedInt,
                                    KVEL::kGlFloat,         KVEL::kGlDouble};

// A w x h x d image of the given type with random values in [low, high)
// (truncated for integer types), written through setNext.
inline std::unique_ptr<KVEL::Image> randomImage(int glType, int w, int h, int d, int channels, unsigned seed,
                                                float low = 0, float high = 100) {
    std::unique_ptr<KVEL::Image> image(KVEL::createImage(glType));
    image->m_verbose = 0;
    image->init(w, h, d, 1, channels);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(low, high);
    image->resetIteration();
    while (image->setNext(value(random))) {
    }
    return image;
}

}  // namespace imagetest
