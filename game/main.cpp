#include <GL/freeglut.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>

#include "game/display_check.h"
#include "game/game_start.h"
#include "game/options.h"
#include "game/screenshot.h"
#include "game/timedemo.h"
#include "world/frame.h"

int main(int argc, char** argv) {
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

    startGame(argv[0], options.glutArgs);

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
