#include "imagelib/detail/registration_model.h"

#include <cmath>

namespace KVEL {

namespace {

// exp of the rotation vector w (Rodrigues).
Matrix3 rotation(const Vec3& w) {
    const double angle = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    Matrix3 r = identityDirection();
    if (angle == 0) return r;
    const Vec3 k{w[0] / angle, w[1] / angle, w[2] / angle};
    const double c = std::cos(angle), s = std::sin(angle), v = 1 - c;
    r = {{{c + k[0] * k[0] * v, k[0] * k[1] * v - k[2] * s, k[0] * k[2] * v + k[1] * s},
          {k[1] * k[0] * v + k[2] * s, c + k[1] * k[1] * v, k[1] * k[2] * v - k[0] * s},
          {k[2] * k[0] * v - k[1] * s, k[2] * k[1] * v + k[0] * s, c + k[2] * k[2] * v}}};
    return r;
}

Matrix3 product(const Matrix3& a, const Matrix3& b) {
    Matrix3 c{};
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k) c[r][k] = a[r][0] * b[0][k] + a[r][1] * b[1][k] + a[r][2] * b[2][k];
    return c;
}

}  // namespace

ParameterModel::ParameterModel(Transform::Kind kind, int dimension, double radius)
    : m_kind(kind), m_dimension(dimension), m_radius(radius > 0 ? radius : 1) {
    const bool rigid = kind == Transform::Kind::Rigid;
    m_count = dimension == 2 ? (rigid ? 3 : 6) : (rigid ? 6 : 12);
}

void ParameterModel::accumulate(const Transform& t, const Vec3& d, const Vec3& g, double weight,
                                double* out) const {
    const int n = m_dimension;  // translated axes
    const int first = m_count - n;
    if (m_kind == Transform::Kind::Rigid) {
        // d/dw of A exp(w) d is A [e_k x d]: its dot with g is e_k . (d x A^T g).
        Vec3 h;
        for (int c = 0; c < 3; ++c) h[c] = t.matrix[0][c] * g[0] + t.matrix[1][c] * g[1] + t.matrix[2][c] * g[2];
        const Vec3 cross{d[1] * h[2] - d[2] * h[1], d[2] * h[0] - d[0] * h[2], d[0] * h[1] - d[1] * h[0]};
        const double w = weight / m_radius;
        if (n == 2) {
            out[0] += w * cross[2];
        } else {
            for (int k = 0; k < 3; ++k) out[k] += w * cross[k];
        }
    } else {
        const double w = weight / m_radius;
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) out[r * n + c] += w * g[r] * d[c];
    }
    for (int r = 0; r < n; ++r) out[first + r] += weight * g[r];
}

Transform ParameterModel::moved(const Transform& t, const std::vector<double>& step) const {
    const int n = m_dimension;
    const int first = m_count - n;
    Transform out = t;
    if (m_kind == Transform::Kind::Rigid) {
        Vec3 w{0, 0, 0};
        if (n == 2) {
            w[2] = step[0] / m_radius;
        } else {
            for (int k = 0; k < 3; ++k) w[k] = step[k] / m_radius;
        }
        out.matrix = product(t.matrix, rotation(w));
    } else {
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) out.matrix[r][c] += step[r * n + c] / m_radius;
    }
    // Keep the centre's image where the translation puts it.
    for (int r = 0; r < 3; ++r) {
        double shift = 0;
        for (int c = 0; c < 3; ++c) shift += (t.matrix[r][c] - out.matrix[r][c]) * t.center[c];
        out.translation[r] += shift + (r < n ? step[first + r] : 0);
    }
    return out;
}

}  // namespace KVEL
