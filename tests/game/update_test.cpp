#include "game/update.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "game/frame_clock.h"
#include "game/state.h"
#include "scene/ball.h"
#include "scene/bullet.h"
#include "scene/enemy.h"
#include "scene/finish.h"
#include "scene/viewpoint.h"
#include "support/test_world.h"

using tide::ball;
using tide::collisionTransporter;
using tide::enemy;
using tide::Finish;
using tide::Viewpoint;

namespace {

constexpr double kEps = 1e-9;

void expectVector(const Vector3& v, double x, double y, double z, double eps = kEps) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

// A ball that notes the record id it is handed in each collision.
class WatchedBall : public ball {
public:
    using ball::ball;
    collisionTransporter collide(collisionTransporter own, collisionTransporter other) override {
        seenIds.push_back(own.id);
        return ball::collide(own, other);
    }
    std::vector<int> seenIds;
};

// A finish cube that counts its contacts.
class CountedFinish : public Finish {
public:
    using Finish::Finish;
    collisionTransporter collide(collisionTransporter own, collisionTransporter other) override {
        ++touches;
        return Finish::collide(own, other);
    }
    int touches = 0;
};

// A finish cube that, whenever touched, puts its record just ahead of the
// toucher again: without a bound on the events this frame would never end.
class Ambush : public Finish {
public:
    using Finish::Finish;
    collisionTransporter collide(collisionTransporter own, collisionTransporter other) override {
        ++touches;
        own.position = other.position + other.motion * 1e-3 + other.motion.normalized() * (own.radius + other.radius);
        return own;
    }
    int touches = 0;
};

// A bullet under way (nothing in the game fires one).
class FlyingBullet : public tide::bullet {
public:
    FlyingBullet(Vector3 position, Vector3 direction) : bullet(position, direction, 0.02) { forwardSpeed = 3.0; }
};

// An 80 x 40 world with a flat floor at height 10 and the player at (10, 15, 10)
// facing +x at rest. Objects a test adds to the queues belong to the test.
class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPlayer = player;
        vessel = std::make_unique<Viewpoint>(Vector3(10, 15, 10), Vector3(1, 0, 0), 0.1);
        player = vessel.get();
    }
    void TearDown() override {
        player = savedPlayer;
        enemies.clear();
        balls.clear();
        finishes.clear();
        bullets.clear();
    }

    // Net speed 1 unit per second: one unit per 1000 ms frame.
    static void cruise(tide::mrObject& o) {
        for (int i = 0; i < 20; ++i) o.accelerate();
    }

    template <typename T, typename... Args>
    T* make(Args&&... args) {
        auto object = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = object.get();
        owned.push_back(std::move(object));
        return raw;
    }

    ball* addBall(Vector3 at, int value = 1) {
        ball* b = make<ball>(at, Vector3(0, -1, 0), value, &balls);
        balls.push_back(b);
        return b;
    }

    testworld::InstalledTerrain world{testworld::flatDepth(64, 32, 8), 64, 32};
    std::unique_ptr<Viewpoint> vessel;
    std::vector<std::unique_ptr<tide::mrObject>> owned;
    Viewpoint* savedPlayer = nullptr;
};

}  // namespace

TEST_F(UpdateTest, PlayerAloneMovesByItsWholeDisplacement) {
    cruise(*vessel);
    stepWorld(500);
    expectVector(vessel->getPosition(), 10.5, 15, 10);
    EXPECT_NEAR(vessel->netSpeed(), 1.0, kEps);
    EXPECT_TRUE(collisionRecords.empty());
    EXPECT_TRUE(exactCollisions.empty());
    EXPECT_EQ(vessel->getTransporter(), nullptr);
}

TEST_F(UpdateTest, ZeroFrameTimeMovesNothing) {
    cruise(*vessel);
    addBall({12, 11, 10});
    stepWorld(0);
    expectVector(vessel->getPosition(), 10, 15, 10);
    EXPECT_EQ(balls.size(), 1u);
}

