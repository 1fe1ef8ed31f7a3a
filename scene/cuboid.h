#pragma once

#include <memory>
#include <vector>

#include "scene/object.h"
#include "scene/polygon.h"

namespace tide {

// A unit cube around the origin made of six square faces (its children).
// Faces marked translucent go into the blended list, the others into listId.
class Cuboid : public rObject {
public:
    // Half the unit cube's diagonal: no corner lies farther from its centre.
    static constexpr double kReach = 0.8660254037844387;

    Cuboid();

    void compile() override;

private:
    void recordFaces(int list, bool translucentPass);

    std::vector<std::unique_ptr<Polygon>> faces;  // the faces this cube made
};

}  // namespace tide
