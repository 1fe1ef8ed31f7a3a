#include "game/collision.h"

#include <cmath>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "game/broad_phase.h"
#include "game/sphere_sweep.h"
#include "game/state.h"
#include "world/heightmap.h"
#include "world/terrain_sweep.h"

namespace {

// Grid space: x and z in terrain samples, y unchanged.
Vector3 toGrid(const Vector3& v) { return {v.x * samplesPerUnit, v.y, v.z * samplesPerUnit}; }
Vector3 fromGrid(const Vector3& v) { return {v.x / samplesPerUnit, v.y, v.z / samplesPerUnit}; }

// The sphere's centre at its contact with the wall crossed by a motion along
// one axis, or nothing when the motion along that axis is negligible.
std::optional<Vector3> wallContact(const Vector3& position, const Vector3& motion, double radius,
                                   double alongAxis, const Vector3& farWall, const Vector3& nearWall,
                                   const Vector3& normal) {
    constexpr double eps = 1e-14;
    if (alongAxis > eps) return sweepToPlane(position, motion, radius, farWall, normal);
    if (alongAxis < -eps) return sweepToPlane(position, motion, radius, nearWall, normal);
    return std::nullopt;
}

}  // namespace

Vector3 terrainSweep(Vector3 position, Vector3 motion, double radius) {
    if (terrain == nullptr || terrain->heightRows().empty()) return motion;
    const Vector3 start = toGrid(position);
    // The whole grid, the repeated last row and column included: the strips
    // along the far edges are ground too.
    const Vector3 contact = gridSphereSweep(start, toGrid(motion), radius, terrain->heightRows(),
                                            terrain->columns() + 1, terrain->rows() + 1);
    return fromGrid(contact - start);
}

Vector3 wallClip(Vector3 position, Vector3 motion, double radius) {
    // boundaryPoints[0] lies on the walls x = extent x and z = 0, boundaryPoints[1]
    // on x = 0 and z = extent z.
    const std::optional<Vector3> xContact = wallContact(position, motion, radius, motion.x, boundaryPoints[0],
                                                        boundaryPoints[1], boundaryNormals[1]);
    Vector3 clipped = motion;
    if (xContact && motion.length() >= (*xContact - position).length()) clipped = *xContact - position;

    const std::optional<Vector3> zContact = wallContact(position, motion, radius, motion.z, boundaryPoints[1],
                                                        boundaryPoints[0], boundaryNormals[0]);
    if (zContact && clipped.length() >= (*zContact - position).length()) clipped = *zContact - position;
    return clipped;
}

bool linesPass(Vector3 positionA, Vector3 motionA, double radiusA, Vector3 positionB, Vector3 motionB,
               double radiusB) {
    const Vector3 n = cross(motionA, motionB).normalized();
    const double distance = (positionB - positionA).dot(n);
    const double reach = radiusA + radiusB;
    return -reach < distance && distance < reach;
}

bool findCollisions(std::deque<tide::collisionTransporter*>* records,
                    std::deque<tide::exactCollisionTransporter>* events) {
    auto test = [&](std::size_t i, std::size_t j) {
        const tide::collisionTransporter& a = *(*records)[i];
        const tide::collisionTransporter& b = *(*records)[j];
        if (linesPass(toGrid(a.position), toGrid(a.motion), a.radius, toGrid(b.position), toGrid(b.motion),
                      b.radius)) {
            events->emplace_back(static_cast<int>(i), static_cast<int>(j));
        }
    };
    if (broadPhaseOn()) {
        static std::vector<std::pair<int, int>> pairs;  // reused: the search runs once per event
        nearbyPairs(*records, pairs);
        for (const auto& [i, j] : pairs) test(static_cast<std::size_t>(i), static_cast<std::size_t>(j));
    } else {
        for (std::size_t i = 0; i < records->size(); ++i) {
            for (std::size_t j = i + 1; j < records->size(); ++j) test(i, j);
        }
    }
    return !events->empty();
}

int earliestCollision(std::deque<tide::exactCollisionTransporter>* events) {
    constexpr double eps = 1e-7;
    int best = -1;
    double bestTime = 99.0;
    const int recordCount = static_cast<int>(collisionRecords.size());
    for (std::size_t index = 0; index < events->size(); ++index) {
        tide::exactCollisionTransporter& event = (*events)[index];
        if (event.first < 0 || event.second < 0 || event.first >= recordCount || event.second >= recordCount) {
            continue;
        }
        const tide::collisionTransporter& a = *collisionRecords[event.first];
        const tide::collisionTransporter& b = *collisionRecords[event.second];
        const Vector3 dp = a.position - b.position;
        const Vector3 dm = a.motion - b.motion;
        const double closing = dm.dot(dm);
        if (closing == 0.0) continue;  // equal motions never meet
        const double reach = a.radius + b.radius;
        // The spheres touch at the times t with |dp + t dm| = reach: t = -h +- sqrt(disc).
        const double h = dp.dot(dm) / closing;
        const double c = (dp.dot(dp) - reach * reach) / closing;
        const double disc = h * h - c;
        if (disc < -eps) continue;

        if (disc <= eps) {
            // Grazing: the touch counts only while the pair still closes in, so
            // not once it is reached (a pair left touching would be found again
            // at time 0 on every pass) and not when it lies in the past.
            event.time = -h;
            if (event.time > 0.0 && event.time < 1.0 && event.time < bestTime) {
                best = static_cast<int>(index);
                bestTime = event.time;
            }
            continue;
        }
        const double root = std::sqrt(disc);
        const double later = -h + root;
        const double earlier = -h - root;
        // Spheres that already overlap get the moment they separate.
        event.time = (later >= eps && earlier < eps) ? later : earlier;
        if (event.time >= eps && event.time < bestTime && event.time <= 1.0) {
            best = static_cast<int>(index);
            bestTime = event.time;
        }
    }
    return best;
}