TEST_F(UpdateTest, TheWorldMovesInStepsOfTenToAHundredMilliseconds) {
    EXPECT_EQ(worldStepMs(0), 0u);
    EXPECT_EQ(worldStepMs(9), 0u);
    EXPECT_EQ(worldStepMs(10), 10u);
    EXPECT_EQ(worldStepMs(57), 57u);
    EXPECT_EQ(worldStepMs(100), 100u);
    EXPECT_EQ(worldStepMs(86400000), 100u);
    // After a long stall the idle call moves the world by 100 ms only.
    cruise(*vessel);
    currentTick = frameClockMs() - 5000;
    idle();
    expectVector(vessel->getPosition(), 10.1, 15, 10);
}

// --- Terrain and walls ---

TEST_F(UpdateTest, VesselThatRunsIntoAWallStopsThereAndHovers) {
    vessel->setPositionTo({79.5, 15, 10});
    cruise(*vessel);
    vessel->ascend();
    stepWorld(1000);
    EXPECT_NEAR(vessel->getPosition().x, 80 - 0.1, 1e-9);
    EXPECT_EQ(vessel->netSpeed(), 0.0);
    EXPECT_EQ(vessel->netLift(), 0.0);
}

TEST_F(UpdateTest, VesselThatSinksOntoTheFloorStopsOneRadiusAboveIt) {
    vessel->setPositionTo({10, 10.5, 10});
    vessel->descend();
    vessel->descend();
    stepWorld(5000);
    EXPECT_NEAR(vessel->getPosition().y, 10.1, 1e-9);
    EXPECT_EQ(vessel->netLift(), 0.0);
}

TEST_F(UpdateTest, BulletThatHitsAWallIsRemovedAndDeleted) {
    bullets.push_back(new FlyingBullet({79.9, 15, 20}, {1, 0, 0}));
    stepWorld(100);
    EXPECT_TRUE(bullets.empty());
}

// --- Taking and delivering ---

TEST_F(UpdateTest, PickUpRenumbersTheRemainingBallsInTheSameFrame) {
    cruise(*vessel);
    ball* first = addBall({10.3, 15, 10});
    addBall({30, 15, 30});
    auto* watched = make<WatchedBall>(Vector3(20.8, 15, 10), Vector3(0, -1, 0), 3, &balls);
    balls.push_back(watched);
    enemy* rival = make<enemy>(Vector3(20, 15, 10), Vector3(1, 0, 0), 0);
    cruise(*rival);
    enemies.push_back(rival);

    stepWorld(1000);
    // The player took the first ball at a quarter of the frame; by the time
    // the rival reached the third one, it was second in the list.
    EXPECT_EQ(vessel->carriedCount(), 1);
    EXPECT_TRUE(first->isAttached());
    EXPECT_EQ(rival->carriedCount(), 1);
    ASSERT_EQ(watched->seenIds.size(), 1u);
    EXPECT_EQ(watched->seenIds[0], 1);
    EXPECT_EQ(balls.size(), 1u);
}

TEST_F(UpdateTest, TouchingAFinishDeliversTheChain) {
    Finish* finish = make<Finish>(Vector3(11, 15, 10), Vector3(0, 1, 0));
    finishes.push_back(finish);
    ball* a = make<ball>(Vector3(5, 11, 5), Vector3(0, -1, 0), 255, &balls);
    ball* b = make<ball>(Vector3(6, 11, 5), Vector3(0, -1, 0), 16, &balls);
    vessel->take(a);
    vessel->take(b);
    cruise(*vessel);

    stepWorld(1000);
    EXPECT_EQ(vessel->getScore(), 271);
    EXPECT_EQ(vessel->carriedCount(), 0);
    ASSERT_EQ(balls.size(), 2u);
    EXPECT_EQ(balls[0], a);
    EXPECT_EQ(balls[1], b);
    // The vessel went on through the cube.
    expectVector(vessel->getPosition(), 11, 15, 10);
}

