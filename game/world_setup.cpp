#include "game/world_setup.h"

#include "game/state.h"
#include "world/heightmap.h"

void ValleyPictures::load(const std::string& folder) {
    const std::string prefix = folder.empty() ? "" : folder + "/";
    depth.load((prefix + kDepthFile).c_str());
    colour.load((prefix + kColourFile).c_str());
}

void setUpWorld(tide::Heightmap& map, ValleyPictures& pictures) {
    tide::buildTerrainFromPictures(map, pictures.depth, ValleyPictures::kDepthFile, pictures.colour,
                                   ValleyPictures::kColourFile);
    installTerrain(map);
}

void installTerrain(tide::Heightmap& map) {
    terrain = &map;
    boundaryPoints[0] = Vector3(map.extentX(), 0, 0);
    boundaryPoints[1] = Vector3(0, 0, map.extentZ());
    boundaryNormals[0] = Vector3(0, 0, 1);
    boundaryNormals[1] = Vector3(1, 0, 0);
    samplesPerUnit = map.samplesPerUnit();
}
