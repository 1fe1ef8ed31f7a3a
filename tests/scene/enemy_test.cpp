#include "scene/enemy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "scene/ball.h"
#include "scene/finish.h"
#include "support/test_world.h"

using tide::ball;
using tide::enemy;
using tide::Finish;
using tide::mrObject;

namespace {

constexpr double kEps = 1e-9;

// Enemies need a terrain for their look-ahead: an 80 x 40 world (1.25 units
// per sample) with a flat floor at height 10 that rises steeply to 250
// between z = 18.75 and z = 20.
class EnemyTest : public ::testing::Test {
protected:
    static std::vector<unsigned char> floorWithWall() {
        std::vector<unsigned char> depth = testworld::flatDepth(64, 32, 8);  // 8 x 1.25 = height 10
        for (int row = 16; row < 32; ++row) {
            for (int col = 0; col < 64; ++col) depth[static_cast<std::size_t>(row * 64 + col)] = 200;
        }
        return depth;
    }

    testworld::InstalledTerrain world{floorWithWall(), 64, 32};
    std::deque<ball*> lying;
};

// A target placed `degrees` from the +x axis towards -z, seen from `from`.
Vector3 bearing(const Vector3& from, double degrees, double distance) {
    const double a = degrees * kDegreesToRadians;
    return from + Vector3(std::cos(a), 0, -std::sin(a)) * distance;
}

}  // namespace

TEST_F(EnemyTest, IsAWhiteShipOfRadiusPointFourWithoutTarget) {
    enemy e({10, 15, 5}, {1, 0, 0}, 42);
    EXPECT_EQ(e.getKind(), tide::kKindSubmarine);
    EXPECT_EQ(e.getRadius(), 0.4);
    EXPECT_EQ(e.getTag(), 42);
    EXPECT_EQ(e.getTarget(), nullptr);
    EXPECT_FALSE(e.step(16));
    auto* ship = static_cast<tide::rObject*>(e.childAt(0));
    ASSERT_NE(ship, nullptr);
    EXPECT_EQ(ship->innerScale[0], 0.2);
    EXPECT_EQ(ship->innerScale[1], 0.1);
    EXPECT_EQ(ship->colour[0], 1.0);
}

// --- Steering ---

TEST_F(EnemyTest, TurnsByFiveWhenTheTargetIsBehindOrFarOff) {
    const Vector3 at(10, 15, 5);
    enemy e(at, {1, 0, 0}, 0);
    Finish behind(at - Vector3(3, 0, 0), {0, 1, 0});
    e.setTarget(&behind);
    e.step(16);
    EXPECT_NEAR(e.getHeading(), 185, kEps);

    enemy f(at, {1, 0, 0}, 0);
    Finish farOff(bearing(at, -40, 3), {0, 1, 0});
    f.setTarget(&farOff);
    f.step(16);
    EXPECT_NEAR(f.getHeading(), 185, kEps);
}

TEST_F(EnemyTest, TurnsByTwoAndAHalfUntilOnCourseThenBack) {
    const Vector3 at(10, 15, 5);
    enemy e(at, {1, 0, 0}, 0);
    Finish offCourse(bearing(at, 10, 3), {0, 1, 0});
    e.setTarget(&offCourse);
    e.step(16);
    EXPECT_NEAR(e.getHeading(), 182.5, kEps);

    // Always in the positive sense: a target on the other side is also 10 degrees off.
    enemy f(at, {1, 0, 0}, 0);
    Finish otherSide(bearing(at, -10, 3), {0, 1, 0});
    f.setTarget(&otherSide);
    f.step(16);
    EXPECT_NEAR(f.getHeading(), 182.5, kEps);

    enemy g(at, {1, 0, 0}, 0);
    Finish ahead(bearing(at, 1, 3), {0, 1, 0});
    g.setTarget(&ahead);
    g.step(16);
    EXPECT_NEAR(g.getHeading(), 177.5, kEps);
}

TEST_F(EnemyTest, AtRestOnAFreeCourseFirstLiftsOffThenAccelerates) {
    const Vector3 at(10, 15, 5);
    enemy e(at, {1, 0, 0}, 0);
    Finish ahead(at + Vector3(5, 0, 0), {0, 1, 0});
    e.setTarget(&ahead);
    EXPECT_TRUE(e.step(16));
    EXPECT_EQ(e.netSpeed(), 0.0);
    EXPECT_GT(e.netLift(), 0.0);
    EXPECT_TRUE(e.step(16));
    EXPECT_NEAR(e.netSpeed(), 0.05, kEps);
}

TEST_F(EnemyTest, DescendsTowardsALowerTarget) {
    const Vector3 at(10, 15, 5);
    enemy e(at, {1, 0, 0}, 0);
    Finish below(at + Vector3(5, -3, 0), {0, 1, 0});
    e.setTarget(&below);
    e.accelerate();
    e.step(16);
    EXPECT_LT(e.netLift(), 0.0);
}

