#include "scene/cuboid.h"

#include <GL/gl.h>

namespace tide {

namespace {

constexpr int kFaceCount = 6;

// Turn applied before each face; they accumulate, so face k sits on the k-th
// side of the cube once pushed half a unit along its own -z.
constexpr double kFaceTurns[kFaceCount][4] = {
    {0, 0, 0, 0}, {90, 0, 1, 0}, {90, 0, 1, 0}, {90, 0, 1, 0}, {90, 1, 0, 0}, {180, 1, 0, 0},
};

}  // namespace

Cuboid::Cuboid() {
    for (int k = 0; k < kFaceCount; ++k) {
        faces.push_back(std::make_unique<Polygon>(4));
        // The unit-radius square turned onto the axes: side 1, corners at +-0.5.
        faces.back()->setInnerRotation(45, 0, 0, 1);
        faces.back()->setInnerScale(0.707106781);
        children.push_back(faces.back().get());
    }
    compile();
}

void Cuboid::compile() {
    recordFaces(listId, false);
    recordFaces(blendListId, true);
}

void Cuboid::recordFaces(int list, bool translucentPass) {
    if (children.empty()) return;
    glPushMatrix();
    glNewList(static_cast<GLuint>(list), GL_COMPILE);
    for (int k = 0; k < kFaceCount; ++k) {
        const double* turn = kFaceTurns[k];
        if (turn[0] != 0) glRotated(turn[0], turn[1], turn[2], turn[3]);
        auto* face = k < static_cast<int>(children.size()) ? dynamic_cast<rObject*>(children[k]) : nullptr;
        if (face && face->translucent == translucentPass) {
            face->setTranslation(0, 0, -0.5);
            face->draw();
        }
    }
    glEndList();
    glPopMatrix();
}

}  // namespace tide
