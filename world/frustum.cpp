#include "world/frustum.h"

#include <GL/gl.h>

#include <cmath>

namespace tide {

namespace {

// World units a box may reach past a plane and still count as outside: far
// more than OpenGL's single-precision transform can move a vertex across it.
constexpr double kMargin = 1e-3;

}  // namespace

Frustum Frustum::current() {
    double projection[16];
    double modelView[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    // Rows of projection x model-view (column-major storage).
    double clip[4][4];
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += projection[k * 4 + row] * modelView[col * 4 + k];
            clip[row][col] = sum;
        }
    }
    // Inside means -w <= x, y, z <= w: the planes w + x, w - x, and so on.
    Frustum f;
    // The eye looks along its -z.
    const double rowLength = std::sqrt(modelView[2] * modelView[2] + modelView[6] * modelView[6] +
                                       modelView[10] * modelView[10]);
    if (rowLength > 0.0) {
        for (int col = 0; col < 4; ++col) f.ahead[col] = -modelView[col * 4 + 2] / rowLength;
    }
    for (int axis = 0; axis < 3; ++axis) {
        for (int side = 0; side < 2; ++side) {
            double* plane = f.planes[2 * axis + side];
            const double sign = side == 0 ? 1.0 : -1.0;
            for (int col = 0; col < 4; ++col) plane[col] = clip[3][col] + sign * clip[axis][col];
            const double length = std::sqrt(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2]);
            if (length > 0.0) {
                for (int col = 0; col < 4; ++col) plane[col] /= length;
            } else {
                plane[3] = 1.0;  // a degenerate plane culls nothing
            }
        }
    }
    return f;
}

bool Frustum::mayShow(const double low[3], const double high[3]) const {
    for (const double* plane : planes) {
        // The corner farthest into the inside.
        double reach = plane[3];
        for (int axis = 0; axis < 3; ++axis) reach += plane[axis] * (plane[axis] >= 0.0 ? high[axis] : low[axis]);
        if (reach < -kMargin) return false;
    }
    return true;
}

bool Frustum::mayShow(const Vector3& centre, double radius) const {
    for (const double* plane : planes) {
        if (centre.dot(plane[0], plane[1], plane[2]) + plane[3] + radius < -kMargin) return false;
    }
    return true;
}

bool Frustum::beyondDepth(const Vector3& centre, double radius, double depth) const {
    return centre.dot(ahead[0], ahead[1], ahead[2]) + ahead[3] - radius > depth + kMargin;
}

}  // namespace tide
