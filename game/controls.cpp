#include "game/controls.h"

#include <GL/freeglut.h>

namespace {
constexpr unsigned char kEscape = 27;
}

void quitGame() { glutLeaveMainLoop(); }

void keyboard(unsigned char key, int, int) {
    if (key == kEscape) quitGame();
    glutPostRedisplay();
}

void special(int, int, int) { glutPostRedisplay(); }

// The mouse has no part in the game; the callbacks exist so GLUT delivers nothing unexpected.
void mouse(int, int, int, int) {}
void motion(int, int) {}
