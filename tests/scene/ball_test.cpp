#include "scene/ball.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "scene/bullet.h"
#include "scene/finish.h"
#include "scene/submarine.h"

using tide::ball;
using tide::collisionTransporter;
using tide::Finish;
using tide::rObject;
using tide::submarine;

namespace {

void expectColour(ball& b, double r, double g, double bl) {
    auto* sphere = static_cast<rObject*>(b.childAt(0));
    ASSERT_NE(sphere, nullptr);
    EXPECT_NEAR(sphere->colour[0], r, 1e-12);
    EXPECT_NEAR(sphere->colour[1], g, 1e-12);
    EXPECT_NEAR(sphere->colour[2], bl, 1e-12);
    EXPECT_EQ(sphere->colour[3], 1.0);
}

collisionTransporter recordOf(tide::mrObject& o, int id = 0) {
    return collisionTransporter(o.getPosition(), Vector3(0.01, 0, 0), o.getRadius(), id, &o);
}

// A vessel's touch as the update step delivers it: the vessel answers first.
void pickUp(submarine& vessel, ball& b) {
    vessel.collide(recordOf(vessel), recordOf(b));
    b.collide(recordOf(b), recordOf(vessel));
}

}  // namespace

TEST(Ball, ValueIsItsColourSixteenRedsPlusGreen) {
    std::deque<ball*> world;
    ball yellow({0, 0, 0}, {0, -1, 0}, 255, &world);
    ball faintRed({0, 0, 0}, {0, -1, 0}, 16, &world);
    ball green({0, 0, 0}, {0, -1, 0}, 15, &world);
    ball black({0, 0, 0}, {0, -1, 0}, 0, &world);
    expectColour(yellow, 1, 1, 0);
    expectColour(faintRed, 1.0 / 15, 0, 0);
    expectColour(green, 0, 1, 0);
    expectColour(black, 0, 0, 0);
}

TEST(Ball, StartsFreeAtHomeWithKindFourAndRadius) {
    std::deque<ball*> world;
    ball b({3, 2, 5}, {0, -1, 0}, 7, &world);
    EXPECT_TRUE(b.getHome().equals(3, 2, 5));
    EXPECT_TRUE(b.getPosition().equals(3, 2, 5));
    EXPECT_EQ(b.getKind(), tide::kKindBall);
    EXPECT_FALSE(b.isAttached());
    EXPECT_EQ(b.getRadius(), 0.075);
    EXPECT_EQ(b.getValue(), 7);
    EXPECT_EQ(b.netSpeed(), 0.0);
    EXPECT_TRUE(b.displacement(1000).equals(0, 0, 0));
}

TEST(Ball, ReturnHomeGoesBackToTheEndOfTheWorldList) {
    std::deque<ball*> world;
    submarine carrier({10, 5, 10}, {1, 0, 0}, 0.1);
    auto first = std::make_unique<ball>(Vector3(1, 1, 1), Vector3(0, -1, 0), 1, &world);
    auto second = std::make_unique<ball>(Vector3(2, 1, 1), Vector3(0, -1, 0), 2, &world);
    auto third = std::make_unique<ball>(Vector3(3, 2, 5), Vector3(0, -1, 0), 3, &world);
    ball lying({9, 9, 9}, {0, -1, 0}, 4, &world);
    world.push_back(&lying);
    for (ball* b : {first.get(), second.get(), third.get()}) carrier.take(b);
    EXPECT_EQ(third->getIndex(), 2);
    EXPECT_TRUE(third->getPosition().equals(0, 0, 0));

    third->returnHome();
    EXPECT_TRUE(third->getPosition().equals(3, 2, 5));
    EXPECT_EQ(third->getIndex(), 1);
    ASSERT_EQ(world.size(), 2u);
    EXPECT_EQ(world.back(), third.get());
    EXPECT_FALSE(third->isAttached());
}

// --- Collision responses ---

