#pragma once

#include <memory>
#include <string>
#include <vector>

#include "game/state.h"
#include "imagelib/gl/bitmap_texture.h"
#include "world/heightmap.h"

// A game world for tests that drive vessels, the scenario reader or the update
// step: a terrain installed as the game's one, with the walls and the grid
// scale start-up derives from it. The previous world comes back afterwards.
namespace testworld {

// Depth pictures: 8-bit heights, one byte per sample, row by row.
inline std::vector<unsigned char> flatDepth(int width, int height, unsigned char level) {
    return std::vector<unsigned char>(static_cast<std::size_t>(width) * height, level);
}

class InstalledTerrain {
public:
    InstalledTerrain(const std::vector<unsigned char>& depth, int width, int height) {
        const std::vector<unsigned char> colour(depth.size() * 3, 128);
        map.buildTerrain(depth.data(), colour.data(), width, height);
        install();
    }

    // The shipped valley from the game's data folder, or null when its
    // pictures are not there.
    static std::unique_ptr<InstalledTerrain> shippedValley(const std::string& dataDir) {
        KVEL::BitmapTexture depth;
        KVEL::BitmapTexture colour;
        depth.load((dataDir + "/valleyDepth.bmp").c_str());
        colour.load((dataDir + "/valleyTex.bmp").c_str());
        if (depth.data() == nullptr || colour.data() == nullptr || depth.width() <= 0) return nullptr;
        std::unique_ptr<InstalledTerrain> installed(new InstalledTerrain());
        installed->map.buildTerrain(depth.data(), colour.data(), depth.width(), depth.height());
        installed->install();
        return installed;
    }

    ~InstalledTerrain() {
        terrain = savedTerrain;
        samplesPerUnit = savedScale;
        for (int i = 0; i < 2; ++i) {
            boundaryPoints[i] = savedPoints[i];
            boundaryNormals[i] = savedNormals[i];
        }
    }

    InstalledTerrain(const InstalledTerrain&) = delete;
    InstalledTerrain& operator=(const InstalledTerrain&) = delete;

    tide::Heightmap map;

private:
    InstalledTerrain() = default;

    void install() {
        savedTerrain = terrain;
        savedScale = samplesPerUnit;
        for (int i = 0; i < 2; ++i) {
            savedPoints[i] = boundaryPoints[i];
            savedNormals[i] = boundaryNormals[i];
        }
        terrain = &map;
        boundaryPoints[0] = Vector3(map.extentX(), 0, 0);
        boundaryPoints[1] = Vector3(0, 0, map.extentZ());
        boundaryNormals[0] = Vector3(0, 0, 1);
        boundaryNormals[1] = Vector3(1, 0, 0);
        samplesPerUnit = static_cast<double>(map.rows()) / map.extentZ();
    }

    tide::Heightmap* savedTerrain = nullptr;
    double savedScale = 1.0;
    Vector3 savedPoints[2];
    Vector3 savedNormals[2];
};

}  // namespace testworld
