#pragma once

// Padded extents: pictures and textures want sides that are powers of two.

namespace KVEL {

// The smallest power of two not below n (1 for n <= 1).
inline long long nextPowerOfTwo(long long n) {
    long long p = 1;
    while (p < n) p *= 2;
    return p;
}

}  // namespace KVEL
