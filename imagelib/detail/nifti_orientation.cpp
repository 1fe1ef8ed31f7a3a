#include "imagelib/detail/nifti_orientation.h"

#include "imagelib/detail/grid_axes.h"

#include <cmath>

namespace KVEL {

namespace {

constexpr int kScannerCode = 1;

// The rotation of a unit quaternion whose first part a is implied.
Matrix3 quaternionRotation(double b, double c, double d) {
    double a = 1 - (b * b + c * c + d * d);
    if (a < 1e-7) {
        // Rounding put the three parts just past unit length: a 180 degree turn.
        const double n = std::sqrt(b * b + c * c + d * d);
        b /= n, c /= n, d /= n;
        a = 0;
    } else {
        a = std::sqrt(a);
    }
    return {{{a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c)},
             {2 * (b * c + a * d), a * a + c * c - b * b - d * d, 2 * (c * d - a * b)},
             {2 * (b * d - a * c), 2 * (c * d + a * b), a * a + d * d - c * c - b * b}}};
}

// The quaternion (b, c, d, with a >= 0) of a proper rotation.
void rotationQuaternion(const Matrix3& r, double q[3]) {
    double a = r[0][0] + r[1][1] + r[2][2] + 1, b, c, d;
    if (a > 0.5) {
        a = 0.5 * std::sqrt(a);
        b = 0.25 * (r[2][1] - r[1][2]) / a;
        c = 0.25 * (r[0][2] - r[2][0]) / a;
        d = 0.25 * (r[1][0] - r[0][1]) / a;
    } else {
        const double xd = 1 + r[0][0] - (r[1][1] + r[2][2]);
        const double yd = 1 + r[1][1] - (r[0][0] + r[2][2]);
        const double zd = 1 + r[2][2] - (r[0][0] + r[1][1]);
        if (xd > 1) {
            b = 0.5 * std::sqrt(xd);
            c = 0.25 * (r[0][1] + r[1][0]) / b;
            d = 0.25 * (r[0][2] + r[2][0]) / b;
            a = 0.25 * (r[2][1] - r[1][2]) / b;
        } else if (yd > 1) {
            c = 0.5 * std::sqrt(yd);
            b = 0.25 * (r[0][1] + r[1][0]) / c;
            d = 0.25 * (r[1][2] + r[2][1]) / c;
            a = 0.25 * (r[0][2] - r[2][0]) / c;
        } else {
            d = 0.5 * std::sqrt(zd);
            b = 0.25 * (r[0][2] + r[2][0]) / d;
            c = 0.25 * (r[1][2] + r[2][1]) / d;
            a = 0.25 * (r[1][0] - r[0][1]) / d;
        }
        if (a < 0) b = -b, c = -c, d = -d;
    }
    q[0] = b, q[1] = c, q[2] = d;
}

double stepOr1(double pixdim) { return std::isfinite(pixdim) && pixdim > 0 ? pixdim : 1; }

}  // namespace

bool niftiPlacement(const NiftiHeader& h, NiftiPlacement& p, std::string& why) {
    Matrix3 axes{};
    Vec3 offset{};
    if (h.sformCode > 0) {
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) axes[r][c] = h.srow[r][c];
            offset[r] = h.srow[r][3];
        }
    } else {
        const Matrix3 rotation =
            h.qformCode > 0 ? quaternionRotation(h.quatern[0], h.quatern[1], h.quatern[2]) : identityDirection();
        // qfac -1 stores a left-handed grid: its third axis turned around.
        const double qfac = h.qformCode > 0 && h.pixdim[0] == -1 ? -1 : 1;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) axes[r][c] = rotation[r][c] * stepOr1(h.pixdim[c + 1]) * (c == 2 ? qfac : 1);
            offset[r] = h.qformCode > 0 ? h.qoffset[r] : 0;
        }
    }
    for (int c = 0; c < 3; ++c) {
        axes[0][c] = -axes[0][c];
        axes[1][c] = -axes[1][c];
    }
    p.position = {-offset[0], -offset[1], offset[2]};
    for (double v : p.position) {
        if (!std::isfinite(v) || std::fabs(v) > 3.4e38) {
            why = "the grid's offset is not a finite number";
            return false;
        }
    }
    return splitAxes(axes, p.spacing, p.direction, why);
}

void setNiftiPlacement(const Image& image, NiftiHeader& h) {
    Matrix3 rotation = directionOf(image);
    for (int c = 0; c < 3; ++c) {
        rotation[0][c] = -rotation[0][c];
        rotation[1][c] = -rotation[1][c];
    }
    const double offset[3] = {-double(image.m_position[0]), -double(image.m_position[1]), double(image.m_position[2])};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) h.srow[r][c] = rotation[r][c] * image.m_spacing[c];
        h.srow[r][3] = h.qoffset[r] = offset[r];
    }
    const double determinant = rotation[0][0] * (rotation[1][1] * rotation[2][2] - rotation[1][2] * rotation[2][1]) -
                               rotation[0][1] * (rotation[1][0] * rotation[2][2] - rotation[1][2] * rotation[2][0]) +
                               rotation[0][2] * (rotation[1][0] * rotation[2][1] - rotation[1][1] * rotation[2][0]);
    h.pixdim[0] = determinant < 0 ? -1 : 1;
    if (determinant < 0) {
        for (auto& row : rotation) row[2] = -row[2];
    }
    rotationQuaternion(rotation, h.quatern);
    for (int i = 0; i < 3; ++i) h.pixdim[i + 1] = image.m_spacing[i];
    h.qformCode = h.sformCode = kScannerCode;
}

}  // namespace KVEL
