// Terrain costs: building the tiles from the pictures (time and memory), drawing
// them with and without the quadtree's culling in the real OpenGL context, and
// one sphere sweep against the height grid.
//
// usage: xvfb-run -a bench_terrain   (needs an X server for the OpenGL context)
//        xvfb-run -a bench_terrain --benchmark_filter='Build|Record' --benchmark_repetitions=5
//        compares the build with OpenGL's own share of it.

#include <GL/freeglut.h>
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <array>
#include <cstring>
#include <utility>
#include <memory>
#include <string>
#include <vector>

#include "game/collision.h"
#include "game/gl_setup.h"
#include "game/state.h"
#include "game/world_setup.h"
#include "imagelib/gl/bitmap_texture.h"
#include "world/heightmap.h"
#include "world/light.h"

namespace {

// The shipped pictures, or the same scaled up by `factor` (nearest neighbour).
struct Pictures {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> depth;
    std::vector<unsigned char> colour;
};

Pictures shippedPictures(int factor) {
    KVEL::BitmapTexture depth, colour;
    depth.load(GAME_DATA_DIR "/valleyDepth.bmp");
    colour.load(GAME_DATA_DIR "/valleyTex.bmp");
    Pictures p;
    if (depth.data() == nullptr || colour.data() == nullptr) return p;
    p.width = depth.width() * factor;
    p.height = depth.height() * factor;
    p.depth.resize(static_cast<size_t>(p.width) * p.height);
    p.colour.resize(p.depth.size() * 3);
    for (int r = 0; r < p.height; ++r) {
        for (int c = 0; c < p.width; ++c) {
            const size_t src = static_cast<size_t>(r / factor) * depth.width() + c / factor;
            const size_t dst = static_cast<size_t>(r) * p.width + c;
            p.depth[dst] = depth.data()[src];
            std::memcpy(&p.colour[3 * dst], &colour.data()[3 * src], 3);
        }
    }
    return p;
}

// Heap memory in use, in MiB (the display lists live on the heap too). Mesa
// takes list storage in large blocks, so the figure moves by about 1 MiB
// from one run to the next.
double heapInUseMiB() {
    const struct mallinfo2 m = mallinfo2();
    // Large blocks are mapped on their own and counted apart from the arena.
    return (m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
}

void BM_BuildTerrain(benchmark::State& state) {
    const Pictures p = shippedPictures(static_cast<int>(state.range(0)));
    if (p.width == 0) {
        state.SkipWithError("shipped pictures missing");
        return;
    }
    // Memory held by one built terrain: grids, tree and display lists.
    const double before = heapInUseMiB();
    auto kept = std::make_unique<tide::Heightmap>();
    kept->buildTerrain(p.depth.data(), p.colour.data(), p.width, p.height);
    glFinish();
    state.counters["heap_MiB"] = heapInUseMiB() - before;
    state.counters["tiles"] = kept->tileCount();
    kept.reset();

    for (auto _ : state) {
        tide::Heightmap terrain;
        terrain.buildTerrain(p.depth.data(), p.colour.data(), p.width, p.height);
        glFinish();
    }
    state.SetLabel(std::to_string(p.width) + "x" + std::to_string(p.height));
}
BENCHMARK(BM_BuildTerrain)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// The floor under BM_BuildTerrain: the same tile lists recorded from vertex
// data computed beforehand (colour, normal and position of every grid vertex,
// in the floats OpenGL keeps), so only OpenGL's own recording is timed. Holds
// for pictures twice as wide as high, whose tiles are 16 columns by 8 rows.
void BM_RecordTerrainLists(benchmark::State& state) {
    const Pictures p = shippedPictures(static_cast<int>(state.range(0)));
    if (p.width == 0 || p.width != 2 * p.height) {
        state.SkipWithError("needs the shipped pictures");
        return;
    }
    tide::Heightmap source;
    source.buildTerrain(p.depth.data(), p.colour.data(), p.width, p.height);
    const int columns = source.columns();
    const int rows = source.rows();
    const size_t rowLength = static_cast<size_t>(columns) + 1;
    std::vector<float> vertices;  // rgb, normal, xyz per grid vertex
    vertices.reserve(9 * rowLength * (rows + 1));
    for (int row = 0; row <= rows; ++row) {
        for (int col = 0; col <= columns; ++col) {
            const std::array<float, 3> rgb = source.vertexColour(col, row);
            const Vector3 n = source.vertexNormal(col, row);
            const float values[9] = {rgb[0],
                                     rgb[1],
                                     rgb[2],
                                     static_cast<float>(n.x),
                                     static_cast<float>(n.y),
                                     static_cast<float>(n.z),
                                     static_cast<float>(col * source.cellSize()),
                                     static_cast<float>(source.heightRows()[row][col]),
                                     static_cast<float>(row * source.cellSize())};
            vertices.insert(vertices.end(), values, values + 9);
        }
    }
    auto record = [&] {
        const int across = columns / 16;
        const int down = rows / 8;
        const GLuint first = glGenLists(across * down);
        for (int i = 0; i < down; ++i) {
            for (int j = 0; j < across; ++j) {
                glNewList(first + i * across + j, GL_COMPILE);
                for (int row = 8 * i; row < 8 * i + 8; ++row) {
                    glBegin(GL_TRIANGLE_STRIP);
                    for (int col = 16 * j; col <= 16 * j + 16; ++col) {
                        for (int r : {row, row + 1}) {
                            const float* v = &vertices[9 * (r * rowLength + col)];
                            glColor3fv(v);
                            glNormal3fv(v + 3);
                            glVertex3fv(v + 6);
                        }
                    }
                    glEnd();
                }
                glEndList();
            }
        }
        return std::make_pair(first, across * down);
    };
    const double before = heapInUseMiB();
    auto kept = record();
    glFinish();
    state.counters["heap_MiB"] = heapInUseMiB() - before;
    glDeleteLists(kept.first, kept.second);
    for (auto _ : state) {
        kept = record();
        glFinish();
        state.PauseTiming();
        glDeleteLists(kept.first, kept.second);
        state.ResumeTiming();
    }
    state.SetLabel(std::to_string(p.width) + "x" + std::to_string(p.height));
}
BENCHMARK(BM_RecordTerrainLists)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// The shipped terrain, built once for the drawing and sweep benchmarks.
tide::Heightmap& shippedTerrain() {
    static tide::Heightmap* built = [] {
        const Pictures p = shippedPictures(1);
        auto* t = new tide::Heightmap();
        t->buildTerrain(p.depth.data(), p.colour.data(), p.width, p.height);
        return t;
    }();
    return *built;
}

// The frame's camera at (x, 6, z) looking along (dx, 0, dz).
void lookFrom(double x, double z, double dx, double dz) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90, 1.3333, 0.01, 50);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(x, 6, z, x + dx, 6, z + dz, 0, 1, 0);
}

