// The cost of one world step on the shipped valley as the number of moving
// things grows, and of single terrain sweeps. BM_WorldStep/<things>/1 runs the
// contact search through its broad phase, /0 tests every pair of records (the
// reference, quadratic in the number of things); the time per record staying
// flat as the count grows means the step grows linearly.
//
// Needs an X display for its OpenGL context, e.g.
//   xvfb-run -a build/bench/bench_world_step --benchmark_filter=WorldStep
#include <GL/freeglut.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <sstream>
#include <string>

#include "game/broad_phase.h"
#include "game/collision.h"
#include "game/scenario.h"
#include "game/state.h"
#include "game/update.h"
#include "game/world_setup.h"
#include "scene/ball.h"
#include "scene/enemy.h"
#include "scene/finish.h"
#include "scene/viewpoint.h"
#include "world/heightmap.h"

namespace {

constexpr unsigned kStepMs = 16;
constexpr int kEnemies = 8;
constexpr int kFinishes = 4;

void loadValley() {
    static ValleyPictures pictures;
    pictures.load(GAME_DATA_DIR);
    setUpWorld(*new tide::Heightmap(), pictures);
}

// `balls` balls spread over the valley on a fixed pattern, 8 enemies, 4 finishes.
std::string scenario(int ballCount) {
    std::ostringstream out;
    for (int i = 0; i < kFinishes; ++i) out << "finish:\n" << 20 + 55 * (i % 2) << "\n" << 35 + 35 * (i / 2) << "\n";
    for (int i = 0; i < ballCount; ++i) {
        out << "ball:\n" << 3 + (i * 37) % 94 << "\n" << 5 + (i * 53) % 90 << "\n" << (i * 29) % 256 << "\n";
    }
    for (int i = 0; i < kEnemies; ++i) out << "enemy:\n" << 10 + 10 * i << "\n50\n100\n0\n" << i << "\n";
    return out.str();
}

void clearWorld(const std::deque<tide::ball*>& made) {
    for (tide::submarine* e : enemies) delete e;
    for (tide::Finish* f : finishes) delete f;
    for (tide::ball* b : made) delete b;
    enemies.clear();
    finishes.clear();
    balls.clear();
    delete player;
    player = nullptr;
}

void BM_WorldStep(benchmark::State& state) {
    const int ballCount = static_cast<int>(state.range(0));
    const std::string path = "/tmp/bench_world_step_in.conf";
    {
        std::FILE* f = std::fopen(path.c_str(), "w");
        const std::string text = scenario(ballCount);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    player = new tide::Viewpoint(Vector3(1, 6, 10), Vector3(1, 0, 0), 0.1);
    tide::readScenario(&balls, &finishes, &enemies, path);
    std::remove(path.c_str());
    const std::deque<tide::ball*> made = balls;  // some will ride in chains
    std::srand(1);

    const double records = 1.0 + kEnemies + kFinishes + ballCount;
    setBroadPhase(state.range(1) != 0);
    for (auto _ : state) stepWorld(kStepMs);
    setBroadPhase(true);
    state.counters["records"] = records;
    state.counters["per_record"] =
        benchmark::Counter(records, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    clearWorld(made);
}
BENCHMARK(BM_WorldStep)
    ->ArgsProduct({{10, 100, 400, 1000, 10000}, {1}})
    ->ArgsProduct({{10, 100, 400, 1000}, {0}})
    ->Unit(benchmark::kMicrosecond);

// One frame's motion of an enemy over the valley floor, against the scenario
// reader's drop of a large sphere from height 30.
void BM_TerrainSweepFrameMotion(benchmark::State& state) {
    const Vector3 start(30, 3.5, 12);
    const Vector3 motion(0.032, -0.005, 0.01);
    for (auto _ : state) benchmark::DoNotOptimize(terrainSweep(start, motion, 0.4));
}
BENCHMARK(BM_TerrainSweepFrameMotion);

void BM_TerrainSweepDrop(benchmark::State& state) {
    const Vector3 start(30, 30, 12);
    const Vector3 motion(0, -30, 0);
    for (auto _ : state) benchmark::DoNotOptimize(terrainSweep(start, motion, 1.0));
}
BENCHMARK(BM_TerrainSweepDrop);

}  // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(640, 480);
    glutCreateWindow("world step benchmark");
    loadValley();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
