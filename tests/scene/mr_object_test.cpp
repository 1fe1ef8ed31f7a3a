#include "scene/mr_object.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using tide::mrObject;

namespace {

constexpr double kEps = 1e-9;

// A vessel's movement limits, as a submarine has them.
class Vessel : public mrObject {
public:
    Vessel(Vector3 position, Vector3 direction) : mrObject(position, direction, 0.1) {
        maxSpeed = 2.0;
        kind = tide::kKindSubmarine;
    }
    double forward() const { return forwardSpeed; }
    double backward() const { return backwardSpeed; }
    double tankA() const { return buoyancyA; }
    double tankB() const { return buoyancyB; }
};

void expectVector(const Vector3& v, double x, double y, double z, double eps = kEps) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

// Where glRotated(heading, 0, 1, 0) sends the model's forward axis (-x).
Vector3 modelForward(double heading) {
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glRotated(heading, 0, 1, 0);
    double m[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, m);
    glPopMatrix();
    return {-m[0], -m[1], -m[2]};
}

}  // namespace

TEST(MrObject, HeadingTurnsTheModelOntoTheDirection) {
    const struct {
        Vector3 direction;
        double heading;
    } cases[] = {
        {{1, 0, 0}, 180}, {{0, 0, 1}, 90}, {{0, 0, -1}, 270}, {{-1, 0, 0}, 360},
        {{std::sqrt(0.5), 0, std::sqrt(0.5)}, 135},
    };
    for (const auto& c : cases) {
        mrObject o({0, 0, 0}, c.direction, 1);
        EXPECT_NEAR(o.getHeading(), c.heading, kEps);
        EXPECT_NEAR(o.innerRotation[0], c.heading, kEps);
        EXPECT_EQ(o.innerRotation[1], 0.0);
        EXPECT_EQ(o.innerRotation[2], 1.0);
        EXPECT_EQ(o.innerRotation[3], 0.0);
        const Vector3 forward = modelForward(o.getHeading());
        expectVector(forward, c.direction.x, c.direction.y, c.direction.z, 1e-6);
    }
}

TEST(MrObject, DegenerateDirectionsStillGiveANumberHeading) {
    EXPECT_EQ(mrObject({0, 0, 0}, {0, 0, 0}, 1).getHeading(), 270.0);
    EXPECT_NEAR(mrObject({0, 0, 0}, {2, 0, 0}, 1).getHeading(), 180.0, kEps);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isfinite(mrObject({0, 0, 0}, {nan, 0, 0}, 1).getHeading()));

    mrObject still({1, 2, 3}, {0, 0, 0}, 1);
    still.turnBy(30);
    still.pitch(30);
    expectVector(still.displacement(1000), 0, 0, 0);
    EXPECT_TRUE(std::isfinite(still.getHeading()));
}

TEST(MrObject, ConstructionPlacesTheObjectAtRest) {
    mrObject o({1, 6, 10}, {1, 0, 0}, 0.25);
    expectVector(o.getPosition(), 1, 6, 10);
    expectVector(o.getPreviousPosition(), 1, 6, 10);
    expectVector(o.getDirection(), 1, 0, 0);
    EXPECT_EQ(o.translation[0], 1.0);
    EXPECT_EQ(o.translation[1], 6.0);
    EXPECT_EQ(o.translation[2], 10.0);
    EXPECT_EQ(o.getRadius(), 0.25);
    EXPECT_EQ(o.netSpeed(), 0.0);
    EXPECT_EQ(o.netLift(), 0.0);
    EXPECT_EQ(o.getTransporter(), nullptr);
    expectVector(o.displacement(1000), 0, 0, 0);
}

TEST(MrObject, SpeedOperationsDoNothingWithoutMaxSpeed) {
    mrObject o({0, 0, 0}, {1, 0, 0}, 1);
    o.accelerate();
    o.decelerate();
    EXPECT_EQ(o.netSpeed(), 0.0);
}

TEST(MrObject, TwentyAccelerationsGiveNetSpeedOneAndMoreStopAtMaxSpeed) {
    Vessel v({0, 0, 0}, {1, 0, 0});
    for (int i = 0; i < 20; ++i) v.accelerate();
    EXPECT_NEAR(v.netSpeed(), 1.0, kEps);
    EXPECT_NEAR(v.forward(), 2.0, kEps);
    EXPECT_EQ(v.backward(), 1.0);
    for (int i = 0; i < 100; ++i) v.accelerate();
    EXPECT_GE(v.netSpeed(), 2.0 - kEps);
    EXPECT_LT(v.netSpeed(), 2.05 + kEps);
}

TEST(MrObject, DecelerationFromRestReversesDownToMinusOne) {
    Vessel v({0, 0, 0}, {1, 0, 0});
    v.decelerate();
    EXPECT_EQ(v.forward(), 1.0);
    EXPECT_NEAR(v.backward(), 1.05, kEps);
    for (int i = 0; i < 100; ++i) v.decelerate();
    EXPECT_LE(v.netSpeed(), -1.0 + kEps);
    EXPECT_GT(v.netSpeed(), -1.05 - kEps);

    // Accelerating while moving backward takes speed off the backward part.
    const double backward = v.backward();
    v.accelerate();
    EXPECT_NEAR(v.backward(), backward - 0.05, kEps);
    EXPECT_EQ(v.forward(), 1.0);
}

