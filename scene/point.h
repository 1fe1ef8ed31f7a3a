#pragma once

#include "scene/object.h"

namespace tide {

// One corner of a Polygon: its list holds only the normal and the vertex, so
// the polygon can call it between glBegin and glEnd.
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
    // without the matrix commands that are not allowed inside glBegin/glEnd.
    void drawVertex() const;
};

}  // namespace tide
