#pragma once

#include <memory>
#include <string>
#include <vector>

#include "game/state.h"
#include "game/world_setup.h"
#include "world/heightmap.h"

// A game world for tests that drive vessels, the scenario reader or the update
// step: a terrain installed as the game's one, as start-up installs it, walls
// and grid scale included. The previous world comes back afterwards.
namespace testworld {

// Depth pictures: 8-bit heights, one byte per sample, row by row.
inline std::vector<unsigned char> flatDepth(int width, int height, unsigned char level) {
    return std::vector<unsigned char>(static_cast<std::size_t>(width) * height, level);
}

class InstalledTerrain {
public:
    InstalledTerrain(const std::vector<unsigned char>& depth, int width, int height) : InstalledTerrain() {
        const std::vector<unsigned char> colour(depth.size() * 3, 128);
        map.buildTerrain(depth.data(), colour.data(), width, height);
        installTerrain(map);
    }

    // The shipped valley from the game's data folder, or null when its
    // pictures are not there.
    static std::unique_ptr<InstalledTerrain> shippedValley(const std::string& dataDir) {
        ValleyPictures pictures;
        pictures.load(dataDir);
        if (pictures.depth.data() == nullptr || pictures.colour.data() == nullptr || pictures.depth.width() <= 0) {
            return nullptr;
        }
        std::unique_ptr<InstalledTerrain> installed(new InstalledTerrain());
        setUpWorld(installed->map, pictures);
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
    // Keeps the world it replaces.
    InstalledTerrain()
        : savedTerrain(terrain),
          savedScale(samplesPerUnit),
          savedPoints{boundaryPoints[0], boundaryPoints[1]},
          savedNormals{boundaryNormals[0], boundaryNormals[1]} {}

    tide::Heightmap* savedTerrain;
    double savedScale;
    Vector3 savedPoints[2];
    Vector3 savedNormals[2];
};

}  // namespace testworld
