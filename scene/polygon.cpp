#include "scene/polygon.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

namespace tide {

Polygon::Polygon(int n) : vertexCount(n) { generatePoints(); }

Polygon::Polygon(int n, int textureId) : rObject(textureId), vertexCount(n) { generatePoints(); }

void Polygon::reset() { generatePoints(); }

// Replaces the corners made earlier (a second reset must not double them),
// keeps any other children, then records the polygon.
void Polygon::generatePoints() {
    for (const auto& corner : corners) {
        children.erase(std::remove(children.begin(), children.end(), corner.get()), children.end());
    }
    corners.clear();
    const double pi = std::acos(-1.0);
    for (int i = 0; i < vertexCount; ++i) {
        const double theta = 2 * pi * i / vertexCount;
        corners.push_back(std::make_unique<Point>(-std::sin(theta), std::cos(theta), 0));
        children.push_back(corners.back().get());
    }
    compile();
}

void Polygon::compile() {
    glPushMatrix();
    glNewList(static_cast<GLuint>(listId), GL_COMPILE);
    glBegin(GL_POLYGON);
    glNormal3d(0, 0, -1);
    int i = 0;
    for (childCursor = children.begin(); childCursor != children.end(); ++childCursor, ++i) {
        auto* corner = dynamic_cast<Point*>(*childCursor);
        if (!corner) continue;
        if (textureOn) {
            // Square texture corners (0,0), (1,0), (1,1), (0,1) for the first four.
            glTexCoord2d(i == 1 || i == 2 ? 1 : 0, i == 2 || i == 3 ? 1 : 0);
        }
        corner->drawVertex();
    }
    glEnd();
    glEndList();
    glPopMatrix();
}

}  // namespace tide
