#include "imagelib/detail/grid_axes.h"

#include <cmath>

namespace KVEL {

bool checkDirection(const Matrix3& direction, std::string& why) {
    for (const auto& row : direction) {
        for (double v : row) {
            if (!std::isfinite(v)) {
                why = "the axis directions are not finite";
                return false;
            }
        }
    }
    if (isOrthonormal(direction, kDirectionTolerance)) return true;
    why = "the grid's axes are not at right angles (a shear), which no image here holds";
    return false;
}

bool splitAxes(const Matrix3& axes, Vec3& spacing, Matrix3& direction, std::string& why) {
    int zero = -1;
    for (int c = 0; c < 3; ++c) {
        double length = 0;
        for (int r = 0; r < 3; ++r) length += axes[r][c] * axes[r][c];
        spacing[c] = std::sqrt(length);
        if (spacing[c] == 0) {
            if (zero >= 0) {
                why = "two of the grid's axes have no length";
                return false;
            }
            zero = c;
        }
        for (int r = 0; r < 3; ++r) direction[r][c] = spacing[c] > 0 ? axes[r][c] / spacing[c] : 0;
    }
    if (zero >= 0) {
        const int a = (zero + 1) % 3, b = (zero + 2) % 3;
        for (int r = 0; r < 3; ++r) {
            const int r1 = (r + 1) % 3, r2 = (r + 2) % 3;
            direction[r][zero] = direction[r1][a] * direction[r2][b] - direction[r2][a] * direction[r1][b];
        }
        spacing[zero] = 1;
    }
    return checkDirection(direction, why);
}

}  // namespace KVEL
