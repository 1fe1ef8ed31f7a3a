#include "game/collision.h"
#include "game/sphere_sweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <vector>

#include "game/broad_phase.h"
#include "game/state.h"
#include "world/heightmap.h"

using tide::collisionTransporter;
using tide::exactCollisionTransporter;

namespace {

void expectVector(const Vector3& v, double x, double y, double z) {
    EXPECT_NEAR(v.x, x, 1e-9);
    EXPECT_NEAR(v.y, y, 1e-9);
    EXPECT_NEAR(v.z, z, 1e-9);
}

// The walls of an 80 x 40 world, as start-up sets them, restored afterwards.
class CollisionTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedScale = samplesPerUnit;
        savedPoints[0] = boundaryPoints[0];
        savedPoints[1] = boundaryPoints[1];
        savedNormals[0] = boundaryNormals[0];
        savedNormals[1] = boundaryNormals[1];
        samplesPerUnit = 6.4;
        boundaryPoints[0] = Vector3(80, 0, 0);
        boundaryPoints[1] = Vector3(0, 0, 40);
        boundaryNormals[0] = Vector3(0, 0, 1);
        boundaryNormals[1] = Vector3(1, 0, 0);
    }
    void TearDown() override {
        samplesPerUnit = savedScale;
        boundaryPoints[0] = savedPoints[0];
        boundaryPoints[1] = savedPoints[1];
        boundaryNormals[0] = savedNormals[0];
        boundaryNormals[1] = savedNormals[1];
        for (collisionTransporter* record : collisionRecords) delete record;
        collisionRecords.clear();
    }

    // Adds a record to the frame's list; returns its index.
    int addRecord(Vector3 position, Vector3 motion, double radius) {
        collisionRecords.push_back(new collisionTransporter(position, motion, radius, 0, nullptr));
        return static_cast<int>(collisionRecords.size()) - 1;
    }

    double savedScale = 1.0;
    Vector3 savedPoints[2];
    Vector3 savedNormals[2];
};

}  // namespace

TEST_F(CollisionTest, SweepToPlaneStopsOneRadiusFromThePlaneOnTheStartSide) {
    const Vector3 floorPoint(0, 1, 0), up(0, 1, 0);
    expectVector(sweepToPlane({2, 5, 3}, {0, -8, 0}, 0.5, floorPoint, up), 2, 1.5, 3);
    expectVector(sweepToPlane({2, -3, 3}, {0, 8, 0}, 0.5, floorPoint, up), 2, 0.5, 3);
    // The time is not limited to the motion: short of the plane, or moving away.
    expectVector(sweepToPlane({2, 5, 3}, {0, -1, 0}, 0.5, floorPoint, up), 2, 1.5, 3);
    expectVector(sweepToPlane({2, 5, 3}, {1, 1, 0}, 0.5, floorPoint, up), -1.5, 1.5, 3);
    // Parallel to the plane: the whole motion.
    expectVector(sweepToPlane({2, 5, 3}, {1, 0, 2}, 0.5, floorPoint, up), 3, 5, 5);
}

TEST_F(CollisionTest, WallClipStopsTheSurfaceOnTheNearerWall) {
    // Towards x = 80 with a motion longer than the gap: the surface ends on the wall.
    expectVector(wallClip({79, 3, 20}, {2, 0, 0}, 0.25), 80 - 0.25 - 79, 0, 0);
    // Towards x = 0 and z = 40 at once: the nearer contact wins.
    expectVector(wallClip({0.5, 3, 39}, {-2, 0, 2}, 0.1), -0.4, 0, 0.4);
    expectVector(wallClip({5, 3, 39.5}, {-2, 0, 2}, 0.1), -0.4, 0, 0.4);
    // Near the origin along x only: a missing z contact never replaces the x clip.
    expectVector(wallClip({0.5, 1, 0.5}, {-2, 0, 0}, 0.1), -0.4, 0, 0);
}

TEST_F(CollisionTest, WallClipLeavesMotionsThatReachNoWall) {
    expectVector(wallClip({40, 3, 20}, {0, -5, 0}, 0.5), 0, -5, 0);
    expectVector(wallClip({0.2, 3, 0.2}, {0, 9, 0}, 0.5), 0, 9, 0);
    expectVector(wallClip({40, 3, 20}, {1, 0.5, -1}, 0.5), 1, 0.5, -1);
    expectVector(wallClip({40, 3, 20}, {0, 0, 0}, 0.5), 0, 0, 0);
}

