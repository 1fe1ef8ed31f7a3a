// The broad phase must never change which contact the update step resolves:
// against the all-pairs search on random crowds of near misses, and over a
// long crowded game whose every step must come out exactly the same.
#include "game/broad_phase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <limits>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "game/collision.h"
#include "game/scenario.h"
#include "game/state.h"
#include "game/update.h"
#include "scene/ball.h"
#include "scene/finish.h"
#include "scene/viewpoint.h"
#include "support/temp_dir.h"
#include "support/test_world.h"

using tide::collisionTransporter;
using tide::exactCollisionTransporter;

namespace {

// The pair and the bits of the contact time the earliest-contact search picks.
std::tuple<int, int, std::uint64_t> choose(bool broad) {
    setBroadPhase(broad);
    std::deque<exactCollisionTransporter> events;
    findCollisions(&collisionRecords, &events);
    const int k = earliestCollision(&events);
    setBroadPhase(true);
    if (k < 0) return {-1, -1, 0};
    std::uint64_t bits;
    std::memcpy(&bits, &events[k].time, sizeof bits);
    return {events[k].first, events[k].second, bits};
}

// A crowd in a few cubic units: resting, creeping and very fast spheres, and pairs
// built to pass at exactly the touching distance or within a hair of it, at
// times around 0 and 1; now and then a coordinate far out or not a number.
std::vector<collisionTransporter> crowd(std::mt19937& random) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> exponent(-7.0, 1.7);
    const double radii[] = {0.02, 0.075, 0.1, 0.3, 0.4};
    auto vector = [&](double scale) { return Vector3(unit(random), unit(random), unit(random)) * scale; };
    std::vector<collisionTransporter> records;
    const int count = 2 + static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
        collisionTransporter r(Vector3(40, 5, 20) + vector(1.5), Vector3(), radii[random() % 5], i, nullptr);
        if (random() % 3 != 0) r.motion = vector(std::pow(10.0, exponent(random)));
        if (i > 0 && random() % 2 == 0) {
            // Closest approach to an earlier record at time t0, at distance reach + gap.
            const collisionTransporter& a = records[random() % records.size()];
            Vector3 relative = vector(std::pow(10.0, exponent(random)));
            Vector3 side = cross(relative, vector(1.0)).normalized();
            if (random() % 2 == 0) {
                // Apart along one axis only, where a box has no room to spare.
                const int axis = static_cast<int>(random() % 3);
                side = Vector3(axis == 0, axis == 1, axis == 2);
                relative = relative - side * relative.dot(side);
            }
            const double gaps[] = {0.0, 1e-12, -1e-12, 1e-9, 2e-4, -2e-4, 1e-3};
            const double t0s[] = {-1e-7, -1e-3, 0.0, 0.5, 1.0, 1.0 + 1e-9, 1.2};
            const double t0 = t0s[random() % 7];
            const Vector3 apart = side * (a.radius + r.radius + gaps[random() % 7]) - relative * t0;
            r.position = a.position - apart;
            r.motion = a.motion - relative;
        }
        if (random() % 50 == 0) r.position.x = random() % 2 ? std::numeric_limits<double>::quiet_NaN() : 1e300;
        if (random() % 50 == 0) r.position = r.position * 1e6;
        records.push_back(r);
    }
    return records;
}

}  // namespace

TEST(BroadPhase, ChoosesTheContactTheAllPairsSearchChoosesInRandomCrowds) {
    const double savedScale = samplesPerUnit;
    samplesPerUnit = 6.4;
    std::mt19937 random(13);
    int contacts = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        std::vector<collisionTransporter> records = crowd(random);
        for (collisionTransporter& r : records) collisionRecords.push_back(&r);
        const auto reference = choose(false);
        EXPECT_EQ(reference, choose(true)) << "trial " << trial;
        contacts += std::get<0>(reference) >= 0;
        collisionRecords.clear();
    }
    samplesPerUnit = savedScale;
    EXPECT_GT(contacts, 1000);  // the crowds really do collide
}

namespace {

// Every vessel's and ball's place after each step of a crowded game: 150 balls
// on a 12 x 12 unit patch, 4 finishes at its corners, 10 enemies on it.
std::vector<std::vector<double>> playCrowdedGame(bool broad, int steps, const std::string& file) {
    auto* saved = player;
    player = new tide::Viewpoint(Vector3(45, 8, 22), Vector3(1, 0, 0), 0.1);
    std::ostringstream scenario;
    for (int i = 0; i < 4; ++i) scenario << "finish:\n" << 40 + 15 * (i % 2) << "\n" << 35 + 30 * (i / 2) << "\n";
    for (int i = 0; i < 150; ++i) {
        scenario << "ball:\n" << 40 + (i * 37) % 150 / 10.0 << "\n" << 35 + (i * 53) % 300 / 10.0 << "\n" << i << "\n";
    }
    for (int i = 0; i < 10; ++i) {
        scenario << "enemy:\n" << 41 + 1.4 * i << "\n" << 36 + 2.8 * i << "\n" << 100 - 20 * i << "\n" << 20 * i - 90 << "\n" << i << "\n";
    }
    std::ofstream(file) << scenario.str();
    tide::readScenario(&balls, &finishes, &enemies, file);
    const std::deque<tide::ball*> everyBall = balls;
    std::srand(5);
    setBroadPhase(broad);
    std::vector<std::vector<double>> trace(steps);
    for (std::vector<double>& state : trace) {
        if (&state - trace.data() == steps / 2) player->turnBy(67);
        stepWorld(16);
        std::vector<tide::mrObject*> things{player};
        things.insert(things.end(), enemies.begin(), enemies.end());
        things.insert(things.end(), everyBall.begin(), everyBall.end());
        for (tide::mrObject* t : things) state.insert(state.end(), {t->getPosition().x, t->getPosition().y, t->getPosition().z});
        for (tide::submarine* e : enemies) state.push_back(e->getScore());
    }
    setBroadPhase(true);
    for (tide::submarine* e : enemies) delete e;
    for (tide::Finish* f : finishes) delete f;
    for (tide::ball* b : everyBall) delete b;
    enemies.clear();
    finishes.clear();
    balls.clear();
    delete player;
    player = saved;
    return trace;
}

}  // namespace

class BroadPhaseGame : public TempDirTest {};

TEST_F(BroadPhaseGame, GoesExactlyAsWithEveryPairTested) {
    const auto valley = testworld::InstalledTerrain::shippedValley(GAME_DATA_DIR);
    if (!valley) GTEST_SKIP() << "the shipped valley pictures are missing";
    const auto reference = playCrowdedGame(false, 2500, path("in.conf"));
    const auto broad = playCrowdedGame(true, 2500, path("in.conf"));
    const auto parted = std::mismatch(reference.begin(), reference.end(), broad.begin());
    EXPECT_TRUE(parted.first == reference.end()) << "the games part at step " << parted.first - reference.begin();
    const std::vector<double>& last = reference.back();
    EXPECT_GT(std::accumulate(last.end() - 10, last.end(), 0.0), 0) << "no enemy delivered a ball";
}
