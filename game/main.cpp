#include <GL/freeglut.h>

#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "game/controls.h"
#include "game/display_check.h"
#include "game/frame_clock.h"
#include "game/gl_setup.h"
#include "game/options.h"
#include "game/screenshot.h"
#include "game/scenario.h"
#include "game/state.h"
#include "game/timedemo.h"
#include "game/update.h"
#include "imagelib/gl/bitmap_texture.h"
#include "scene/viewpoint.h"
#include "world/fonts.h"
#include "world/frame.h"
#include "world/heightmap.h"
#include "world/light.h"
#include "world/radar.h"

int main(int argc, char** argv) {
    // The software renderer bins each frame's geometry into 64 KiB blocks and
    // frees them once the frame is drawn. Left at the top of the heap, glibc
    // would hand them back to the system, and every frame would fault a few
    // megabytes in again.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    GameOptions options;
    std::string optionError;
    switch (parseOptions(argc, argv, options, optionError)) {
        case OptionsStatus::Usage:
            std::cout << usageText(argv[0]);
            return 0;
        case OptionsStatus::Invalid:
            std::cerr << argv[0] << ": " << optionError << "\n" << usageText(argv[0]);
            return 2;
        case OptionsStatus::Play:
            break;
    }
    if (!options.dataDir.empty() && chdir(options.dataDir.c_str()) != 0) {
        std::cerr << argv[0] << ": cannot use data folder '" << options.dataDir << "': " << std::strerror(errno)
                  << "\n";
        return 1;
    }
    std::string displayError;
    if (!displayAvailable(options.displayName, displayError)) {
        std::cerr << argv[0] << ": " << displayError << "\n";
        return 1;
    }

    std::cout << "Press \"h\" for help in game" << std::endl;
    std::srand(options.seedGiven ? options.seed : static_cast<unsigned>(std::time(nullptr)));

    showScoreList = false;
    showHelp = false;
    bigMap = false;
    showTerrain = true;

    // Held for the whole game; a picture that fails to load stays empty.
    auto* depthPicture = new KVEL::BitmapTexture();
    depthPicture->load("valleyDepth.bmp");
    auto* texturePicture = new KVEL::BitmapTexture();
    texturePicture->load("valleyTex.bmp");

    // GLUT sees the program name and its own options only. The window's place
    // and size come first, so that -geometry can override them.
    std::vector<char*> glutArgv{argv[0]};
    for (std::string& arg : options.glutArgs) glutArgv.push_back(&arg[0]);
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
    tide::buildTerrainFromPictures(*terrain, *depthPicture, "valleyDepth.bmp", *texturePicture, "valleyTex.bmp");
    boundaryPoints[0] = Vector3(terrain->extentX(), 0, 0);
    boundaryPoints[1] = Vector3(0, 0, terrain->extentZ());
    boundaryNormals[0] = Vector3(0, 0, 1);
    boundaryNormals[1] = Vector3(1, 0, 0);
    samplesPerUnit = terrain->samplesPerUnit();

    light = new tide::Light();

    player = new tide::Viewpoint(Vector3(1, 6, 10), Vector3(1, 0, 0), 0.1);
    tide::readScenario(&balls, &finishes, &enemies, "in.conf");

    radar = new tide::Radar(static_cast<int>(texturePicture->createTexture()), texturePicture->width(),
                            texturePicture->height(), samplesPerUnit, 1.0 / terrain->extentZ(), &balls, &finishes);
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

    if (!options.culling) {
        setTerrainCulling(false);
        setObjectCulling(false);
    }
    if (options.terrainOnly) setTerrainOnly(true);
    const bool wantsScreenshot = !options.screenshotPath.empty();
    if (wantsScreenshot) glutDisplayFunc(displayAndKeep);
    if (options.timedemoFrames > 0) startTimedemo(options.timedemoFrames, wantsScreenshot);

    glutMainLoop();
    if (options.timedemoFrames > 0) {
        printTimedemoReport(std::cout, timedemoTotals(), options.culling, options.terrainOnly);
    } else {
        std::cout << "normal exit" << std::endl;
    }
    if (wantsScreenshot && !saveFrame(keptFrame(), options.screenshotPath)) return 1;
    return 0;
}
