// The affine map that registration finds and resampleOnto applies.

#include "imagelib/registration.h"

#include <algorithm>
#include <cmath>

namespace KVEL {

Vec3 Transform::apply(const Vec3& p) const {
    Vec3 q;
    for (int r = 0; r < 3; ++r) q[r] = matrix[r][0] * p[0] + matrix[r][1] * p[1] + matrix[r][2] * p[2] + translation[r];
    return q;
}

std::array<double, 16> Transform::matrix4() const {
    std::array<double, 16> m{};
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) m[c * 4 + r] = matrix[r][c];
    for (int r = 0; r < 3; ++r) m[12 + r] = translation[r];
    m[15] = 1;
    return m;
}

std::array<double, 6> Transform::rigidParameters() const {
    const auto m = matrix4();
    return {m[12], m[13], m[14], std::atan2(-m[6], m[10]), std::asin(std::clamp(m[2], -1.0, 1.0)),
            std::atan2(-m[1], m[0])};
}

}  // namespace KVEL
