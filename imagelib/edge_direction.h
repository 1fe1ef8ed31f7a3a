#pragma once

// The direction of the non-maximum suppression of the 2D edge detector: the
// gradient angle in four sectors, each naming the pair of neighbours across
// the edge.

#include <cmath>

namespace KVEL {

// Which pair of neighbours the suppression compares: those across the edge,
// along the gradient.
enum Direction : unsigned char { kAcrossX, kDiagonalUp, kAcrossY, kDiagonalDown };

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

// The same sector from the ratio of the components, which is much cheaper
// than atan2. Ratios within rounding distance of a sector limit, zero
// gradients and non-finite values take the angle itself, so both agree.
inline Direction gradientDirection(float alongY, float alongX) {
    const float a = std::fabs(alongY), b = std::fabs(alongX);
    const float slack = 1e-5f * (a + b);
    const float belowLow = a - 0.41421356f * b;   // tan(22.5 degrees)
    const float belowHigh = a - 2.41421356f * b;  // tan(67.5 degrees)
    if (!(std::fabs(belowLow) > slack && std::fabs(belowHigh) > slack)) {
        return directionByAngle(alongY, alongX);
    }
    if (belowLow < 0) return kAcrossX;
    if (belowHigh > 0) return kAcrossY;
    return (alongY > 0) == (alongX > 0) ? kDiagonalUp : kDiagonalDown;
}

}  // namespace KVEL
