#include <GL/freeglut.h>

#include <cstdlib>
#include <ctime>
#include <iostream>

#include "game/controls.h"
#include "game/frame_clock.h"
#include "game/gl_setup.h"
#include "game/state.h"
#include "game/update.h"
#include "imagelib/bitmap.h"
#include "world/fonts.h"
#include "world/frame.h"
#include "world/heightmap.h"
#include "world/light.h"

int main(int argc, char** argv) {
    std::cout << "Press \"h\" for help in game" << std::endl;
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    showScoreList = false;
    showHelp = false;
    bigMap = false;
    showTerrain = true;

    // Held for the whole game; a picture that fails to load stays empty.
    auto* depthPicture = new KVEL::BitmapTexture();
    depthPicture->load("valleyDepth.bmp");
    auto* texturePicture = new KVEL::BitmapTexture();
    texturePicture->load("valleyTex.bmp");

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowPosition(100, 100);
    glutInitWindowSize(640, 480);
    glutCreateWindow("Just a try");
    // Closing the window must end the game like Escape does, not kill the process.
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);

    initGlState();
    tide::Light::setUpSceneLight();

    terrain = new tide::Heightmap();
    tide::buildTerrainFromPictures(*terrain, *depthPicture, "valleyDepth.bmp", *texturePicture, "valleyTex.bmp");
    boundaryPoints[0] = Vector3(terrain->extentX(), 0, 0);
    boundaryPoints[1] = Vector3(0, 0, terrain->extentZ());
    boundaryNormals[0] = Vector3(0, 0, 1);
    boundaryNormals[1] = Vector3(1, 0, 0);
    samplesPerUnit = terrain->samplesPerUnit();

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
