#pragma once

#include "scene/mr_object.h"

namespace tide {

// A projectile: the update step moves it, tests it for collisions and removes
// it when it hits something. It has no model of its own.
class bullet : public mrObject {
public:
    bullet(Vector3 position, Vector3 direction, double radius);

    void reset() override;
};

}  // namespace tide
