#pragma once

#include "scene/object.h"

namespace tide {

// One corner of a Polygon. Its own list holds only the normal and the vertex;
// the polygon records the corner through drawVertex().
class Point : public rObject {
public:
    double vertex[3];
    double normal[3];

    Point();
    Point(double x, double y, double z);
    Point(double x, double y, double z, double nx, double ny, double nz);

    void set(double x, double y, double z);
    void set(double x, double y, double z, double nx, double ny, double nz);

    void reset() override;
    void compile() override;

    // What a polygon records for this corner: its colour, normal and vertex,
    // issued directly. Neither the matrix commands of draw() nor a nested list
    // call belong between glBegin and glEnd (Mesa loses the texture coordinate
    // across such a call), so the polygon shows a moved point after its own
    // next compile.
    void drawVertex() const;
};

}  // namespace tide
