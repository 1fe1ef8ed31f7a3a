#include "world/frame.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "game/state.h"
#include "scene/ball.h"
#include "scene/bullet.h"
#include "scene/enemy.h"
#include "scene/finish.h"
#include "scene/viewpoint.h"
#include "world/fonts.h"
#include "world/frustum.h"
#include "world/heightmap.h"
#include "world/radar.h"

namespace {

struct OverlayText {
    const char* text;
    double x;
    double y;
};

// Keys on the left, what they do on the right.
constexpr OverlayText kHelpLines[] = {
    {"HELP", 0.133333, 0.9},
    {"Arrow up/Arrow down", 0.133333, 0.85},
    {"accelerate/break", 0.533332, 0.85},
    {"a/d", 0.133333, 0.8},
    {"turn left/right", 0.533332, 0.8},
    {"w/s", 0.133333, 0.75},
    {"up/down", 0.533332, 0.75},
    {"q", 0.133333, 0.7},
    {"reset forward/backward acceleration", 0.533332, 0.7},
    {"e", 0.133333, 0.65},
    {"reset up/down acceleration", 0.533332, 0.65},
    {"r", 0.133333, 0.6},
    {"reset all accelerations", 0.533332, 0.6},
    {"m", 0.133333, 0.55},
    {"toggle small/big map", 0.533332, 0.55},
    {"h", 0.133333, 0.5},
    {"this help", 0.533332, 0.5},
    {"t", 0.133333, 0.45},
    {"show scorelist", 0.533332, 0.45},
    {"ESC", 0.133333, 0.4},
    {"quit", 0.533332, 0.4},
    {"Sense of Game?", 0.133333, 0.3},
    {"As you hopefully expected, there is no deeper sense in", 0.133333, 0.25},
    {"this game. Just find the Balls marked red and green in", 0.133333, 0.2},
    {"the map and bring them to (one of) the yellow marked", 0.133333, 0.15},
    {"Finishs. There is no Point or Timelimit.", 0.133333, 0.1},
};

constexpr double kScoreListNameX = 0.266666;
constexpr double kScoreListValueX = 0.933331;
constexpr double kScoreListTitleY = 0.9;
constexpr double kScoreListPlayerY = 0.85;
constexpr double kScoreListLine = 0.05;

bool terrainCulling = true;
bool objectCulling = true;
bool terrainOnly = false;

// Every tile, whether in range or not: the comparison that shows what the
// tile tree saves.
void drawAllTiles() {
    for (int i = 0; i < terrain->tileCount(); ++i) glCallList(terrain->firstTileList() + i);
}

// The shared HUD text object draws one string at a time: record it, place it, draw it.
void printText(const std::string& text, double x, double y) {
    *hudText = text;
    hudFonts->compile();
    hudFonts->setTranslation(x, y, 0);
    hudFonts->draw();
}

void printNumber(int number, double x, double y) {
    std::ostringstream digits;
    digits << number;
    printText(digits.str(), x, y);
}

// The object whose list runs last in a full draw (bullets have no model): it
// leaves the current normal that lights the score label's raster position.
const tide::mrObject* lastModelDrawn() {
    if (!finishes.empty()) return finishes.back();
    if (!balls.empty()) return balls.back();
    if (!enemies.empty()) return enemies.back();
    return nullptr;
}

// How far ahead of the eye the fog leaves less than 2^-30 of a colour: every
// fragment beyond rounds to the fog colour itself, just as the background
// (cleared to the same colour) and everything behind it do. Infinite when
// there is no such fog.
double depthOfOpaqueFog() {
    GLint mode = 0;
    GLfloat density = 0.0f;
    GLfloat fog[4] = {0, 0, 0, 0};
    GLfloat clear[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_FOG_MODE, &mode);
    glGetFloatv(GL_FOG_DENSITY, &density);
    glGetFloatv(GL_FOG_COLOR, fog);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    const bool fogIsBackground = std::equal(fog, fog + 4, clear);
    if (!glIsEnabled(GL_FOG) || mode != GL_EXP2 || !(density > 0.0f) || !fogIsBackground) {
        return std::numeric_limits<double>::infinity();
    }
    return std::sqrt(30.0 * std::log(2.0)) / density;
}

// An object wholly outside the view volume or wholly within the opaque fog
// changes no pixel and is left out, all but the last model, so that the
// overlay is lit as after a full draw. The player's own vessel is the camera
// and is not drawn.
void drawObjects() {
    const tide::Frustum view = tide::Frustum::current();
    const double fogDepth = depthOfOpaqueFog();
    const tide::mrObject* last = lastModelDrawn();
    const auto drawIfSeen = [&view, fogDepth, last](tide::mrObject* object) {
        const Vector3 at = object->getPosition();
        const double reach = object->drawnReach();
        if (!objectCulling || object == last || (view.mayShow(at, reach) && !view.beyondDepth(at, reach, fogDepth))) {
            object->draw();
        }
    };
    for (tide::submarine* e : enemies) drawIfSeen(e);
    for (tide::ball* b : balls) drawIfSeen(b);
    for (tide::bullet* b : bullets) drawIfSeen(b);
    for (tide::Finish* f : finishes) drawIfSeen(f);
}

void drawScene() {
    glPushMatrix();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90, 1.3333, 0.01, 50);
    glMatrixMode(GL_MODELVIEW);

    const Vector3 p = player->getPosition();
    const Vector3 d = player->getDirection();
    gluLookAt(p.x, p.y, p.z, p.x + d.x, p.y + d.y, p.z + d.z, 0, 1, 0);
    if (showTerrain) {
        if (terrainCulling) {
            terrain->drawTerrain(p.x, p.z, d.x, d.z);
        } else {
            drawAllTiles();
        }
    }
    if (!terrainOnly) drawObjects();
    glPopMatrix();
}

void drawScoreList() {
    printText("SCORE", kScoreListNameX, kScoreListTitleY);
    printText("YOU", kScoreListNameX, kScoreListPlayerY);
    printNumber(player->getScore(), kScoreListValueX, kScoreListPlayerY);
    int n = 0;
    for (tide::submarine* e : enemies) {
        ++n;
        const double y = kScoreListPlayerY - kScoreListLine * n;
        printNumber(n, kScoreListNameX, y);
        printNumber(e->getScore(), kScoreListValueX, y);
    }
}

// Drawn over the scene without clearing the depth buffer: the overlay lies at
// z 0 to -0.2, in front of all but the very nearest scene fragments.
void drawOverlay() {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, kOverlayWidth, 0, 1, 0, 2);
    glMatrixMode(GL_MODELVIEW);

    player->drawScoreLabel(1.2833333, 0.025);
    radar->draw();

    // The chain that trails behind the vessel stands up from the lower right corner.
    glPushMatrix();
    glTranslated(1.3, 0.025, 0);
    glRotated(90, 0, 0, 1);
    glScaled(0.4, 0.4, 0.4);
    player->drawCarried();
    glPopMatrix();

    glBegin(GL_POINTS);
    glColor3d(1, 1, 1);
    glVertex3d(0.6666666, 0.5, 0);
    glEnd();

    if (showScoreList) drawScoreList();
    if (showHelp) {
        for (const OverlayText& line : kHelpLines) printText(line.text, line.x, line.y);
    }

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

}  // namespace

void drawFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawScene();
    if (!terrainOnly) drawOverlay();
}

void setTerrainCulling(bool on) { terrainCulling = on; }

void setObjectCulling(bool on) { objectCulling = on; }

void setTerrainOnly(bool on) { terrainOnly = on; }

void display() {
    drawFrame();
    glutSwapBuffers();
}
