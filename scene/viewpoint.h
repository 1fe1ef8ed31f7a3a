#pragma once

#include "scene/submarine.h"

namespace tide {

// The player's vessel and the camera: a submarine without a model of its own.
// The frame looks from its position along its direction and shows its score
// and carried chain in the overlay.
class Viewpoint : public submarine {
public:
    Viewpoint(Vector3 position, Vector3 direction, double radius) : submarine(position, direction, radius) {}

    // The submarine set-up has already run once, from its constructor.
    void reset() override {}
};

}  // namespace tide
