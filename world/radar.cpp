#include "world/radar.h"

#include <GL/gl.h>

#include <cmath>

#include "scene/ball.h"
#include "scene/finish.h"
#include "scene/polygon.h"

namespace tide {

namespace {

constexpr double kSmallMapScale = 0.4;
constexpr double kSmallMapY = 0.15;
constexpr double kSmallMapX = 0.199995;
constexpr double kBigMapScale = 1.0;
constexpr double kBigMapY = 0.5;
constexpr double kBigMapX = 0.66665;

constexpr double kMarkerSize = 0.01;
// Markers lie between the map (at -0.2) and the arrow (at 0).
constexpr double kMarkerDepth = -0.1;
constexpr double kMapDepth = -0.2;

void drawDiamond() {
    glBegin(GL_POLYGON);
    glVertex3d(kMarkerSize, 0, kMarkerDepth);
    glVertex3d(0, kMarkerSize, kMarkerDepth);
    glVertex3d(-kMarkerSize, 0, kMarkerDepth);
    glVertex3d(0, -kMarkerSize, kMarkerDepth);
    glEnd();
}

}  // namespace

Radar::Radar(int textureId, int pictureWidth, int pictureHeight, double /*samplesPerUnit*/,
             double unitScale, std::deque<ball*>* balls, std::deque<Finish*>* finishes)
    : unitScale(unitScale),
      aspect(pictureWidth > 0 && pictureHeight > 0
                 ? static_cast<double>(pictureWidth) / pictureHeight
                 : 1.0),
      balls(balls),
      finishes(finishes) {
    const bool hasPicture = pictureWidth > 0 && pictureHeight > 0;
    mapQuad = new Polygon(4, textureId);
    arrow = new Polygon(3);
    arrow->setInnerScale(0.01, 0.02, 0.01);
    arrow->setTranslation(0, 0, 0);
    arrow->setColourAll(1, 0, 0, 0.5);
    arrow->compile();

    // The 4-gon is a diamond of radius 1; this turns it into a unit square whose
    // picture columns (world x) run up and rows (world z) run right.
    mapQuad->setInnerScale(0.707106781);
    mapQuad->enableTexture();
    mapQuad->setInnerRotation(180, 0.923879532, -0.38268342, 0);
    if (pictureWidth > pictureHeight) {
        mapScaleU = 1.0 / aspect;
    } else {
        mapScaleV = aspect;
    }
    mapQuad->setOuterScale(mapScaleU, mapScaleV, 1);

    children.push_back(arrow);
    if (hasPicture) children.push_back(mapQuad);
}

Radar::~Radar() {
    delete mapQuad;
    delete arrow;
}

void Radar::setPlacement(double y, double x) {
    placementY = y;
    placementX = x;
}

void Radar::useSmallMap() {
    setOuterScale(kSmallMapScale);
    setPlacement(kSmallMapY, kSmallMapX);
}

void Radar::useBigMap() {
    setOuterScale(kBigMapScale);
    setPlacement(kBigMapY, kBigMapX);
}

double Radar::headingAngle() const {
    // atan2 rather than atan of the ratio: a heading straight along +z or -z, or
    // none at all, still gives a defined angle on the right side.
    return std::atan2(headingZ, headingX) / kDegreesToRadians;
}

void Radar::setHeading(Vector3 d) {
    headingX = d.x;
    headingZ = d.z;
    // Cancels the map's turn, so the arrow always points up.
    arrow->setInnerRotation(-headingAngle(), 0, 0, 1);
}

void Radar::setCentre(Vector3 p) {
    offsetV = -p.x * unitScale / aspect;
    offsetU = -p.z * unitScale;
    mapQuad->setTranslation(offsetU + 0.5, offsetV + 0.5 - kCentreDrop, kMapDepth);
}

// Where the point lies on the map quad: the quad's translation for a player
// standing there, under the quad's own scale.
void Radar::drawMarker(const Vector3& at) const {
    glTranslated(mapScaleU * (at.z * unitScale + offsetU),
                 mapScaleV * (at.x * unitScale / aspect + offsetV - kCentreDrop), 0);
    drawDiamond();
}

void Radar::compile() {
    const double angle = headingAngle();
    glPushMatrix();
    glNewList(listId, GL_COMPILE);

    glPushMatrix();
    glTranslated(placementX, placementY, 0);
    glRotated(angle, 0, 0, 1);
    for (Object* child : children) child->draw();
    glPopMatrix();

    glPushMatrix();
    glTranslated(placementX, placementY, 0);
    for (ball* b : *balls) {
        glPushMatrix();
        glRotated(angle, 0, 0, 1);
        // The value is the ball's colour: its high nibble red, its low nibble green.
        const int value = b->getValue();
        glColor3d((value / 16) / 15.0, (value % 16) / 15.0, 0);
        drawMarker(b->getPosition());
        glPopMatrix();
    }
    glPopMatrix();

    glPushMatrix();
    glTranslated(placementX, placementY, 0);
    glColor3d(1, 1, 0);
    for (Finish* f : *finishes) {
        glPushMatrix();
        glRotated(angle, 0, 0, 1);
        drawMarker(f->getPosition());
        glPopMatrix();
    }
    glPopMatrix();

    glEndList();
    glPopMatrix();
}

void Radar::reset() { mapQuad->compile(); }

}  // namespace tide