TEST(MrObject, DisplacementMovesAlongTheDirectionAndTheLiftWithoutMoving) {
    Vessel v({1, 2, 3}, {0, 0, -1});
    while (v.netSpeed() < 2.0 - kEps) v.accelerate();
    v.moveBy({1, 0, 0});
    expectVector(v.displacement(500), 0, 0, -1, 1e-6);
    expectVector(v.getPreviousPosition(), 2, 2, 3);
    expectVector(v.getPosition(), 2, 2, 3);

    Vessel sinking({0, 0, 0}, {0, 0, -1});
    sinking.descend();
    expectVector(sinking.displacement(1000), 0, -0.1, 0, 1e-12);
}

TEST(MrObject, TurnsRotateDirectionAndHeadingTogether) {
    mrObject o({0, 0, 0}, {0, 0, 1}, 1);
    o.turnLeft();
    EXPECT_NEAR(o.getHeading(), 92.5, kEps);
    EXPECT_NEAR(o.innerRotation[0], 92.5, kEps);
    const double a = 2.5 * kDegreesToRadians;
    expectVector(o.getDirection(), std::sin(a), 0, std::cos(a));
    expectVector(modelForward(o.getHeading()), std::sin(a), 0, std::cos(a), 1e-6);

    o.turnBy(-40);
    o.turnRight();
    EXPECT_NEAR(o.getHeading(), 50, kEps);
    expectVector(modelForward(o.getHeading()), o.getDirection().x, 0, o.getDirection().z, 1e-6);
}

TEST(MrObject, PitchTurnsTheDirectionAboutTheWorldXAxisOnly) {
    mrObject o({0, 0, 0}, {0, 0, 1}, 1);
    o.pitch(30);
    expectVector(o.getDirection(), 0, -0.5, std::sqrt(0.75));
    EXPECT_NEAR(o.getHeading(), 90, kEps);
}

TEST(MrObject, AscendStopsAtTheUpperBoundWithCancellingPitches) {
    Vessel v({0, 0, 0}, {0.6, 0, 0.8});
    for (int i = 0; i < 100; ++i) v.ascend();
    const double lift = v.netLift();
    EXPECT_GT(lift, 2 * 2.0 / 3 - kEps);
    EXPECT_LT(lift, 2 * 2.0 / 3 + 0.1 + kEps);
    v.ascend();
    EXPECT_EQ(v.netLift(), lift);
    expectVector(v.getDirection(), 0.6, 0, 0.8, 1e-9);
}

TEST(MrObject, DescendStopsAtTheLowerBound) {
    Vessel v({0, 0, 0}, {1, 0, 0});
    for (int i = 0; i < 100; ++i) v.descend();
    EXPECT_LT(v.netLift(), -2 * 2.0 / 3 + kEps);
    EXPECT_GT(v.netLift(), -2 * 2.0 / 3 - 0.1 - kEps);
}

TEST(MrObject, SingleTankOperationsTiltTheDirection) {
    Vessel v({0, 0, 0}, {0, 0, 1});
    v.raiseA();
    EXPECT_NEAR(v.tankA(), 4.955, kEps);
    expectVector(v.getDirection(), 0, -std::sin(2.5 * kDegreesToRadians), std::cos(2.5 * kDegreesToRadians));
    v.lowerB();
    EXPECT_NEAR(v.tankB(), 4.855, kEps);
    expectVector(v.getDirection(), 0, -std::sin(5 * kDegreesToRadians), std::cos(5 * kDegreesToRadians));
    v.raiseB();
    v.lowerA();
    EXPECT_NEAR(v.netLift(), 0, kEps);
    expectVector(v.getDirection(), 0, 0, 1);
}

TEST(MrObject, ResetMotionRestoresSpeedsAndBuoyancy) {
    Vessel v({0, 0, 0}, {1, 0, 0});
    v.accelerate();
    v.ascend();
    v.resetMotion();
    EXPECT_EQ(v.forward(), 1.0);
    EXPECT_EQ(v.backward(), 1.0);
    EXPECT_EQ(v.tankA(), 4.905);
    EXPECT_EQ(v.tankB(), 4.905);
    EXPECT_EQ(v.netLift(), 0.0);
}

TEST(MrObject, MovesKeepTheDrawnPlacementInStep) {
    mrObject o({1, 1, 1}, {1, 0, 0}, 1);
    o.moveBy({0.5, -1, 2});
    expectVector(o.getPosition(), 1.5, 0, 3);
    EXPECT_EQ(o.translation[0], 1.5);
    EXPECT_EQ(o.translation[2], 3.0);
    o.setPositionTo({-4, 5, 6});
    expectVector(o.getPosition(), -4, 5, 6);
    EXPECT_EQ(o.translation[0], -4.0);
    EXPECT_EQ(o.translation[1], 5.0);
}

TEST(MrObject, BaseCollisionResponseIsTheEmptyRecordStillNamingItsOwner) {
    mrObject o({0, 0, 0}, {1, 0, 0}, 1);
    tide::collisionTransporter own({1, 2, 3}, {4, 5, 6}, 1, 7, &o);
    o.setTransporter(&own);
    EXPECT_EQ(o.getTransporter(), &own);
    const tide::collisionTransporter result = o.collide(own, tide::collisionTransporter());
    EXPECT_TRUE(result.position.equals(0, 0, 0));
    EXPECT_TRUE(result.motion.equals(0, 0, 0));
    EXPECT_EQ(result.owner, &o);
    EXPECT_EQ(result.id, 7);
    EXPECT_FALSE(result.blocked);
}
