#pragma once

#include "game/vector3.h"

namespace tide {

// The view volume OpenGL clips to, taken from its current projection and
// model-view matrices: six planes in the model-view's object space.
class Frustum {
public:
    static Frustum current();

    // False only when the box lies wholly outside one of the planes: then
    // nothing drawn inside it can reach a pixel.
    bool mayShow(const double low[3], const double high[3]) const;
    // The same for a sphere.
    bool mayShow(const Vector3& centre, double radius) const;
    // True when the sphere lies wholly farther than `depth` ahead of the eye.
    bool beyondDepth(const Vector3& centre, double radius, double depth) const;

private:
    // a x + b y + c z + d >= 0 inside; (a, b, c) of unit length.
    double planes[6][4] = {};
    // Distance ahead of the eye, as a x + b y + c z + d; (a, b, c) of unit length.
    double ahead[4] = {0.0, 0.0, 0.0, 1.0};
};

}  // namespace tide
