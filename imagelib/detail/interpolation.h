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

// The truncated index (int)p of a lookup coordinate, with its fraction p - i.
// Beyond two voxels before the image or past its end every neighbour a
// lookup reads is an edge voxel anyway, so p is limited to [-2, extent] and
// the neighbour indices i - 1 .. i + 2 cannot overflow.
inline int lookupIndex(float p, int extent, float& fraction) {
    const double high = extent < INT_MAX - 2 ? extent : INT_MAX - 2;
    if (p < -2.0f || p > high) {
        fraction = 0;
        return p < 0 ? -2 : static_cast<int>(high);
    }
    const int i = p == p ? static_cast<int>(p) : 0;
    fraction = p - static_cast<float>(i);
    return i;
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

// p points at corner (i, j, k); the steps reach the neighbours in x, y and z.
// The corners are added z-major, x fastest.
template <class T>
inline float trilinearAt(const T* p, int xStep, int yStep, int zStep, float fx, float fy, float fz) {
    const float wx[2] = {1 - fx, fx}, wy[2] = {1 - fy, fy}, wz[2] = {1 - fz, fz};
    float sum = 0;
    for (int dz = 0; dz < 2; ++dz) {
        for (int dy = 0; dy < 2; ++dy) {
            for (int dx = 0; dx < 2; ++dx) {
                sum += static_cast<float>(p[dx * xStep + dy * yStep + dz * zStep]) * (wx[dx] * wy[dy] * wz[dz]);
            }
        }
    }
    return sum;
}

// Cubic convolution weights (a = -1) of the samples at i-1, i, i+1, i+2.
inline void cubicWeights(float f, float w[4]) {
    w[0] = f * (f * (2 - f) - 1);
    w[1] = f * f * (f - 2) + 1;
    w[2] = f * (f * (1 - f) + 1);
    w[3] = f * f * (f - 1);
}

}  // namespace KVEL
