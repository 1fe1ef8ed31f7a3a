#include "scene/viewpoint.h"

#include <gtest/gtest.h>

#include <cmath>

using tide::Viewpoint;

TEST(Viewpoint, StartsAsAVesselLookingAlongPlusX) {
    Viewpoint v({1, 6, 10}, {1, 0, 0}, 0.1);
    EXPECT_EQ(v.getKind(), tide::kKindSubmarine);
    EXPECT_EQ(v.getHeading(), 180);
    EXPECT_EQ(v.getRadius(), 0.1);
    EXPECT_EQ(v.getScore(), 0);
    const Vector3 centre = v.getPosition() + v.getDirection();
    EXPECT_TRUE(centre.equals(2, 6, 10));
}

TEST(Viewpoint, TurnLeftSwingsTheCameraCentrePositively) {
    Viewpoint v({1, 6, 10}, {1, 0, 0}, 0.1);
    v.turnLeft();
    const Vector3 centre = v.getPosition() + v.getDirection();
    const double a = 2.5 * kDegreesToRadians;
    EXPECT_NEAR(centre.x, 1 + std::cos(a), 1e-12);
    EXPECT_NEAR(centre.y, 6, 1e-12);
    EXPECT_NEAR(centre.z, 10 - std::sin(a), 1e-12);
}

TEST(Viewpoint, ResetKeepsTheVesselAsItIs) {
    Viewpoint v({1, 6, 10}, {1, 0, 0}, 0.1);
    v.addScore(12);
    v.accelerate();
    v.reset();
    EXPECT_EQ(v.getScore(), 12);
    EXPECT_NEAR(v.netSpeed(), 0.05, 1e-12);
}
