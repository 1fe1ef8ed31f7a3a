#include "imagelib/detail/value_range.h"

#include "imagelib/detail/simd_dispatch.h"

#include <cstring>

namespace KVEL {

// The same as add() for values[0], ..., values[n-1] in turn, in 32
// independent lanes (four vectors of eight, so that the comparisons need not
// wait for each other). Not-a-number never becomes an extreme in either
// form. The lanes could only differ from the plain loop in which zero they
// keep when both +0 and -0 occur; the filter sums that use it start at +0
// and so are never -0.
KVEL_WIDE_LOOP void ValueRange::addRow(const float* values, int n) {
    using Lanes = float __attribute__((vector_size(32)));
    constexpr int kVectors = 4;
    Lanes low[kVectors], high[kVectors];
    for (int j = 0; j < kVectors; ++j) {
        for (int k = 0; k < 8; ++k) low[j][k] = min, high[j][k] = max;
    }
    int i = 0;
    for (; i + 8 * kVectors <= n; i += 8 * kVectors) {
        for (int j = 0; j < kVectors; ++j) {
            Lanes v;
            std::memcpy(&v, values + i + 8 * j, sizeof v);
            low[j] = v < low[j] ? v : low[j];
            high[j] = v > high[j] ? v : high[j];
        }
    }
    for (int j = 0; j < kVectors; ++j) {
        for (int k = 0; k < 8; ++k) {
            if (low[j][k] < min) min = low[j][k];
            if (high[j][k] > max) max = high[j][k];
        }
    }
    for (; i < n; ++i) add(values[i]);
}

}  // namespace KVEL