TEST_F(CollisionTest, LinesPassWhenTheMotionLinesComeWithinTheRadii) {
    // Crossing motions, one above the other: the gap between the lines decides.
    EXPECT_TRUE(linesPass({0, 0, 0}, {1, 0, 0}, 0.5, {0, 0.9, 0}, {0, 0, 1}, 0.5));
    EXPECT_FALSE(linesPass({0, 0, 0}, {1, 0, 0}, 0.5, {0, 1.1, 0}, {0, 0, 1}, 0.5));
    EXPECT_FALSE(linesPass({0, 0, 0}, {1, 0, 0}, 0.5, {0, -1.1, 0}, {0, 0, 1}, 0.5));
    // Parallel or standing spheres always pass.
    EXPECT_TRUE(linesPass({0, 0, 0}, {1, 0, 0}, 0.1, {0, 9, 0}, {2, 0, 0}, 0.1));
    EXPECT_TRUE(linesPass({0, 0, 0}, {0, 0, 0}, 0.1, {9, 9, 9}, {0, 0, 0}, 0.1));
}

TEST_F(CollisionTest, FindCollisionsListsPassingPairsInGridSpace) {
    // Every pair goes to the pair test, not only those the broad phase finds near.
    setBroadPhase(false);
    std::deque<collisionTransporter*> records;
    collisionTransporter a({0, 0, 0}, {1, 0, 0}, 0.1, 0, nullptr);
    collisionTransporter b({0, 0, 0.05}, {0, 1, 0}, 0.1, 1, nullptr);  // lines 0.05 apart in z
    collisionTransporter c({0, 0, 1}, {0, 1, 0}, 0.1, 2, nullptr);     // 1 apart
    records = {&a, &b, &c};
    std::deque<exactCollisionTransporter> events;
    // In grid space z grows by 6.4: 0.32 apart is beyond reach (0.2), 0.05 * 1 is not.
    EXPECT_TRUE(findCollisions(&records, &events));
    ASSERT_EQ(events.size(), 1u);  // b and c move in parallel: the pair (1, 2)
    EXPECT_EQ(events[0].first, 1);
    EXPECT_EQ(events[0].second, 2);

    events.clear();
    samplesPerUnit = 1.0;
    EXPECT_TRUE(findCollisions(&records, &events));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].first, 0);
    EXPECT_EQ(events[0].second, 1);
    EXPECT_EQ(events[1].first, 1);
    EXPECT_EQ(events[1].second, 2);

    records = {&a};
    events.clear();
    EXPECT_FALSE(findCollisions(&records, &events));
    setBroadPhase(true);
}

TEST_F(CollisionTest, HeadOnGapTakesGapOverClosingDistance) {
    // Surfaces 1 apart, closing by 2.5 per frame.
    addRecord({0, 0, 0}, {1.5, 0, 0}, 0.5);
    addRecord({2, 0, 0}, {-1, 0, 0}, 0.5);
    std::deque<exactCollisionTransporter> events{exactCollisionTransporter(0, 1)};
    EXPECT_EQ(earliestCollision(&events), 0);
    EXPECT_NEAR(events[0].time, 1.0 / 2.5, 1e-12);
}

TEST_F(CollisionTest, SpheresAtRestOrMovingAlikeNeverCollide) {
    addRecord({0, 0, 0}, {0, 0, 0}, 0.5);
    addRecord({0.3, 0, 0}, {0, 0, 0}, 0.5);  // overlapping, at rest
    addRecord({5, 0, 0}, {1, 2, 3}, 0.5);
    addRecord({5.5, 0, 0}, {1, 2, 3}, 0.5);  // overlapping, same motion
    std::deque<exactCollisionTransporter> events{exactCollisionTransporter(0, 1), exactCollisionTransporter(2, 3)};
    EXPECT_EQ(earliestCollision(&events), -1);
    for (const auto& event : events) EXPECT_FALSE(std::isnan(event.time));
}

TEST_F(CollisionTest, EarliestContactWithinTheMotionIsChosen) {
    addRecord({0, 0, 0}, {1, 0, 0}, 0.5);
    addRecord({3, 0, 0}, {0, 0, 0}, 0.5);   // 0: contact at time 2, beyond this frame
    addRecord({1.6, 0, 0}, {0, 0, 0}, 0.5);  // 1: contact at time 0.6
    addRecord({1.3, 0, 0}, {0, 0, 0}, 0.5);  // 2: contact at time 0.3
    std::deque<exactCollisionTransporter> events{exactCollisionTransporter(0, 1), exactCollisionTransporter(0, 2),
                                                 exactCollisionTransporter(0, 3)};
    EXPECT_EQ(earliestCollision(&events), 2);
    EXPECT_NEAR(events[0].time, 2.0, 1e-12);
    EXPECT_NEAR(events[1].time, 0.6, 1e-12);
    EXPECT_NEAR(events[2].time, 0.3, 1e-12);
}

