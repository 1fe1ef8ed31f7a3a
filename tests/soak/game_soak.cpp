// The game over an evening: the real game loop (the timedemo's fixed 16 ms
// step and real rendering) on the shipped valley, with a player at the keys.
// After every frame it checks the game's rules (balls are never lost or
// duplicated, scores, and so the score list, come only from delivered balls,
// chains name their carriers, nothing becomes not-a-number) and that the radar
// follows the player; at the end, that the process's resident memory grew by
// less than 1 MiB after the warm-up frames.
//
// usage: soak_game DATA_DIR FRAMES WARM_UP_FRAMES      (needs an X display)
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/soak_game data 100000 10000
#include <GL/freeglut.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "game/controls.h"
#include "game/game_start.h"
#include "game/state.h"
#include "game/timedemo.h"
#include "scene/viewpoint.h"
#include "support/ledger.h"
#include "world/heightmap.h"
#include "world/radar.h"

#if defined(__SANITIZE_ADDRESS__)
// No leak check at exit, as for the game in the end-to-end tests: the game
// keeps its world until the process ends, and the driver's allocations show up
// as leaks from an unknown module.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
#endif

namespace {

constexpr long kMaxGrowth = 1 << 20;
// AddressSanitizer keeps freed blocks in quarantine, so there resident memory
// grows by design.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kJudgeMemory = false;
#else
constexpr bool kJudgeMemory = true;
#endif

long residentBytes() {
    long pages = 0;
    long resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// Someone at the keys: steering, rising and sinking, and in every round of
// kRound frames looking at the score list, the big map and the help once,
// through the game's own handlers. So the warm-up, a round or more, has
// shown every part of the overlay.
constexpr long kRound = 1200;

void play(long frame) {
    if (frame % 240 == 0) {
        for (int i = 0; i < 8; ++i) keyboard('d', 0, 0);
        for (int i = 0; i < 6; ++i) special(GLUT_KEY_UP, 0, 0);
        keyboard(player->getPosition().y > 8 ? 's' : 'w', 0, 0);
    }
    switch (frame % kRound) {
        case 100:
        case 400:
            keyboard('t', 0, 0);
            break;
        case 300:
        case 500:
        case 900:
            keyboard('m', 0, 0);  // the first press of a game keeps the small map
            break;
        case 600:
        case 800:
            keyboard('h', 0, 0);
            break;
        default:
            break;
    }
}

// Empty when the radar shows the player's place and heading.
std::string radarProblem() {
    const Vector3 p = player->getPosition();
    const Vector3 d = player->getDirection();
    const double heading = std::atan2(d.z, d.x) / kDegreesToRadians;
    if (std::abs(radar->headingAngle() - heading) > 1e-9) return "the radar's heading is not the player's; ";
    if (std::abs(radar->centreOffsetU() + p.z / terrain->extentZ()) > 1e-9) {
        return "the radar is not centred on the player; ";
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || chdir(argv[1]) != 0) {
        std::cerr << "usage: soak_game DATA_DIR FRAMES WARM_UP_FRAMES\n";
        return 2;
    }
    const long frames = std::atol(argv[2]);
    const long warmUp = std::atol(argv[3]);
    if (frames <= warmUp || warmUp < kRound) {
        std::cerr << "soak_game: FRAMES must exceed WARM_UP_FRAMES, which must be at least " << kRound << "\n";
        return 2;
    }
    std::srand(1);
    std::vector<std::string> glutArgs;
    startGame(argv[0], glutArgs);

    std::vector<tide::submarine*> vessels{player};
    vessels.insert(vessels.end(), enemies.begin(), enemies.end());
    testworld::Ledger ledger(vessels, std::vector<tide::ball*>(balls.begin(), balls.end()));
    std::string problem;
    long problemFrame = 0;
    long warmRss = 0;
    long peakAfterWarmUp = 0;
    startTimedemo(frames, false, [&](long frame) {
        problem = ledger.check() + radarProblem();
        if (!problem.empty()) {
            problemFrame = frame;
            glutLeaveMainLoop();
            return;
        }
        const long rss = residentBytes();
        if (frame == warmUp) warmRss = rss;
        if (frame > warmUp) peakAfterWarmUp = std::max(peakAfterWarmUp, rss);
        if (frame % warmUp == 0) std::cout << "soak: frame " << frame << ", resident memory " << rss / 1024 << " KiB" << std::endl;
        play(frame);
    });
    glutMainLoop();

    printTimedemoReport(std::cout, timedemoTotals(), true, false);
    if (!problem.empty()) {
        std::cout << "soak: frame " << problemFrame << ": " << problem << "\n";
        return 1;
    }
    const long growth = peakAfterWarmUp - warmRss;
    std::cout << "soak: " << timedemoTotals().frames << " frames, " << ledger.deliveredTotal
              << " points delivered (player " << player->getScore() << ")\n"
              << "soak: resident memory " << warmRss / 1024 << " KiB after frame " << warmUp << ", at most "
              << peakAfterWarmUp / 1024 << " KiB after it: grew by " << growth / 1024 << " KiB"
              << (kJudgeMemory ? "" : " (not judged under AddressSanitizer)") << std::endl;
    if (timedemoTotals().frames != frames || ledger.scoreTotal() != ledger.deliveredTotal) {
        std::cout << "soak: the run ended early or the scores do not add up\n";
        return 1;
    }
    if (kJudgeMemory && growth >= kMaxGrowth) {
        std::cout << "soak: resident memory grew by 1 MiB or more after the warm-up\n";
        return 1;
    }
    return 0;
}
