#include "scene/object.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

namespace tide {

namespace {

// A zero angle (or a zero axis, as in the defaults) is the identity; glRotated
// with a zero axis is undefined, so such a rotation is not issued at all.
void rotate(const double r[4]) {
    if (r[0] == 0.0 || (r[1] == 0.0 && r[2] == 0.0 && r[3] == 0.0)) return;
    glRotated(r[0], r[1], r[2], r[3]);
}

double largestOf(const double s[3]) { return std::max({std::fabs(s[0]), std::fabs(s[1]), std::fabs(s[2])}); }

void assign(double* target, double a, double b, double c) {
    target[0] = a;
    target[1] = b;
    target[2] = c;
}

}  // namespace

Object::Object()
    : listId(static_cast<int>(glGenLists(1))), blendListId(static_cast<int>(glGenLists(1))) {}

Object::~Object() {
    glDeleteLists(static_cast<GLuint>(listId), 1);
    glDeleteLists(static_cast<GLuint>(blendListId), 1);
}

void Object::compileComposite(const std::function<void()>& extras) {
    glPushMatrix();
    glNewList(static_cast<GLuint>(listId), GL_COMPILE);
    for (childCursor = children.begin(); childCursor != children.end(); ++childCursor) {
        (*childCursor)->draw();
    }
    if (extras) extras();
    glEndList();
    glPopMatrix();
}

rObject::rObject() { rObject::reset(); }

rObject::rObject(int texture) : rObject() { setTexture(texture); }

void rObject::reset() {
    assign(innerScale, 1, 1, 1);
    assign(outerScale, 1, 1, 1);
    assign(translation, 0, 0, 0);
    colour[0] = colour[1] = colour[2] = colour[3] = 1.0;
    innerRotation[0] = innerRotation[1] = innerRotation[2] = innerRotation[3] = 0.0;
    outerRotation[0] = outerRotation[1] = outerRotation[2] = outerRotation[3] = 0.0;
    hasTexture = false;
    textureOn = false;
    textureId = 0;
    translucent = false;
}

void rObject::drawList(int list) {
    glPushMatrix();
    if (textureOn) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(textureId));
    }
    glColor4dv(colour);
    glScaled(outerScale[0], outerScale[1], outerScale[2]);
    rotate(outerRotation);
    glTranslated(translation[0], translation[1], translation[2]);
    rotate(innerRotation);
    glScaled(innerScale[0], innerScale[1], innerScale[2]);
    glCallList(static_cast<GLuint>(list));
    if (textureOn) glDisable(GL_TEXTURE_2D);
    glPopMatrix();
}

void rObject::draw() { drawList(listId); }

void rObject::drawBlended() {
    glEnable(GL_BLEND);
    glDepthMask(GL_FALSE);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    drawList(blendListId);
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
}

rObject* rObject::setTexture(int id) {
    textureId = id;
    if (id != 0) hasTexture = true;
    return this;
}

rObject* rObject::enableTexture() {
    textureOn = hasTexture;
    compile();
    return this;
}

rObject* rObject::disableTexture() {
    textureOn = false;
    compile();
    return this;
}

rObject* rObject::setInnerRotation(double angle, double x, double y, double z) {
    innerRotation[0] = angle;
    assign(innerRotation + 1, x, y, z);
    return this;
}

rObject* rObject::setOuterRotation(double angle, double x, double y, double z) {
    outerRotation[0] = angle;
    assign(outerRotation + 1, x, y, z);
    return this;
}

rObject* rObject::setOuterScale(double s) { return setOuterScale(s, s, s); }

rObject* rObject::setOuterScale(double x, double y, double z) {
    assign(outerScale, x, y, z);
    return this;
}

rObject* rObject::setInnerScale(double s) { return setInnerScale(s, s, s); }

rObject* rObject::setInnerScale(double x, double y, double z) {
    assign(innerScale, x, y, z);
    return this;
}

rObject* rObject::setTranslation(double x, double y, double z) {
    assign(translation, x, y, z);
    return this;
}

void rObject::setColour(double r, double g, double b) { setColour(r, g, b, 1.0); }

void rObject::setColour(double r, double g, double b, double a) {
    colour[0] = r;
    colour[1] = g;
    colour[2] = b;
    colour[3] = a;
    compile();  // composites bake their parts' colours into their lists
}

void rObject::setColourAll(double r, double g, double b) { setColourAll(r, g, b, 1.0); }

void rObject::setColourAll(double r, double g, double b, double a) {
    for (Object* child : children) {
        if (auto* part = dynamic_cast<rObject*>(child)) part->setColourAll(r, g, b, a);
    }
    setColour(r, g, b, a);
}

Object* rObject::childAt(unsigned i) { return i < children.size() ? children[i] : nullptr; }

double rObject::scaledReach(double listReach) const { return largestOf(innerScale) * listReach; }

double rObject::placedReach(double listReach) const {
    const double offset = std::sqrt(translation[0] * translation[0] + translation[1] * translation[1] +
                                    translation[2] * translation[2]);
    return largestOf(outerScale) * (offset + scaledReach(listReach));
}

}  // namespace tide