TEST_F(CollisionTest, OverlappingSpheresGetTheMomentTheySeparate) {
    addRecord({0, 0, 0}, {1, 0, 0}, 0.5);
    addRecord({0.5, 0, 0}, {0, 0, 0}, 0.5);
    std::deque<exactCollisionTransporter> events{exactCollisionTransporter(0, 1)};
    // They separate at time 1.5, beyond this frame: no event yet.
    EXPECT_EQ(earliestCollision(&events), -1);
    EXPECT_NEAR(events[0].time, 1.5, 1e-12);
    collisionRecords[0]->motion = Vector3(2, 0, 0);
    EXPECT_EQ(earliestCollision(&events), 0);
    EXPECT_NEAR(events[0].time, 0.75, 1e-12);
}

TEST_F(CollisionTest, GrazingContactCountsOnlyWithinThisFrame) {
    // A sphere passes another tangentially: |dp + t dm| touches the sum of radii once.
    addRecord({0, 0, 0}, {1, 0, 0}, 0.5);
    addRecord({0.3, 1, 0}, {0, 0, 0}, 0.5);  // grazed at time 0.3
    addRecord({-5, 1, 0}, {0, 0, 0}, 0.5);   // grazed at time -5, long ago
    addRecord({1, 1, 0}, {0, 0, 0}, 0.5);    // grazed at time 1, at the very end
    std::deque<exactCollisionTransporter> past{exactCollisionTransporter(0, 2), exactCollisionTransporter(0, 3)};
    EXPECT_EQ(earliestCollision(&past), -1);
    EXPECT_NEAR(past[0].time, -5.0, 1e-9);
    EXPECT_NEAR(past[1].time, 1.0, 1e-9);

    std::deque<exactCollisionTransporter> events{exactCollisionTransporter(0, 2), exactCollisionTransporter(0, 1)};
    EXPECT_EQ(earliestCollision(&events), 1);
    EXPECT_NEAR(events[1].time, 0.3, 1e-9);
}

TEST_F(CollisionTest, EventsNamingMissingRecordsAreSkipped) {
    addRecord({0, 0, 0}, {1, 0, 0}, 0.5);
    addRecord({1.3, 0, 0}, {0, 0, 0}, 0.5);
    std::deque<exactCollisionTransporter> events{exactCollisionTransporter(0, 5), exactCollisionTransporter(-1, 1),
                                                 exactCollisionTransporter(0, 1)};
    EXPECT_EQ(earliestCollision(&events), 2);
}

TEST_F(CollisionTest, TerrainSweepStopsOnTheTerrainInWorldUnits) {
    // A flat 64 x 32 terrain: q = 1.25, so 0.8 samples per unit and height 4 * 1.25 = 5.
    const std::vector<unsigned char> depth(64 * 32, 4), colour(64 * 32 * 3, 200);
    tide::Heightmap ground;
    ground.buildTerrain(depth.data(), colour.data(), 64, 32);
    tide::Heightmap* const savedTerrain = terrain;
    terrain = &ground;
    samplesPerUnit = ground.samplesPerUnit();

    expectVector(terrainSweep({40, 9, 20}, {0.5, -6, 0.25}, 1.0), 0.25, -3, 0.125);
    expectVector(terrainSweep({40, 9, 20}, {0.5, -2, 0.25}, 1.0), 0.5, -2, 0.25);
    expectVector(terrainSweep({40, 9, 20}, {0, 0, 0}, 1.0), 0, 0, 0);
    // Over the strip next to the far edge (between the last picture row and the
    // repeated one) the ground holds as well.
    expectVector(terrainSweep({40, 9, 39.375}, {0, -6, 0}, 0.1), 0, -3.9, 0);
    expectVector(terrainSweep({79.5, 9, 20}, {0, -6, 0}, 0.1), 0, -3.9, 0);

    // Without terrain nothing stops a motion.
    ground.buildTerrain(nullptr, colour.data(), 64, 32);
    samplesPerUnit = ground.samplesPerUnit();
    expectVector(terrainSweep({40, 9, 20}, {0.5, -60, 0.25}, 1.0), 0.5, -60, 0.25);
    terrain = nullptr;
    expectVector(terrainSweep({40, 9, 20}, {0.5, -60, 0.25}, 1.0), 0.5, -60, 0.25);
    terrain = savedTerrain;
}
