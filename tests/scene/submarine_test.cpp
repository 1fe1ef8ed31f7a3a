#include "scene/submarine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <vector>

#include "scene/ball.h"
#include "scene/bullet.h"
#include "scene/finish.h"
#include "support/gl_context.h"

using tide::ball;
using tide::collisionTransporter;
using tide::submarine;

namespace {

constexpr double kEps = 1e-9;
const double kSin25 = std::sin(2.5 * kDegreesToRadians);
const double kCos25 = std::cos(2.5 * kDegreesToRadians);

void expectVector(const Vector3& v, double x, double y, double z, double eps = kEps) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

bool isNumber(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

collisionTransporter recordOf(tide::mrObject& o, Vector3 motion) {
    return collisionTransporter(o.getPosition(), motion, o.getRadius(), 0, &o);
}

// Balls that a test hands to a vessel; the world list they go home to.
struct Chain {
    std::deque<ball*> world;
    std::vector<std::unique_ptr<ball>> owned;

    ball* make(int value, Vector3 home) {
        owned.push_back(std::make_unique<ball>(home, Vector3(0, -1, 0), value, &world));
        return owned.back().get();
    }
};

}  // namespace

// --- Movement with a vessel's limits ---

TEST(Submarine, StartsAtRestWithNoScoreAndAnEmptyChain) {
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    EXPECT_EQ(s.getKind(), tide::kKindSubmarine);
    EXPECT_EQ(s.netSpeed(), 0.0);
    EXPECT_EQ(s.netLift(), 0.0);
    EXPECT_TRUE(s.displacement(1000).equals(0, 0, 0));
    EXPECT_EQ(s.getScore(), 0);
    EXPECT_EQ(s.carriedCount(), 0);
    s.firstCarried();
    EXPECT_EQ(s.nextCarried(), nullptr);
}

TEST(Submarine, SpeedStaysBetweenMinusOneAndTwo) {
    submarine s({1, 6, 10}, {0, 0, -1}, 0.1);
    for (int i = 0; i < 20; ++i) s.accelerate();
    EXPECT_NEAR(s.netSpeed(), 1.0, kEps);
    // Raised while below 2, so it ends at most one step above.
    for (int i = 0; i < 100; ++i) s.accelerate();
    EXPECT_GE(s.netSpeed(), 2.0 - kEps);
    EXPECT_LE(s.netSpeed(), 2.05 + kEps);
    expectVector(s.displacement(500), 0, 0, -s.netSpeed() / 2);
    for (int i = 0; i < 200; ++i) s.decelerate();
    EXPECT_LE(s.netSpeed(), -1.0 + kEps);
    EXPECT_GE(s.netSpeed(), -1.05 - kEps);
}

TEST(Submarine, AscendAtTheUpperBoundOnlyPitchesBackAndForth) {
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    for (int i = 0; i < 100; ++i) s.ascend();
    const double lift = s.netLift();
    EXPECT_NEAR(lift, 2 * 0.7, 1e-6);  // each tank one step past 4.905 + 2/3
    s.ascend();
    EXPECT_EQ(s.netLift(), lift);
    expectVector(s.getDirection(), 1, 0, 0);
}

TEST(Submarine, TurnLeftFromHeadingNinetyTurnsTheDirection) {
    submarine s({1, 6, 10}, {0, 0, 1}, 0.1);
    EXPECT_DOUBLE_EQ(s.getHeading(), 90);
    s.turnLeft();
    EXPECT_DOUBLE_EQ(s.getHeading(), 92.5);
    expectVector(s.getDirection(), kSin25, 0, kCos25);
}

// --- The chain ---

TEST(Submarine, TakeAppendsToTheChainAndTellsTheBallItsPlace) {
    Chain chain;
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    ball* a = chain.make(1, {2, 2, 2});
    ball* b = chain.make(2, {3, 3, 3});
    s.take(a);
    s.take(b);
    EXPECT_EQ(s.carriedCount(), 2);
    EXPECT_EQ(b->getIndex(), 1);
    EXPECT_EQ(b->getCarrier(), &s);
    EXPECT_TRUE(b->getPosition().equals(0, 0, 0));
    s.firstCarried();
    EXPECT_EQ(s.nextCarried(), a);
    // A take during the walk: the walk goes on and reaches the new ball too.
    ball* c = chain.make(3, {4, 4, 4});
    s.take(c);
    EXPECT_EQ(s.nextCarried(), b);
    EXPECT_EQ(s.nextCarried(), c);
    EXPECT_EQ(s.nextCarried(), nullptr);
}

TEST(Submarine, DropFromBreaksTheChainThereAndNegativeDoesNothing) {
    Chain chain;
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    for (int v = 1; v <= 4; ++v) s.take(chain.make(v, {1.0 * v, 1, 1}));
    s.dropFrom(-1);
    EXPECT_EQ(s.carriedCount(), 4);
    s.dropFrom(2);
    EXPECT_EQ(s.carriedCount(), 2);
    ASSERT_EQ(chain.world.size(), 2u);
    EXPECT_EQ(chain.world[0]->getValue(), 3);
    EXPECT_EQ(chain.world[1]->getValue(), 4);
    s.dropFrom(7);
    EXPECT_EQ(s.carriedCount(), 2);
}

// --- Collision responses ---

TEST(Submarine, TouchingAFreeBallTakesItOnce) {
    Chain chain;
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    ball* b = chain.make(5, {1.1, 6, 10});
    const collisionTransporter own = recordOf(s, {0.02, 0, 0});
    const collisionTransporter result = s.collide(own, recordOf(*b, {0, 0, 0}));
    EXPECT_EQ(result.owner, &s);
    EXPECT_TRUE(result.motion.equals(0.02, 0, 0));
    EXPECT_EQ(s.carriedCount(), 1);
    // The ball's own response marks it attached; another touch takes nothing.
    b->collide(recordOf(*b, {0, 0, 0}), own);
    s.collide(own, recordOf(*b, {0, 0, 0}));
    EXPECT_EQ(s.carriedCount(), 1);
}

TEST(Submarine, DeliveringAtAFinishScoresTheChainAndSendsItHomeInOrder) {
    Chain chain;
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    tide::Finish finish({1.3, 6, 10}, {0, 1, 0});
    ball* a = chain.make(255, {5, 1, 5});
    ball* b = chain.make(16, {6, 1, 6});
    ball* c = chain.make(1, {7, 1, 7});
    for (ball* x : {a, b, c}) s.take(x);

    const collisionTransporter result = s.collide(recordOf(s, {0.01, 0, 0}), recordOf(finish, {0, 0, 0}));
    EXPECT_EQ(result.owner, &s);
    EXPECT_EQ(s.getScore(), 272);
    EXPECT_EQ(s.carriedCount(), 0);
    ASSERT_EQ(chain.world.size(), 3u);
    EXPECT_EQ(chain.world[0], a);
    EXPECT_EQ(chain.world[1], b);
    EXPECT_EQ(chain.world[2], c);
    EXPECT_TRUE(c->getPosition().equals(7, 1, 7));
    EXPECT_EQ(c->getIndex(), 2);

    // Delivering again with nothing carried adds nothing.
    s.collide(recordOf(s, {0.01, 0, 0}), recordOf(finish, {0, 0, 0}));
    EXPECT_EQ(s.getScore(), 272);
}

TEST(Submarine, ABulletHitLosesTheLastBallOnly) {
    Chain chain;
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    tide::bullet shot({1.1, 6, 10}, {-1, 0, 0}, 0.01);
    const collisionTransporter own = recordOf(s, {0.01, 0, 0});

    EXPECT_EQ(s.collide(own, recordOf(shot, {-0.1, 0, 0})).owner, &s);
    EXPECT_EQ(s.carriedCount(), 0);

    ball* first = chain.make(1, {2, 1, 2});
    ball* last = chain.make(2, {3, 1, 3});
    s.take(first);
    s.take(last);
    const collisionTransporter result = s.collide(own, recordOf(shot, {-0.1, 0, 0}));
    EXPECT_TRUE(result.motion.equals(0.01, 0, 0));
    EXPECT_EQ(s.carriedCount(), 1);
    ASSERT_EQ(chain.world.size(), 1u);
    EXPECT_EQ(chain.world[0], last);
    EXPECT_EQ(s.getScore(), 0);
}

TEST(Submarine, TouchingAnotherVesselTurnsOntoItsLineOfTravel) {
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    submarine other({1.2, 6, 10}, {0, 0, 1}, 0.1);
    // Own travel along +x, the other's along -z: a quarter turn in the positive sense.
    s.collide(recordOf(s, {0.1, 0, 0}), recordOf(other, {0, 0, -0.1}));
    expectVector(s.getDirection(), 0, 0, -1);
    EXPECT_NEAR(s.getHeading(), 270, kEps);

    // Along +z the positive quarter turn would miss, so the turn is negative.
    submarine t({1, 6, 10}, {1, 0, 0}, 0.1);
    t.collide(recordOf(t, {0.1, 0, 0}), recordOf(other, {0, 0, 0.1}));
    expectVector(t.getDirection(), 0, 0, 1);
    EXPECT_NEAR(t.getHeading(), 90, kEps);
}

TEST(Submarine, TouchingWhileEitherIsAtRestDoesNotTurn) {
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    submarine other({1.2, 6, 10}, {0, 0, 1}, 0.1);
    s.collide(recordOf(s, {0, 0, 0}), recordOf(other, {0, 0, 0.1}));
    s.collide(recordOf(s, {0.1, 0, 0}), recordOf(other, {0, 0, 0}));
    expectVector(s.getDirection(), 1, 0, 0);
    EXPECT_EQ(s.getHeading(), 180);
}

TEST(Submarine, TouchingAlongTheSameLineKeepsANumberDirection) {
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    submarine other({1.2, 6, 10}, {1, 0, 0}, 0.1);
    // Nearly parallel motions whose rounded cosine may exceed 1.
    s.collide(recordOf(s, {0.1, 0, 1e-9}), recordOf(other, {0.3, 0, 3e-9}));
    EXPECT_TRUE(isNumber(s.getDirection()));
    EXPECT_TRUE(std::isfinite(s.getHeading()));
    expectVector(s.getDirection(), 1, 0, 0, 1e-6);
}

// --- Drawing ---

TEST(Submarine, ScoreLabelIsRedAndEndsAtTheGivenPlace) {
    Chain chain;
    submarine s({1, 6, 10}, {1, 0, 0}, 0.1);
    tide::Finish finish({1.3, 6, 10}, {0, 1, 0});
    s.take(chain.make(255, {5, 1, 5}));
    s.collide(recordOf(s, {0.01, 0, 0}), recordOf(finish, {0, 0, 0}));

    testgl::resetState();
    testgl::setOrtho(0, 1.333333, 0, 1);  // the overlay: 480 pixels per unit
    s.drawScoreLabel(1.2833333, 0.025);   // "255" starts 2 x 0.03 units (28.8 px) left of 616 px
    const std::vector<testgl::Rgb> pixels = testgl::readPixels(540, 0, 100, 40);
    int minX = 640;
    int maxX = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 100; ++x) {
            const testgl::Rgb p = pixels[static_cast<std::size_t>(y * 100 + x)];
            if (p.r > 200 && p.g < 50 && p.b < 50) {
                minX = std::min(minX, 540 + x);
                maxX = std::max(maxX, 540 + x);
            }
        }
    }
    // Three glyphs of 8 pixels, 10 apart.
    EXPECT_GE(minX, 587);
    EXPECT_LE(minX, 589);
    EXPECT_GE(maxX, minX + 26);
    EXPECT_LE(maxX, minX + 28);
}
