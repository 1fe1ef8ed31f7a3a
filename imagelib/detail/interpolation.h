#pragma once

// Interpolation kernels shared by the point lookups and the resampling loops,
// so both give the same bits.

#include <climits>

namespace KVEL {

// (int)p without undefined behaviour for coordinates no int can hold.
inline int truncateCoordinate(float p) {
    if (p != p) return 0;
    if (p >= 2147483520.0f) return INT_MAX;
    if (p <= -2147483648.0f) return INT_MIN;
    return static_cast<int>(p);
}

inline int clampIndex(int i, int extent) {
    return i < 0 ? 0 : (i >= extent ? extent - 1 : i);
}

// p points at corner (i, j); xStep and yStep reach the neighbours in x and y.
template <class T>
inline float bilinearAt(const T* p, int xStep, int yStep, float fx, float fy) {
    const float gx = 1 - fx;
    const float gy = 1 - fy;
    return static_cast<float>(p[0]) * (gx * gy) + static_cast<float>(p[xStep]) * (fx * gy) +
           static_cast<float>(p[yStep]) * (gx * fy) + static_cast<float>(p[xStep + yStep]) * (fx * fy);
}

// Cubic convolution weights (a = -1) of the samples at i-1, i, i+1, i+2.
inline void cubicWeights(float f, float w[4]) {
    w[0] = f * (f * (2 - f) - 1);
    w[1] = f * f * (f - 2) + 1;
    w[2] = f * (f * (1 - f) + 1);
    w[3] = f * f * (f - 1);
}

}  // namespace KVEL
