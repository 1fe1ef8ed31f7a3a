#pragma once

#include <memory>

#include "scene/mr_object.h"

namespace tide {

class Cuboid;

// A yellow cube that marks a delivery place. The scoring happens in the
// vessel's collision response; the cube itself never moves.
class Finish : public mrObject {
public:
    Finish(Vector3 position, Vector3 direction);
    ~Finish() override;

    void reset() override;
    void compile() override;
    collisionTransporter collide(collisionTransporter own, collisionTransporter other) override;
    double drawnReach() const override;

private:
    std::unique_ptr<Cuboid> model;
};

}  // namespace tide
