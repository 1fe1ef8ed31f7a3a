#include "game/controls.h"

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <memory>

#include "game/state.h"
#include "scene/viewpoint.h"
#include "world/radar.h"

namespace {

// The controls act on the game's globals: a fresh player and radar, the flags
// as start-up sets them.
class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ownPlayer = std::make_unique<tide::Viewpoint>(Vector3(1, 6, 10), Vector3(1, 0, 0), 0.1);
        ownRadar = std::make_unique<tide::Radar>(0, 512, 256, 6.4, 0.025, &noBalls, &noFinishes);
        ownRadar->useSmallMap();
        player = ownPlayer.get();
        radar = ownRadar.get();
        showHelp = false;
        showScoreList = false;
        bigMap = false;
    }

    void TearDown() override {
        player = nullptr;
        radar = nullptr;
        showHelp = false;
        showScoreList = false;
        bigMap = false;
    }

    std::deque<tide::ball*> noBalls;
    std::deque<tide::Finish*> noFinishes;
    std::unique_ptr<tide::Viewpoint> ownPlayer;
    std::unique_ptr<tide::Radar> ownRadar;
};

bool isSmallMap(const tide::Radar& r) {
    return r.outerScale[0] == 0.4 && r.originX() == 0.4 * 0.199995 && r.originY() == 0.4 * 0.15;
}
bool isBigMap(const tide::Radar& r) {
    return r.outerScale[0] == 1.0 && r.originX() == 0.66665 && r.originY() == 0.5;
}

}  // namespace

TEST_F(ControlsTest, TurnKeysTurnByTwoAndAHalfDegreesInEitherCase) {
    for (unsigned char key : {'a', 'A'}) {
        SetUp();
        keyboard(key, 0, 0);
        EXPECT_DOUBLE_EQ(player->getHeading(), 182.5) << key;
        EXPECT_NEAR(player->getDirection().z, -std::sin(2.5 * kDegreesToRadians), 1e-12) << key;
    }
    for (unsigned char key : {'d', 'D'}) {
        SetUp();
        keyboard(key, 0, 0);
        EXPECT_DOUBLE_EQ(player->getHeading(), 177.5) << key;
        EXPECT_NEAR(player->getDirection().z, std::sin(2.5 * kDegreesToRadians), 1e-12) << key;
    }
}

TEST_F(ControlsTest, UpAndDownKeysChangeTheLiftInEitherCase) {
    for (unsigned char key : {'w', 'W'}) {
        SetUp();
        keyboard(key, 0, 0);
        EXPECT_NEAR(player->netLift(), 0.1, 1e-12) << key;
        EXPECT_NEAR(player->getDirection().y, 0.0, 1e-12) << key;  // the two pitches cancel
    }
    for (unsigned char key : {'s', 'S'}) {
        SetUp();
        keyboard(key, 0, 0);
        EXPECT_NEAR(player->netLift(), -0.1, 1e-12) << key;
    }
}

TEST_F(ControlsTest, ResetKeysStopWhatTheyNameInEitherCase) {
    auto moveAndLift = [] {
        player->accelerate();
        player->ascend();
    };
    for (unsigned char key : {'q', 'Q'}) {
        SetUp();
        moveAndLift();
        keyboard(key, 0, 0);
        EXPECT_EQ(player->netSpeed(), 0.0) << key;
        EXPECT_GT(player->netLift(), 0.0) << key;
    }
    for (unsigned char key : {'e', 'E'}) {
        SetUp();
        moveAndLift();
        keyboard(key, 0, 0);
        EXPECT_GT(player->netSpeed(), 0.0) << key;
        EXPECT_EQ(player->netLift(), 0.0) << key;
    }
    for (unsigned char key : {'r', 'R'}) {
        SetUp();
        moveAndLift();
        keyboard(key, 0, 0);
        EXPECT_EQ(player->netSpeed(), 0.0) << key;
        EXPECT_EQ(player->netLift(), 0.0) << key;
    }
}

TEST_F(ControlsTest, HelpAndScoreListToggleInEitherCase) {
    keyboard('h', 0, 0);
    EXPECT_TRUE(showHelp);
    keyboard('H', 0, 0);
    EXPECT_FALSE(showHelp);
    keyboard('t', 0, 0);
    EXPECT_TRUE(showScoreList);
    keyboard('T', 0, 0);
    EXPECT_FALSE(showScoreList);
    EXPECT_FALSE(showHelp);
}

TEST_F(ControlsTest, MapKeyKeepsTheSmallMapFirstThenAlternates) {
    ASSERT_TRUE(isSmallMap(*radar));
    keyboard('m', 0, 0);
    EXPECT_TRUE(isSmallMap(*radar));
    EXPECT_TRUE(bigMap);
    keyboard('M', 0, 0);
    EXPECT_TRUE(isBigMap(*radar));
    EXPECT_FALSE(bigMap);
    keyboard('m', 0, 0);
    EXPECT_TRUE(isSmallMap(*radar));
    keyboard('m', 0, 0);
    EXPECT_TRUE(isBigMap(*radar));
}

TEST_F(ControlsTest, ArrowKeysAccelerateAndBrake) {
    special(GLUT_KEY_UP, 0, 0);
    EXPECT_NEAR(player->netSpeed(), 0.05, 1e-12);
    special(GLUT_KEY_DOWN, 0, 0);
    special(GLUT_KEY_DOWN, 0, 0);
    EXPECT_NEAR(player->netSpeed(), -0.05, 1e-12);
}

TEST_F(ControlsTest, OtherKeysAndTheMouseChangeNothing) {
    for (int key = 0; key < 256; ++key) {
        // Escape leaves the main loop; the end-to-end tests cover it.
        if (key != 0 && std::strchr("aAdDwWsSqQeErRmMhHtT\x1b", key) != nullptr) continue;
        keyboard(static_cast<unsigned char>(key), 0, 0);
    }
    for (int key : {GLUT_KEY_LEFT, GLUT_KEY_RIGHT, GLUT_KEY_F1, GLUT_KEY_PAGE_UP}) special(key, 0, 0);
    mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 10, 10);
    motion(300, 200);
    mouse(GLUT_LEFT_BUTTON, GLUT_UP, 300, 200);

    EXPECT_EQ(player->getHeading(), 180.0);
    EXPECT_EQ(player->netSpeed(), 0.0);
    EXPECT_EQ(player->netLift(), 0.0);
    EXPECT_EQ(player->getDirection().x, 1.0);
    EXPECT_FALSE(showHelp);
    EXPECT_FALSE(showScoreList);
    EXPECT_FALSE(bigMap);
    EXPECT_TRUE(isSmallMap(*radar));
}
