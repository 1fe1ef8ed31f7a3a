#include "imagelib/space.h"

#include <cmath>

namespace KVEL {

Matrix3 identityDirection() { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }

Matrix3 directionOf(const Image& image) {
    Matrix3 m;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m[r][c] = image.m_direction[r][c];
    return m;
}

void setDirection(Image& image, const Matrix3& direction) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) image.m_direction[r][c] = direction[r][c];
}

Vec3 physicalPoint(const Image& image, const Vec3& index) {
    Vec3 point;
    for (int r = 0; r < 3; ++r) {
        double sum = image.m_position[r];
        for (int c = 0; c < 3; ++c) sum += image.m_direction[r][c] * (double(image.m_spacing[c]) * index[c]);
        point[r] = sum;
    }
    return point;
}

// The direction is inverted in full rather than transposed, so that a matrix
// a file stored slightly off orthonormal still maps back to the same index.
Vec3 continuousIndex(const Image& image, const Vec3& point) {
    const auto& m = image.m_direction;
    const double inverse[3][3] = {
        {m[1][1] * m[2][2] - m[1][2] * m[2][1], m[0][2] * m[2][1] - m[0][1] * m[2][2],
         m[0][1] * m[1][2] - m[0][2] * m[1][1]},
        {m[1][2] * m[2][0] - m[1][0] * m[2][2], m[0][0] * m[2][2] - m[0][2] * m[2][0],
         m[0][2] * m[1][0] - m[0][0] * m[1][2]},
        {m[1][0] * m[2][1] - m[1][1] * m[2][0], m[0][1] * m[2][0] - m[0][0] * m[2][1],
         m[0][0] * m[1][1] - m[0][1] * m[1][0]}};
    const double determinant = m[0][0] * inverse[0][0] + m[0][1] * inverse[1][0] + m[0][2] * inverse[2][0];
    Vec3 index;
    for (int r = 0; r < 3; ++r) {
        double sum = 0;
        for (int c = 0; c < 3; ++c) sum += inverse[r][c] * (point[c] - double(image.m_position[c]));
        index[r] = sum / determinant / double(image.m_spacing[r]);
    }
    return index;
}

void copyGeometry(Image& to, const Image& from) {
    for (int i = 0; i < 4; ++i) to.m_spacing[i] = from.m_spacing[i];
    for (int i = 0; i < 3; ++i) to.m_position[i] = from.m_position[i];
    setDirection(to, directionOf(from));
}

bool isOrthonormal(const Matrix3& d, double tolerance) {
    for (int a = 0; a < 3; ++a) {
        for (int b = a; b < 3; ++b) {
            double dot = 0;
            for (int r = 0; r < 3; ++r) dot += d[r][a] * d[r][b];
            if (std::fabs(dot - (a == b ? 1.0 : 0.0)) > tolerance) return false;
        }
    }
    return true;
}

std::string orientationCode(const Matrix3& d) {
    static const char kPositive[] = "LPS", kNegative[] = "RAI";
    std::string code;
    for (int c = 0; c < 3; ++c) {
        int axis = 0;
        for (int r = 1; r < 3; ++r) {
            if (std::fabs(d[r][c]) > std::fabs(d[axis][c])) axis = r;
        }
        code += d[axis][c] >= 0 ? kPositive[axis] : kNegative[axis];
    }
    return code;
}

}  // namespace KVEL
