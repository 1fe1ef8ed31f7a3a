#include "game/vector3.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Vector3, NormalizingZeroKeepsZeroInsteadOfNaN) {
    Vector3 v(0, 0, 0);
    v.normalize();
    EXPECT_TRUE(v.equals(0, 0, 0));
    EXPECT_TRUE(Vector3(0, 0, 0).normalized().equals(0, 0, 0));
}

TEST(Vector3, NormalizedHasUnitLengthAndLeavesOriginalAlone) {
    const Vector3 v(3, 0, 4);
    const Vector3 n = v.normalized();
    EXPECT_DOUBLE_EQ(n.length(), 1.0);
    EXPECT_DOUBLE_EQ(n.x, 0.6);
    EXPECT_DOUBLE_EQ(n.z, 0.8);
    EXPECT_TRUE(v.equals(3, 0, 4));
}

TEST(Vector3, ComparisonIsExact) {
    EXPECT_FALSE(Vector3(0.1 + 0.2, 0, 0).equals(0.3, 0, 0));
    EXPECT_TRUE(Vector3(0.1 + 0.2, 0, 0) != Vector3(0.3, 0, 0));
    EXPECT_FALSE(Vector3(1, 2, 3) != Vector3(1, 2, 3));
    const double nan = std::nan("");
    EXPECT_TRUE(Vector3(nan, 0, 0) != Vector3(nan, 0, 0));
}

TEST(Vector3, CrossProductIsRightHanded) {
    EXPECT_TRUE(cross(Vector3(1, 0, 0), Vector3(0, 1, 0)).equals(0, 0, 1));
    EXPECT_TRUE(cross(Vector3(0, 1, 0), Vector3(0, 0, 1)).equals(1, 0, 0));
    EXPECT_TRUE(cross(Vector3(0, 1, 0), Vector3(1, 0, 0)).equals(0, 0, -1));
    EXPECT_TRUE(cross(Vector3(2, 3, 4), Vector3(2, 3, 4)).equals(0, 0, 0));
}

TEST(Vector3, ArithmeticIsComponentWise) {
    Vector3 a(1, 2, 3);
    a += Vector3(1, 1, 1);
    a -= Vector3(0, 2, 0);
    EXPECT_TRUE(a.equals(2, 1, 4));
    EXPECT_TRUE((a * 2.0).equals(4, 2, 8));
    EXPECT_TRUE((a / 2.0).equals(1, 0.5, 2));
    a /= 4.0;
    EXPECT_TRUE(a.equals(0.5, 0.25, 1));
    EXPECT_DOUBLE_EQ(Vector3(1, 2, 3).dot(4, 5, 6), 32.0);
    EXPECT_DOUBLE_EQ(Vector3(1, 2, 2).length(), 3.0);
}
