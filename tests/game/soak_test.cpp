// A long crowded game that guards the rules: balls are never lost or
// duplicated, nothing becomes not-a-number, and score only comes from delivered
// balls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "game/scenario.h"
#include "game/state.h"
#include "game/update.h"
#include "scene/ball.h"
#include "scene/enemy.h"
#include "scene/finish.h"
#include "scene/viewpoint.h"
#include "support/ledger.h"
#include "support/temp_dir.h"
#include "support/test_world.h"

using testworld::Ledger;
using tide::ball;
using tide::submarine;

namespace {

constexpr int kSteps = 20000;
constexpr unsigned kStepMs = 16;

// A valley along x with ridges along both long edges, shaped like the shipped
// one, for when its pictures are not in the data folder.
std::unique_ptr<testworld::InstalledTerrain> valley() {
    if (auto shipped = testworld::InstalledTerrain::shippedValley(GAME_DATA_DIR)) return shipped;
    const int width = 512;
    const int height = 256;
    std::vector<unsigned char> depth(static_cast<std::size_t>(width) * height);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            const double across = (row - height / 2.0) / (height / 2.0);
            const double v = 20 + 150 * across * across + 15 * std::sin(col / 25.0) * std::cos(row / 17.0);
            depth[static_cast<std::size_t>(row * width + col)] = static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
        }
    }
    return std::make_unique<testworld::InstalledTerrain>(depth, width, height);
}

// A deterministic generator, so every run plays the same game.
class Lcg {
public:
    double uniform(double lo, double hi) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return lo + (hi - lo) * static_cast<double>(state >> 11) / 9007199254740992.0;
    }

private:
    unsigned long long state = 2024;
};

// 4 finishes, 80 balls (none within 3 units of a finish, so no ball is taken
// and delivered within one frame) and 8 enemies, in the scenario file format.
std::string crowdedScenario(double extentX, double extentZ) {
    const double finishSpots[4][2] = {{20, 35}, {75, 35}, {20, 70}, {75, 70}};
    std::ostringstream out;
    out << "crowded soak scenario\n";
    for (const auto& f : finishSpots) out << "finish:\n" << f[0] << "\n" << f[1] << "\n";
    Lcg random;
    for (int made = 0; made < 80;) {
        const double x = random.uniform(3, 97);
        const double z = random.uniform(5, 95);
        const int value = static_cast<int>(random.uniform(0, 256));
        const bool nearFinish = std::any_of(std::begin(finishSpots), std::end(finishSpots), [&](const double* f) {
            return std::hypot((x - f[0]) / 100 * extentX, (z - f[1]) / 100 * extentZ) < 3.0;
        });
        if (nearFinish) continue;
        out << "ball:\n" << x << "\n" << z << "\n" << value << "\n";
        ++made;
    }
    for (int i = 0; i < 8; ++i) {
        out << "enemy:\n" << random.uniform(5, 95) << "\n" << random.uniform(10, 90) << "\n"
            << random.uniform(-100, 100) << "\n" << random.uniform(-100, 100) << "\n" << i << "\n";
    }
    return out.str();
}

class SoakTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        savedPlayer = player;
        terrainHolder = valley();
        player = new tide::Viewpoint(Vector3(1, 6, 10), Vector3(1, 0, 0), 0.1);
        const std::string file = path("in.conf");
        std::ofstream(file) << crowdedScenario(terrain->extentX(), terrain->extentZ());
        tide::readScenario(&balls, &finishes, &enemies, file);
        everyBall.assign(balls.begin(), balls.end());
        std::srand(99);
    }
    void TearDown() override {
        for (submarine* e : enemies) delete e;
        for (tide::Finish* f : finishes) delete f;
        for (ball* b : everyBall) delete b;
        enemies.clear();
        finishes.clear();
        balls.clear();
        delete player;
        player = savedPlayer;
        terrainHolder.reset();
        TempDirTest::TearDown();
    }

    std::unique_ptr<testworld::InstalledTerrain> terrainHolder;
    tide::Viewpoint* savedPlayer = nullptr;
    std::vector<ball*> everyBall;
};

}  // namespace

TEST_F(SoakTest, TwentyThousandCrowdedStepsKeepEveryBallScoreAndNumber) {
    ASSERT_EQ(enemies.size(), 8u);
    ASSERT_EQ(balls.size(), 80u);
    ASSERT_EQ(finishes.size(), 4u);

    // An opening high above the valley: the player takes one ball, and in a
    // later frame delivers it and takes another in that same frame.
    const Vector3 sky(40, 45, 20);
    player->setPositionTo(sky);
    for (int i = 0; i < 20; ++i) player->accelerate();
    auto* first = new ball(sky + Vector3(0.2, 0, 0), Vector3(0, -1, 0), 200, &balls);
    balls.push_back(first);
    everyBall.push_back(first);
    for (int i = 0; i < 5 && player->carriedCount() == 0; ++i) stepWorld(kStepMs);
    ASSERT_EQ(player->carriedCount(), 1);

    const Vector3 start = sky + Vector3(0, 0, 5);
    player->setPositionTo(start);
    const double perFrame = player->displacement(kStepMs).x;
    auto* finish = new tide::Finish(start + Vector3(0.4 + 0.3 * perFrame, 0, 0), Vector3(0, 1, 0));
    finishes.push_back(finish);
    auto* second = new ball(start + Vector3(0.175 + 0.6 * perFrame, 0, 0), Vector3(0, -1, 0), 100, &balls);
    balls.push_back(second);
    everyBall.push_back(second);

    std::vector<submarine*> vessels{player};
    vessels.insert(vessels.end(), enemies.begin(), enemies.end());
    Ledger ledger(vessels, everyBall);
    stepWorld(kStepMs);
    ASSERT_EQ(ledger.check(), "");
    EXPECT_EQ(player->getScore(), 200);
    EXPECT_TRUE(second->isAttached());
    EXPECT_EQ(ledger.framesWithDeliveryAndPickUp, 1);

    std::string problem;
    std::vector<int> halfwayScores;  // of the enemies
    int step = 0;
    for (; step < kSteps && problem.empty(); ++step) {
        if (step == kSteps / 2) {
            for (submarine* e : enemies) halfwayScores.push_back(e->getScore());
        }
        if (step % 250 == 0) {
            // The player wanders: a turn, full speed, and up or down towards mid-depth.
            player->turnBy(37);
            for (int i = 0; i < 40; ++i) player->accelerate();
            if (player->getPosition().y > 20) {
                player->descend();
            } else {
                player->ascend();
            }
        }
        stepWorld(kStepMs);
        problem = ledger.check();
    }
    EXPECT_EQ(problem, "") << "after step " << step;
    EXPECT_EQ(ledger.scoreTotal(), ledger.deliveredTotal);
    // The enemies fetch and deliver on their own, to the end, and none keeps
    // a full chain out of play.
    const long enemyScore = ledger.scoreTotal() - player->getScore();
    long halfwayEnemyScore = 0;
    for (int score : halfwayScores) halfwayEnemyScore += score;
    EXPECT_GT(enemyScore, halfwayEnemyScore);
    for (submarine* e : enemies) EXPECT_LT(e->carriedCount(), 10);
    std::printf("soak: %d steps, %ld points delivered (%ld by enemies), %d frames with a delivery and a pick-up\n",
                step, ledger.deliveredTotal, enemyScore, ledger.framesWithDeliveryAndPickUp);
}