// Viewpoints: the player's start, and the middle of the valley looking along it.
constexpr double kViews[2][4] = {{1, 10, 1, 0}, {40, 27, 0.6, 0.8}};

void BM_DrawTerrainCulled(benchmark::State& state) {
    tide::Heightmap& terrain = shippedTerrain();
    const double* v = kViews[state.range(0)];
    int drawn = 0;
    for (auto _ : state) {
        lookFrom(v[0], v[1], v[2], v[3]);
        drawn = terrain.drawTerrain(v[0], v[1], v[2], v[3]);
        glFinish();
    }
    state.counters["tiles_drawn"] = drawn;
    state.counters["tiles_all"] = terrain.tileCount();
    state.counters["drawn_share"] = static_cast<double>(drawn) / terrain.tileCount();
    state.SetLabel(state.range(0) == 0 ? "from the start" : "mid valley");
}
BENCHMARK(BM_DrawTerrainCulled)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_DrawTerrainAllTiles(benchmark::State& state) {
    tide::Heightmap& terrain = shippedTerrain();
    const double* v = kViews[state.range(0)];
    for (auto _ : state) {
        lookFrom(v[0], v[1], v[2], v[3]);
        for (int i = 0; i < terrain.tileCount(); ++i) glCallList(terrain.firstTileList() + i);
        glFinish();
    }
    state.counters["tiles_drawn"] = terrain.tileCount();
    state.SetLabel(state.range(0) == 0 ? "from the start" : "mid valley");
}
BENCHMARK(BM_DrawTerrainAllTiles)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One frame's sweep of a vessel (2 units per second for 16 ms, sinking a little),
// and the scenario's drop of a ball from height 30.
void BM_TerrainSweep(benchmark::State& state) {
    installTerrain(shippedTerrain());
    const bool drop = state.range(0) == 1;
    const Vector3 position = drop ? Vector3(30, 30, 20) : Vector3(10, 2.5, 10);
    const Vector3 motion = drop ? Vector3(0, -30, 0) : Vector3(0.032, -0.01, 0.004);
    const double radius = drop ? 1.0 : 0.1;
    for (auto _ : state) benchmark::DoNotOptimize(terrainSweep(position, motion, radius));
    state.SetLabel(drop ? "ball dropped from 30" : "vessel, one frame");
}
BENCHMARK(BM_TerrainSweep)->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(640, 480);
    glutCreateWindow("bench_terrain");
    initGlState();
    tide::Light::setUpSceneLight();
    reshape(640, 480);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
