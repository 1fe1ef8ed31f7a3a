#pragma once

#include <memory>
#include <vector>

#include "scene/object.h"
#include "scene/point.h"

namespace tide {

// A regular polygon of radius 1 in the plane z = 0, its corners Point children
// running counter-clockwise seen from +z, starting at (0, 1, 0).
class Polygon : public rObject {
public:
    int vertexCount;

    explicit Polygon(int n);
    Polygon(int n, int textureId);

    void reset() override;
    void compile() override;

private:
    void generatePoints();

    std::vector<std::unique_ptr<Point>> corners;  // the points this polygon made
};

}  // namespace tide
