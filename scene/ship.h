#pragma once

#include "scene/object.h"

namespace tide {

// The enemy vessel's model: a tube along x with a cone and ring at +x, a
// round end at -x, a fin across z and a tower on top. No colour is recorded;
// the colour current when the list is called applies.
class Ship : public rObject {
public:
    double size;

    explicit Ship(double size);
    // The cone's tip at +0.5 size is the model's farthest point from its origin.
    double reach() const { return 0.5 * size; }

    void compile() override;
};

}  // namespace tide
