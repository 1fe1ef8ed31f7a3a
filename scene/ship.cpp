#include "scene/ship.h"

#include <GL/freeglut.h>

#include <cmath>

namespace tide {

namespace {

void hull(double s) {
    constexpr int kSegments = 100;
    const double pi = std::acos(-1.0);
    glBegin(GL_QUADS);
    for (int i = 0; i < kSegments; ++i) {
        const double a = 2 * pi * i / kSegments;
        const double b = 2 * pi * (i + 1) / kSegments;
        const auto corner = [s](double x, double angle) {
            const float c = static_cast<float>(std::cos(angle));
            const float n = static_cast<float>(std::sin(angle));
            glNormal3f(0, c, n);
            glVertex3f(static_cast<float>(x), static_cast<float>(0.1 * s) * c,
                       static_cast<float>(0.1 * s) * n);
        };
        corner(-0.3 * s, a);
        corner(0.3 * s, a);
        corner(0.3 * s, b);
        corner(-0.3 * s, b);
    }
    glEnd();
}

}  // namespace

// Compiled at once, so a new ship is drawable before anyone recolours it.
Ship::Ship(double size_) : size(size_) { compile(); }

void Ship::compile() {
    const double s = size;
    glPushMatrix();
    glNewList(static_cast<GLuint>(listId), GL_COMPILE);

    glPushMatrix();
    hull(s);
    glPopMatrix();

    glPushMatrix();
    glTranslated(0.3 * s, 0, 0);
    glRotated(90, 0, 1, 0);
    glutSolidCone(0.1 * s, 0.2 * s, 20, 20);
    glPopMatrix();

    glPushMatrix();
    glTranslated(-0.3 * s, 0, 0);
    glutSolidSphere(0.1 * s, 20, 20);
    glPopMatrix();

    glPushMatrix();
    glTranslated(0.4 * s, 0, 0);
    glRotated(90, 0, 1, 0);
    glutSolidTorus(0.04 * s, 0.09 * s, 20, 20);
    glPopMatrix();

    glPushMatrix();
    glScaled(1, 0.3, 3);
    glutSolidSphere(0.1 * s, 20, 20);
    glPopMatrix();

    glPushMatrix();
    glTranslated(0, 0.09 * s, 0);
    glScaled(1.2, 0.75, 0.5);
    glutSolidSphere(0.1 * s, 20, 20);
    glPopMatrix();

    glEndList();
    glPopMatrix();
}

}  // namespace tide
