#include "world/terrain_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "support/test_world.h"

namespace {

using Grid = std::vector<std::vector<double>>;

// `rows` rows of `columns` samples, all at `height`.
Grid flatGrid(int columns, int rows, double height) { return Grid(rows, std::vector<double>(columns, height)); }

// Heights rising by `slope` per column.
Grid rampGrid(int columns, int rows, double slope) {
    Grid grid = flatGrid(columns, rows, 0.0);
    for (auto& row : grid)
        for (int col = 0; col < columns; ++col) row[col] = slope * col;
    return grid;
}

void expectVector(const Vector3& v, double x, double y, double z) {
    EXPECT_NEAR(v.x, x, 1e-9);
    EXPECT_NEAR(v.y, y, 1e-9);
    EXPECT_NEAR(v.z, z, 1e-9);
}

bool isFinite(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

double segmentDistance(const Vector3& p, const Vector3& u, const Vector3& v) {
    const Vector3 e = v - u;
    const double t = std::clamp((p - u).dot(e) / e.dot(e), 0.0, 1.0);
    return (p - (u + e * t)).length();
}

// Distance from p to the solid triangle a, b, c: to the plane when p lies over
// the triangle, else to the nearest edge.
double triangleDistance(const Vector3& p, const Vector3& a, const Vector3& b, const Vector3& c) {
    const Vector3 n = cross(b - a, c - a).normalized();
    if (cross(b - a, p - a).dot(n) >= 0 && cross(c - b, p - b).dot(n) >= 0 && cross(a - c, p - c).dot(n) >= 0) {
        return std::fabs(n.dot(p - a));
    }
    return std::min({segmentDistance(p, a, b), segmentDistance(p, b, c), segmentDistance(p, c, a)});
}

// Distance from p to the terrain surface within one cell around it, by brute
// force: enough to see whether a sphere of radius below 1 reaches the surface.
double surfaceDistance(const Vector3& p, const Grid& h) {
    double nearest = std::numeric_limits<double>::infinity();
    for (int row = static_cast<int>(p.z) - 1; row <= static_cast<int>(p.z) + 1; ++row) {
        for (int col = static_cast<int>(p.x) - 1; col <= static_cast<int>(p.x) + 1; ++col) {
            const Vector3 a(col, h[row][col], row), b(col + 1, h[row][col + 1], row);
            const Vector3 c(col, h[row + 1][col], row + 1), e(col + 1, h[row + 1][col + 1], row + 1);
            nearest = std::min({nearest, triangleDistance(p, a, c, b), triangleDistance(p, e, b, c)});
        }
    }
    return nearest;
}

}  // namespace

// Spheres of the player's and an enemy's size dropped frame by frame onto the
// shipped valley, straight down and on slants: none ever sinks into the
// surface (a frame moves less than a diameter, so none can pass through it
// unseen), and where one stops it touches the surface.
TEST(GridSphereSweep, DropsOntoTheShippedValleyNeverSinkInAndStopOnTheSurface) {
    auto valley = testworld::InstalledTerrain::shippedValley(GAME_DATA_DIR);
    ASSERT_NE(valley, nullptr);
    const Grid& heights = valley->map.heightRows();
    const int columns = valley->map.columns() + 1;
    const int rows = valley->map.rows() + 1;
    const double s = valley->map.samplesPerUnit();
    constexpr double kFall = 0.0213;  // world units a frame
    constexpr double kHair = 1e-6;
    const Vector3 motions[] = {{0, -kFall, 0}, {0.015 * s, -kFall, 0.01 * s}, {-0.01 * s, -kFall, -0.02 * s}};
    int drops = 0;
    int stops = 0;
    int failures = 0;
    for (double radius : {0.1, 0.4}) {
        for (int row = 4; row < rows - 5; row += 4) {
            for (int col = 4; col < columns - 5; col += 4) {
                for (const Vector3& motion : motions) {
                    ++drops;
                    // Off the sample points, and starting just above the highest sample around.
                    Vector3 p(col + std::fmod(col * 0.618, 1.0), 0, row + std::fmod(row * 0.382, 1.0));
                    for (int r = row - 1; r <= row + 2; ++r)
                        for (int c = col - 1; c <= col + 2; ++c) p.y = std::max(p.y, heights[r][c]);
                    p.y += radius + 0.05;
                    for (int frame = 0; frame < 100; ++frame) {
                        const Vector3 next = gridSphereSweep(p, motion, radius, heights, columns, rows);
                        const bool stopped = (next - p).length() < motion.length() - 1e-12;
                        p = next;
                        if (p.x < 3 || p.z < 3 || p.x > columns - 4 || p.z > rows - 4) break;
                        const double gap = surfaceDistance(p, heights) - radius;
                        if (gap < -kHair || (stopped && gap > kHair)) {
                            if (++failures <= 5) ADD_FAILURE() << "radius " << radius << " at " << p.x << ", " << p.y
                                                               << ", " << p.z << ": gap " << gap;
                        }
                        if (stopped) {
                            ++stops;
                            break;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(stops, drops * 3 / 4);  // most land within the frames given
}

TEST(GridSphereSweep, StandingSphereStaysPut) {
    // Above the ground, touching it, and half sunk into it: no motion, no NaN.
    for (const Grid& grid : {flatGrid(10, 10, 1.0), rampGrid(10, 10, 0.7)}) {
        for (const Vector3& p : {Vector3(4.5, 6, 4.5), Vector3(4.5, 1.5, 4.5), Vector3(4.2, 2.0, 5.9)}) {
            const Vector3 result = gridSphereSweep(p, Vector3(0, 0, 0), 0.5, grid, 10, 10);
            ASSERT_TRUE(isFinite(result));
            expectVector(result, p.x, p.y, p.z);
        }
    }
}

TEST(GridSphereSweep, DropOntoFlatGroundStopsOneRadiusAbove) {
    const Grid flat = flatGrid(10, 10, 1.0);
    // Reaches the ground: the centre stops at height + radius.
    expectVector(gridSphereSweep({5.3, 4, 5.7}, {0, -3, 0}, 0.5, flat, 10, 10), 5.3, 1.5, 5.7);
    // Falls short of it: the whole motion.
    expectVector(gridSphereSweep({5.3, 4, 5.7}, {0, -2, 0}, 0.5, flat, 10, 10), 5.3, 2.0, 5.7);
    // Over a cell corner, where four triangles meet.
    expectVector(gridSphereSweep({5, 4, 5}, {0, -3, 0}, 0.5, flat, 10, 10), 5, 1.5, 5);
}

TEST(GridSphereSweep, SlantedDropStopsOnTheSurfaceAlongTheMotion) {
    const Grid flat = flatGrid(10, 10, 0.0);
    const Vector3 result = gridSphereSweep({2.5, 3, 2.5}, {3, -6, 1}, 0.25, flat, 10, 10);
    // Time (0.25 - 3) / -6 along the motion.
    const double t = 2.75 / 6.0;
    expectVector(result, 2.5 + 3 * t, 0.25, 2.5 + t);
}

TEST(GridSphereSweep, MotionParallelToTheGroundIsUnchanged) {
    const Grid flat = flatGrid(10, 10, 1.0);
    expectVector(gridSphereSweep({2.5, 1.5, 2.5}, {3, 0, 2}, 0.5, flat, 10, 10), 5.5, 1.5, 4.5);
    expectVector(gridSphereSweep({6.5, 2, 6.5}, {-3, 0, -2}, 0.5, flat, 10, 10), 3.5, 2, 4.5);
}

TEST(GridSphereSweep, RunningIntoASlopeStopsBeforeIt) {
    const Grid ramp = rampGrid(20, 10, 1.0);  // the plane y = x
    // Level flight along +x at height 10 meets the plane where the centre is one
    // radius from it: x - y = -r * sqrt(2).
    const Vector3 result = gridSphereSweep({5, 10, 5}, {10, 0, 0}, 0.5, ramp, 20, 10);
    expectVector(result, 10 - 0.5 * std::sqrt(2.0), 10, 5);
}

TEST(GridSphereSweep, MovingAwayFromTheGroundIsNeverStopped) {
    const Grid flat = flatGrid(10, 10, 1.0);
    // Starting inside the ground and rising: the surface faces the other way.
    expectVector(gridSphereSweep({5, 0.5, 5}, {0, 3, 0}, 0.5, flat, 10, 10), 5, 3.5, 5);
}

TEST(GridSphereSweep, StartOutsideTheGridReadsNothingOutsideIt) {
    const Grid flat = flatGrid(10, 10, 1.0);
    const double huge = 1e300;
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Wholly off the grid on every side, moving away or along: the motion stays.
    expectVector(gridSphereSweep({-5, 2, 5}, {-1, -3, 0}, 0.5, flat, 10, 10), -6, -1, 5);
    expectVector(gridSphereSweep({5, 2, 15}, {0, -3, 1}, 0.5, flat, 10, 10), 5, -1, 16);
    expectVector(gridSphereSweep({huge, 2, -huge}, {0, -3, 0}, 0.5, flat, 10, 10), huge, -1, -huge);
    // Infinite and not-a-number input give start + motion without touching the grid.
    EXPECT_FALSE(isFinite(gridSphereSweep({inf, 2, 5}, {0, -3, 0}, 0.5, flat, 10, 10)));
    EXPECT_FALSE(isFinite(gridSphereSweep({5, 2, 5}, {nan, -3, 0}, 0.5, flat, 10, 10)));
    expectVector(gridSphereSweep({5, 2, 5}, {0, -3, 0}, nan, flat, 10, 10), 5, -1, 5);
    // A grid too small to hold a cell has no ground.
    expectVector(gridSphereSweep({0.5, 2, 0.5}, {0, -3, 0}, 0.5, flat, 1, 1), 0.5, -1, 0.5);
    // A size larger than the grid is limited to the grid, in rows and in columns.
    expectVector(gridSphereSweep({5, 2, 5}, {0, -3, 0}, 0.5, flat, 10, 50), 5, 1.5, 5);
    expectVector(gridSphereSweep({9.6, 2, 5}, {0, -3, 0}, 0.5, flat, 50, 10), 9.6, -1, 5);
}

TEST(GridSphereSweep, SphereNearAnEdgeStillMeetsTheGround) {
    const Grid flat = flatGrid(10, 10, 1.0);
    // Its reach extends past the grid's edge, on the side it comes from or goes to.
    expectVector(gridSphereSweep({0.2, 3, 5}, {0.1, -3, 0}, 0.5, flat, 10, 10), 0.25, 1.5, 5);
    expectVector(gridSphereSweep({8.8, 3, 8.8}, {-0.1, -3, -0.1}, 0.5, flat, 10, 10), 8.75, 1.5, 8.75);
    // Entering the grid from outside.
    expectVector(gridSphereSweep({-1, 3, 5}, {4, -3, 0}, 0.5, flat, 10, 10), 1, 1.5, 5);
}

TEST(GridSphereSweep, OnlyContactsWithinTheMotionCount) {
    const Grid flat = flatGrid(10, 10, 1.0);
    // The ground lies beyond the motion's reach: a contact there does not count.
    expectVector(gridSphereSweep({5, 5, 5}, {0.5, -1, 0.5}, 0.5, flat, 10, 10), 5.5, 4, 5.5);
}
