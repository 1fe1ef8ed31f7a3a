#include "game/update.h"

#include <GL/freeglut.h>

#include "game/frame_clock.h"
#include "game/state.h"

void idle() {
    previousTick = currentTick;
    currentTick = frameClockMs();
    glutPostRedisplay();
}
