#include "scene/point.h"

#include <GL/gl.h>

namespace tide {

Point::Point() : Point(0, 0, 0) {}

Point::Point(double x, double y, double z) { set(x, y, z); }

Point::Point(double x, double y, double z, double nx, double ny, double nz) {
    set(x, y, z, nx, ny, nz);
}

void Point::set(double x, double y, double z) { set(x, y, z, 0, 0, -1); }

void Point::set(double x, double y, double z, double nx, double ny, double nz) {
    vertex[0] = x;
    vertex[1] = y;
    vertex[2] = z;
    normal[0] = nx;
    normal[1] = ny;
    normal[2] = nz;
    reset();
}

void Point::reset() { compile(); }

void Point::compile() {
    glPushMatrix();
    glNewList(static_cast<GLuint>(listId), GL_COMPILE);
    glNormal3dv(normal);
    glVertex3dv(vertex);
    glEndList();
    glPopMatrix();
}

void Point::drawVertex() const {
    glColor4dv(colour);
    glNormal3dv(normal);
    glVertex3dv(vertex);
}

}  // namespace tide