TEST_F(EnemyTest, BlockedByTheTerrainLiftsAndStopsWhenStillBlocked) {
    // Short of the slope, heading into it at full speed.
    const Vector3 at(10, 12, 17.5);
    enemy e(at, {0, 0, 1}, 0);
    for (int i = 0; i < 40; ++i) e.accelerate();
    Finish beyond(at + Vector3(0, 0, 10), {0, 1, 0});
    e.setTarget(&beyond);
    EXPECT_TRUE(e.step(1000));
    EXPECT_EQ(e.netSpeed(), 0.0);
    EXPECT_GT(e.netLift(), 0.0);
}

// --- Targets ---

TEST_F(EnemyTest, CarryingNothingAlwaysLooksForABall) {
    enemy e({10, 15, 5}, {1, 0, 0}, 0);
    Finish finish({20, 10, 5}, {0, 1, 0});
    ball b({30, 10, 5}, {0, -1, 0}, 1, &lying);
    std::deque<mrObject*> candidates{&b, &finish};
    for (unsigned seed = 1; seed < 20; ++seed) {
        std::srand(seed);
        e.chooseTarget(&candidates);
        EXPECT_EQ(e.getTarget(), &b);
    }
}

TEST_F(EnemyTest, CarryingSevenOrMoreAlwaysLooksForABall) {
    enemy e({10, 15, 5}, {1, 0, 0}, 0);
    std::vector<std::unique_ptr<ball>> chain;
    for (int i = 0; i < 7; ++i) {
        chain.push_back(std::make_unique<ball>(Vector3(1, 1, 1), Vector3(0, -1, 0), 1, &lying));
        e.take(chain.back().get());
    }
    Finish finish({20, 10, 5}, {0, 1, 0});
    ball b({30, 10, 5}, {0, -1, 0}, 1, &lying);
    std::deque<mrObject*> candidates{&b, &finish};
    for (unsigned seed = 1; seed < 20; ++seed) {
        std::srand(seed);
        e.chooseTarget(&candidates);
        EXPECT_EQ(e.getTarget(), &b);
    }
}

TEST_F(EnemyTest, CarryingSomeSometimesHeadsForAFinish) {
    enemy e({10, 15, 5}, {1, 0, 0}, 0);
    ball carried({1, 1, 1}, {0, -1, 0}, 1, &lying);
    e.take(&carried);
    Finish finish({20, 10, 5}, {0, 1, 0});
    ball b({30, 10, 5}, {0, -1, 0}, 1, &lying);
    std::deque<mrObject*> candidates{&b, &finish};
    int finishes = 0;
    std::srand(7);
    for (int i = 0; i < 300; ++i) {
        e.chooseTarget(&candidates);
        if (e.getTarget() == &finish) ++finishes;
    }
    // Two in three for one carried ball.
    EXPECT_GT(finishes, 150);
    EXPECT_LT(finishes, 250);
}

TEST_F(EnemyTest, CarryingTenOrMoreOrFindingNoFreeBallHeadsForAFinish) {
    enemy e({10, 15, 5}, {1, 0, 0}, 0);
    Finish finish({20, 10, 5}, {0, 1, 0});
    std::deque<mrObject*> onlyFinishes{&finish};
    e.chooseTarget(&onlyFinishes);  // carrying nothing, it wants a ball
    EXPECT_EQ(e.getTarget(), nullptr);
    EXPECT_FALSE(e.step(16));

    ball b({30, 10, 5}, {0, -1, 0}, 1, &lying);
    std::deque<mrObject*> candidates{&b, &finish};
    std::vector<std::unique_ptr<ball>> chain;
    for (int i = 0; i < 12; ++i) {
        chain.push_back(std::make_unique<ball>(Vector3(1, 1, 1), Vector3(0, -1, 0), 1, &lying));
        e.take(chain.back().get());
        e.chooseTarget(&onlyFinishes);
        EXPECT_EQ(e.getTarget(), &finish);
        if (e.carriedCount() < 10) continue;
        for (unsigned seed = 1; seed < 20; ++seed) {
            std::srand(seed);
            e.chooseTarget(&candidates);
            EXPECT_EQ(e.getTarget(), &finish);
        }
    }
}

TEST_F(EnemyTest, OnTakenForgetsOnlyTheTarget) {
    enemy e({10, 15, 5}, {1, 0, 0}, 0);
    ball target({30, 10, 5}, {0, -1, 0}, 1, &lying);
    ball other({31, 10, 5}, {0, -1, 0}, 1, &lying);
    e.setTarget(&target);
    e.onTaken(&other);
    EXPECT_EQ(e.getTarget(), &target);
    e.take(&target);  // taking the target tells the enemy through onTaken
    EXPECT_EQ(e.getTarget(), nullptr);
}
