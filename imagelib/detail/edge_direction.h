#pragma once

// The direction of the non-maximum suppression of the 2D edge detector: the
// gradient angle in four sectors, each naming the pair of neighbours across
// the edge.

#include <cmath>

namespace KVEL {

// Which pair of neighbours the suppression compares: those across the edge,
// along the gradient.
using Direction = unsigned char;
constexpr Direction kAcrossX = 0, kDiagonalUp = 1, kAcrossY = 2, kDiagonalDown = 3;

// The gradient angle atan2(alongY, alongX), folded into [0, 180) degrees, in
// four 45-degree sectors.
inline Direction directionByAngle(float alongY, float alongX) {
    double angle = std::atan2(static_cast<double>(alongY), static_cast<double>(alongX)) * 180 /
                   3.141592653589793;
    if (angle < 0) angle += 180;
    if (angle < 22.5 || angle >= 157.5) return kAcrossX;
    if (angle < 67.5) return kDiagonalUp;
    if (angle < 112.5) return kAcrossY;
    return kDiagonalDown;
}

// What quickDirection returns when only the angle itself can tell.
constexpr Direction kUnresolved = 4;

// The sector from the ratio of the components, which is much cheaper than
// atan2. Ratios within rounding distance of a sector limit and non-finite
// values are left kUnresolved; a zero gradient has angle 0. Written as
// arithmetic on 0/1 flags, without branches, so that row loops vectorise.
inline Direction quickDirection(float alongY, float alongX) {
    const float a = std::fabs(alongY), b = std::fabs(alongX);
    const float slack = 1e-5f * (a + b);
    const float belowLow = a - 0.41421356f * b;   // tan(22.5 degrees)
    const float belowHigh = a - 2.41421356f * b;  // tan(67.5 degrees)
    const int beyondLow = !(belowLow < 0);
    const int beyondHigh = belowHigh > 0;
    const int crossed = (alongY > 0) != (alongX > 0);
    const int sector = beyondLow * (1 + beyondHigh + 2 * crossed * (1 - beyondHigh));
    const int clear = static_cast<int>(std::fabs(belowLow) > slack) & static_cast<int>(std::fabs(belowHigh) > slack);
    const int zero = a + b == 0;
    return static_cast<Direction>((1 - zero) * (clear * sector + (1 - clear) * kUnresolved));
}

inline Direction gradientDirection(float alongY, float alongX) {
    const Direction quick = quickDirection(alongY, alongX);
    return quick == kUnresolved ? directionByAngle(alongY, alongX) : quick;
}

}  // namespace KVEL
