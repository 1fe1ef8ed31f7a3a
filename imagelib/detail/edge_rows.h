#pragma once

// The two float row steps of the 2D edge detector, eight columns at a time
// with AVX2. The compiler's own vectorisation of these loops runs at the
// width of their byte outputs, 32 columns an iteration, and spends much of
// its time spilling registers and packing. Every lane gives the bits the
// scalar loops give. Each function returns how many interior columns, from
// column 1, it did (a multiple of 8; 0 on a processor without AVX2), leaving
// the rest to the caller's loop.

#include "imagelib/detail/edge_direction.h"

namespace KVEL {

// What the hysteresis needs to know of a suppressed value s, as bits.
constexpr unsigned char kNotBelowLow = 1;   // !(s < low)
constexpr unsigned char kNotBelowHigh = 2;  // s >= high
constexpr unsigned char kAboveHigh = 4;     // s > high

// Magnitude and quickDirection of each column, from the derivative pair of
// the three rows.
int magnitudeColumns(const float* above, const float* row, const float* below, int w, float* magnitude,
                     Direction* direction);

// Threshold flags of each column's suppressed magnitude.
int suppressColumns(const float* above, const float* row, const float* below, const Direction* direction, int w,
                    float low, float high, unsigned char* flags);

}  // namespace KVEL
