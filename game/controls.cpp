#include "game/controls.h"

#include <GL/freeglut.h>

#include <cctype>

#include "game/state.h"
#include "scene/viewpoint.h"
#include "world/radar.h"

namespace {

constexpr unsigned char kEscape = 27;

// The first press finds bigMap false and so sets the small map again; only the
// presses after it alternate between big and small.
void toggleMapSize() {
    if (bigMap) {
        radar->useBigMap();
    } else {
        radar->useSmallMap();
    }
    bigMap = !bigMap;
}

}  // namespace

void quitGame() { glutLeaveMainLoop(); }

void keyboard(unsigned char key, int, int) {
    switch (std::tolower(key)) {
        case kEscape: quitGame(); break;
        case 'a': player->turnLeft(); break;
        case 'd': player->turnRight(); break;
        case 'w': player->ascend(); break;
        case 's': player->descend(); break;
        case 'q': player->resetSpeeds(); break;
        case 'e': player->resetBuoyancy(); break;
        case 'r': player->resetMotion(); break;
        case 'm': toggleMapSize(); break;
        case 'h': showHelp = !showHelp; break;
        case 't': showScoreList = !showScoreList; break;
        default: break;
    }
    glutPostRedisplay();
}

void special(int key, int, int) {
    if (key == GLUT_KEY_UP) player->accelerate();
    if (key == GLUT_KEY_DOWN) player->decelerate();
    glutPostRedisplay();
}

// The mouse has no part in the game; the callbacks exist so GLUT delivers nothing unexpected.
void mouse(int, int, int, int) {}
void motion(int, int) {}
