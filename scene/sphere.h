#pragma once

#include <GL/glu.h>

#include "scene/object.h"

namespace tide {

// A unit sphere (a ball's model), recorded into both the ordinary and the
// blended list.
class Sphere : public rObject {
public:
    static constexpr double kRadius = 1.0;

    GLUquadric* quadric;  // owned

    Sphere();
    ~Sphere() override;

    void compile() override;
};

}  // namespace tide