TEST(Ball, TouchedByAVesselLeavesTheWorldOnce) {
    std::deque<ball*> world;
    ball b({1, 1, 1}, {0, -1, 0}, 9, &world);
    submarine vessel({1, 1, 1.1}, {1, 0, 0}, 0.1);
    const collisionTransporter own = recordOf(b, 3);
    const collisionTransporter result = b.collide(own, recordOf(vessel));
    EXPECT_EQ(result.owner, nullptr);
    EXPECT_EQ(result.id, 3);
    EXPECT_TRUE(b.isAttached());
    // Already attached: a second vessel's touch changes nothing.
    EXPECT_EQ(b.collide(own, recordOf(vessel)).owner, &b);
}

TEST(Ball, TouchingAFinishHandsBackItsOwnRecord) {
    std::deque<ball*> world;
    ball b({1, 1, 1}, {0, -1, 0}, 9, &world);
    Finish f({1, 1, 1}, {0, 1, 0});
    const collisionTransporter result = b.collide(recordOf(b, 5), recordOf(f));
    EXPECT_EQ(result.owner, &b);
    EXPECT_EQ(result.id, 5);
    EXPECT_TRUE(result.motion.equals(0.01, 0, 0));
}

TEST(Ball, TouchingAnotherBallGivesTheEmptyRecord) {
    std::deque<ball*> world;
    ball a({1, 1, 1}, {0, -1, 0}, 9, &world);
    ball b({1, 1, 1}, {0, -1, 0}, 9, &world);
    const collisionTransporter result = a.collide(recordOf(a), recordOf(b));
    EXPECT_TRUE(result.position.equals(0, 0, 0));
    EXPECT_TRUE(result.motion.equals(0, 0, 0));
    EXPECT_FALSE(a.isAttached());
}

TEST(Ball, ShotInAChainSendsItAndAllBehindItHome) {
    std::deque<ball*> world;
    submarine carrier({10, 5, 10}, {1, 0, 0}, 0.1);
    ball front({1, 1, 1}, {0, -1, 0}, 1, &world);
    ball middle({2, 1, 1}, {0, -1, 0}, 2, &world);
    ball back({3, 1, 1}, {0, -1, 0}, 3, &world);
    for (ball* b : {&front, &middle, &back}) pickUp(carrier, *b);
    ASSERT_TRUE(middle.isAttached());
    tide::bullet shot({2, 1, 1}, {1, 0, 0}, 0.01);

    const collisionTransporter result = middle.collide(recordOf(middle, 8), recordOf(shot));
    EXPECT_EQ(carrier.carriedCount(), 1);
    ASSERT_EQ(world.size(), 2u);
    EXPECT_EQ(world[0], &middle);
    EXPECT_EQ(world[1], &back);
    EXPECT_TRUE(result.position.equals(2, 1, 1));
    EXPECT_EQ(result.id, 0);
}

TEST(Finish, IsAYellowCubeOfKindFive) {
    Finish f({4, 3, 2}, {0, 1, 0});
    EXPECT_EQ(f.getKind(), tide::kKindFinish);
    EXPECT_EQ(f.getRadius(), 0.3);
    auto* cube = static_cast<rObject*>(f.childAt(0));
    ASSERT_NE(cube, nullptr);
    EXPECT_EQ(cube->colour[0], 1.0);
    EXPECT_EQ(cube->colour[1], 1.0);
    EXPECT_EQ(cube->colour[2], 0.0);
    EXPECT_EQ(cube->innerScale[0], 0.3);
}

TEST(Finish, AnswersVesselsBallsAndBulletsWithItsOwnRecord) {
    std::deque<ball*> world;
    Finish f({4, 3, 2}, {0, 1, 0});
    submarine vessel({4, 3, 2.2}, {1, 0, 0}, 0.1);
    ball b({4, 3, 2.2}, {0, -1, 0}, 1, &world);
    tide::bullet shot({4, 3, 2.2}, {1, 0, 0}, 0.01);
    const collisionTransporter own = recordOf(f, 2);
    for (tide::mrObject* other : std::initializer_list<tide::mrObject*>{&vessel, &b, &shot}) {
        const collisionTransporter result = f.collide(own, recordOf(*other));
        EXPECT_EQ(result.owner, &f);
        EXPECT_EQ(result.id, 2);
        EXPECT_TRUE(result.position.equals(4, 3, 2));
        EXPECT_TRUE(result.motion.equals(0.01, 0, 0));
    }
}
