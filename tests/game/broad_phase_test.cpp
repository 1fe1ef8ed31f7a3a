// The broad phase must never change which contact the update step resolves:
// against the all-pairs search on random crowds of near misses, and over a
// long crowded game whose every step must come out bit for bit the same.
#include "game/broad_phase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "game/collision.h"
#include "game/scenario.h"
#include "game/state.h"
#include "game/update.h"
#include "scene/ball.h"
#include "scene/enemy.h"
#include "scene/finish.h"
#include "scene/viewpoint.h"
#include "support/test_world.h"

using tide::collisionTransporter;
using tide::exactCollisionTransporter;

namespace {

// The pair and contact time the earliest-contact search picks, or (-1, -1).
struct Choice {
    int first = -1;
    int second = -1;
    double time = 0.0;
    bool operator==(const Choice& o) const {
        return first == o.first && second == o.second && std::memcmp(&time, &o.time, sizeof time) == 0;
    }
};

Choice choose(bool broad) {
    setBroadPhase(broad);
    std::deque<exactCollisionTransporter> events;
    findCollisions(&collisionRecords, &events);
    const int k = earliestCollision(&events);
    setBroadPhase(true);
    if (k < 0) return {};
    return {events[k].first, events[k].second, events[k].time};
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
        const Choice reference = choose(false);
        const Choice broad = choose(true);
        EXPECT_TRUE(reference == broad) << "trial " << trial << ": all pairs chose (" << reference.first << ", "
                                        << reference.second << ") at " << reference.time << ", broad phase ("
                                        << broad.first << ", " << broad.second << ") at " << broad.time;
        if (reference.first >= 0) ++contacts;
        collisionRecords.clear();
    }
    samplesPerUnit = savedScale;
    EXPECT_GT(contacts, 1000);  // the crowds really do collide
}

namespace {

// 150 balls on a 12 x 12 unit patch, 4 finishes at its corners and 10 enemies
// on it, in the scenario format (positions in percent of the extents).
std::string crowdedScenario() {
    std::ostringstream out;
    out << "crowded broad phase scenario\n";
    for (int i = 0; i < 4; ++i) out << "finish:\n" << 40 + 15 * (i % 2) << "\n" << 35 + 30 * (i / 2) << "\n";
    for (int i = 0; i < 150; ++i) {
        out << "ball:\n" << 40 + (i * 37) % 150 / 10.0 << "\n" << 35 + (i * 53) % 300 / 10.0 << "\n"
            << (i * 29) % 256 << "\n";
    }
    for (int i = 0; i < 10; ++i) {
        out << "enemy:\n" << 41 + 1.4 * i << "\n" << 36 + 2.8 * i << "\n" << 100 - 20 * i << "\n"
            << 20 * i - 100 << "\n" << i << "\n";
    }
    return out.str();
}

// Every vessel's place, heading, score and chain length and every ball's
// place after each step of a game of `steps` steps.
std::vector<std::vector<double>> playCrowdedGame(bool broad, int steps) {
    auto* saved = player;
    player = new tide::Viewpoint(Vector3(45, 8, 22), Vector3(1, 0, 0), 0.1);
    const std::string file = ::testing::TempDir() + "broad_phase_in.conf";
    std::ofstream(file) << crowdedScenario();
    tide::readScenario(&balls, &finishes, &enemies, file);
    std::remove(file.c_str());
    const std::deque<tide::ball*> everyBall = balls;
    std::srand(5);
    setBroadPhase(broad);

    std::vector<std::vector<double>> trace;
    for (int step = 0; step < steps; ++step) {
        if (step % 200 == 0) {
            player->turnBy(67);
            for (int i = 0; i < 30; ++i) player->accelerate();
        }
        stepWorld(16);
        std::vector<double> state;
        auto note = [&](const Vector3& v) { state.insert(state.end(), {v.x, v.y, v.z}); };
        std::vector<tide::submarine*> vessels{player};
        vessels.insert(vessels.end(), enemies.begin(), enemies.end());
        for (tide::submarine* s : vessels) {
            note(s->getPosition());
            note(s->getDirection());
            state.insert(state.end(), {double(s->getScore()), double(s->carriedCount())});
        }
        for (tide::ball* b : everyBall) note(b->getPosition());
        trace.push_back(state);
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

TEST(BroadPhase, CrowdedGameStepsBitForBitAsWithEveryPairTested) {
    std::unique_ptr<testworld::InstalledTerrain> valley = testworld::InstalledTerrain::shippedValley(GAME_DATA_DIR);
    if (!valley) valley = std::make_unique<testworld::InstalledTerrain>(testworld::flatDepth(512, 256, 10), 512, 256);
    constexpr int kSteps = 2500;
    const std::vector<std::vector<double>> reference = playCrowdedGame(false, kSteps);
    const std::vector<std::vector<double>> broad = playCrowdedGame(true, kSteps);
    int step = 0;
    while (step < kSteps && std::memcmp(reference[step].data(), broad[step].data(),
                                        reference[step].size() * sizeof(double)) == 0) {
        ++step;
    }
    EXPECT_EQ(step, kSteps) << "the games part after step " << step;
    double delivered = 0;
    for (std::size_t v = 0; v < 11; ++v) delivered += reference.back()[v * 8 + 6];
    EXPECT_GT(delivered, 0) << "no ball was delivered: the game did not exercise the contacts";
}
