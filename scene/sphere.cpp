#include "scene/sphere.h"

namespace tide {

Sphere::Sphere() : quadric(gluNewQuadric()) {
    gluQuadricDrawStyle(quadric, GLU_FILL);
    gluQuadricOrientation(quadric, GLU_INSIDE);
    gluQuadricNormals(quadric, GLU_SMOOTH);
    compile();
}

Sphere::~Sphere() { gluDeleteQuadric(quadric); }

void Sphere::compile() {
    for (int list : {listId, blendListId}) {
        glPushMatrix();
        glNewList(static_cast<GLuint>(list), GL_COMPILE);
        gluSphere(quadric, kRadius, 16, 16);
        glEndList();
        glPopMatrix();
    }
}

}  // namespace tide
