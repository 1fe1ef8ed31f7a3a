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

private:
    // a x + b y + c z + d >= 0 inside; (a, b, c) of unit length.
    double planes[6][4] = {};
};

}  // namespace tide