TEST_F(UpdateTest, DeliveryThenPickUpInOneFrameLeavesTheDeliveredBallWithoutRecord) {
    cruise(*vessel);
    ball* taken = addBall({10.3, 15, 10}, 5);
    ball* other = addBall({40, 15, 30}, 6);
    stepWorld(1000);  // takes the first ball; its record is gone with the frame
    ASSERT_EQ(vessel->carriedCount(), 1);
    ASSERT_EQ(taken->getTransporter(), nullptr);

    // Half a frame: the delivery at 11.2 and the pick-up at 11.35, but not yet
    // the moment at 12 where the vessel leaves the cube (which delivers again).
    finishes.push_back(make<Finish>(Vector3(11.6, 15, 10), Vector3(0, 1, 0)));
    ball* next = addBall({11.525, 15, 10}, 7);
    stepWorld(500);
    EXPECT_EQ(vessel->getScore(), 5);
    EXPECT_EQ(vessel->carriedCount(), 1);
    EXPECT_TRUE(next->isAttached());
    ASSERT_EQ(balls.size(), 2u);
    EXPECT_EQ(balls[0], other);
    EXPECT_EQ(balls[1], taken);
    EXPECT_EQ(taken->getTransporter(), nullptr);
    EXPECT_EQ(other->getTransporter(), nullptr);
}

TEST_F(UpdateTest, TakingTheLastBallKeepsTheRestOfTheMotion) {
    cruise(*vessel);
    addBall({10.3, 15, 10});
    stepWorld(1000);
    EXPECT_EQ(vessel->carriedCount(), 1);
    expectVector(vessel->getPosition(), 11, 15, 10);
}

TEST_F(UpdateTest, ManyContactsInOneFrameAreAllResolved) {
    cruise(*vessel);
    for (int i = 0; i < 40; ++i) cruise(*vessel);  // as fast as it goes: 2 units per second
    std::vector<ball*> row;
    for (int i = 0; i < 30; ++i) row.push_back(addBall({10.2 + 0.05 * i, 15, 10}));
    stepWorld(1000);
    EXPECT_EQ(vessel->carriedCount(), 30);
    EXPECT_TRUE(balls.empty());
}

TEST_F(UpdateTest, AContactThatNeverSettlesEndsTheFrameAfterABoundedNumberOfEvents) {
    cruise(*vessel);
    auto* ambush = make<Ambush>(Vector3(10.5, 15, 10), Vector3(0, 1, 0));
    finishes.push_back(ambush);
    stepWorld(1000);
    // Two records: at most 8 per record plus 16; then the rest of the motion.
    EXPECT_GT(ambush->touches, 1);
    EXPECT_LE(ambush->touches, 32);
    EXPECT_TRUE(collisionRecords.empty());
    EXPECT_TRUE(exactCollisions.empty());
    expectVector(vessel->getPosition(), 11, 15, 10);
}

TEST_F(UpdateTest, TangentContactsRunEachResponseOnceAndKeepTheMotion) {
    // The player's path touches the finish (reach 0.4) at a quarter of the
    // frame and the rival's path (reach 0.5) at half of it, both tangentially.
    cruise(*vessel);
    auto* finish = make<CountedFinish>(Vector3(10.25, 15.4, 10), Vector3(0, 1, 0));
    finishes.push_back(finish);
    enemy* rival = make<enemy>(Vector3(10.5, 14.5 + 1e-9, 9.5), Vector3(0, 0, 1), 0);
    cruise(*rival);
    enemies.push_back(rival);

    stepWorld(1000);
    EXPECT_EQ(finish->touches, 1);
    // Turned once onto the rival's line of travel, a quarter turn.
    EXPECT_NEAR(std::fabs(vessel->getDirection().z), 1.0, 1e-9);
    expectVector(vessel->getPosition(), 11, 15, 10);
    expectVector(rival->getPosition(), 10.5, 14.5 + 1e-9, 10.5);
}

// --- Enemies ---

TEST_F(UpdateTest, EnemiesWithoutTargetGetTheFirstLyingBall) {
    enemy* rival = make<enemy>(Vector3(40, 15, 20), Vector3(1, 0, 0), 0);
    enemies.push_back(rival);
    Finish* finish = make<Finish>(Vector3(60, 11, 20), Vector3(0, 1, 0));
    finishes.push_back(finish);
    ball* lying = addBall({50, 11, 20});
    stepWorld(16);
    EXPECT_EQ(rival->getTarget(), lying);
    EXPECT_TRUE(idleEnemies.empty());
    EXPECT_TRUE(enemyTargets.empty());
}
