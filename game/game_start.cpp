#include "game/game_start.h"

#include <GL/freeglut.h>
#include <malloc.h>

#include "game/controls.h"
#include "game/frame_clock.h"
#include "game/gl_setup.h"
#include "game/scenario.h"
#include "game/state.h"
#include "game/update.h"
#include "game/world_setup.h"
#include "scene/viewpoint.h"
#include "world/fonts.h"
#include "world/frame.h"
#include "world/heightmap.h"
#include "world/light.h"
#include "world/radar.h"

void startGame(const char* programName, std::vector<std::string>& glutArgs) {
    // The software renderer bins each frame's geometry into 64 KiB blocks and
    // frees them once the frame is drawn. Left at the top of the heap, glibc
    // would hand them back to the system, and every frame would fault a few
    // megabytes in again.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);

    showScoreList = false;
    showHelp = false;
    bigMap = false;
    showTerrain = true;

    // Held for the whole game; a picture that fails to load stays empty.
    static ValleyPictures pictures;
    pictures.load();

    // GLUT sees the program name and its own options only. The window's place
    // and size come first, so that -geometry can override them.
    std::vector<char*> glutArgv{const_cast<char*>(programName)};
    for (std::string& arg : glutArgs) glutArgv.push_back(&arg[0]);
    int glutArgc = static_cast<int>(glutArgv.size());
    glutArgv.push_back(nullptr);
    glutInitWindowPosition(100, 100);
    glutInitWindowSize(640, 480);
    glutInit(&glutArgc, glutArgv.data());
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("Just a try");
    // Closing the window must end the game like Escape does, not kill the process.
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);

    initGlState();
    tide::Light::setUpSceneLight();

    terrain = new tide::Heightmap();
    setUpWorld(*terrain, pictures);

    light = new tide::Light();

    player = new tide::Viewpoint(Vector3(1, 6, 10), Vector3(1, 0, 0), 0.1);
    tide::readScenario(&balls, &finishes, &enemies, "in.conf");

    KVEL::BitmapTexture& map = pictures.colour;
    radar = new tide::Radar(static_cast<int>(map.createTexture()), map.width(), map.height(), samplesPerUnit,
                            1.0 / terrain->extentZ(), &balls, &finishes);
    radar->useSmallMap();

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
}
