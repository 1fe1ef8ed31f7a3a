#include "game/gl_setup.h"

#include <GL/gl.h>
#include <GL/glu.h>

void initGlState() {
    glClearColor(0.5f, 0.6f, 1.0f, 1.0f);
    glEnable(GL_FOG);
    glFogi(GL_FOG_MODE, GL_EXP2);
    const GLfloat fogColour[4] = {0.5f, 0.6f, 1.0f, 1.0f};
    glFogfv(GL_FOG_COLOR, fogColour);
    glFogf(GL_FOG_DENSITY, 0.14f);
    glHint(GL_FOG_HINT, GL_DONT_CARE);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_NORMALIZE);
    glPointSize(2.0f);
}

void reshape(int width, int height) {
    // A minimised window reports height 0; an infinite aspect would poison the projection.
    if (height <= 0) height = 1;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90.0, static_cast<double>(width) / height, 0.01, 50.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}
