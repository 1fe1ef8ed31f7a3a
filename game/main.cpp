#include <GL/freeglut.h>

#include <cstdlib>
#include <ctime>
#include <iostream>

#include "game/controls.h"
#include "game/frame_clock.h"
#include "game/gl_setup.h"
#include "game/state.h"
#include "game/update.h"
#include "world/fonts.h"
#include "world/frame.h"
#include "world/light.h"

int main(int argc, char** argv) {
    std::cout << "Press \"h\" for help in game" << std::endl;
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    showScoreList = false;
    showHelp = false;
    bigMap = false;
    showTerrain = true;

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowPosition(100, 100);
    glutInitWindowSize(640, 480);
    glutCreateWindow("Just a try");
    // Closing the window must end the game like Escape does, not kill the process.
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);

    initGlState();
    tide::Light::setUpSceneLight();

    light = new tide::Light();

    hudText = new std::string();
    hudFonts = new tide::Fonts();
    hudFonts->setText(hudText);

    currentTick = frameClockMs();

    glutReshapeFunc(reshape);
    glutDisplayFunc(display);
    glutSpecialFunc(special);
    glutMouseFunc(mouse);
    glutMotionFunc(motion);
    glutIdleFunc(idle);
    glutKeyboardFunc(keyboard);

    glutMainLoop();
    std::cout << "normal exit" << std::endl;
    return 0;
}
