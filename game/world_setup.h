#pragma once

#include <string>

#include "imagelib/gl/bitmap_texture.h"

namespace tide {
class Heightmap;
}

// The world the game plays in: the valley floor built from two pictures, the
// walls along its far x and z edges, and the grid scale the collision code
// works in. The game, its tests and its benchmarks all set it up here.

// The two pictures, held for as long as the game runs: the radar shows the colour one.
struct ValleyPictures {
    static constexpr const char* kDepthFile = "valleyDepth.bmp";
    static constexpr const char* kColourFile = "valleyTex.bmp";

    // Loads both from `folder` (empty: the working directory). A picture that
    // fails to load stays empty.
    void load(const std::string& folder = "");

    KVEL::BitmapTexture depth;
    KVEL::BitmapTexture colour;
};

// Builds `map` from the pictures and installs it. A missing or unsuitable
// picture is named on standard error and leaves a floor without tiles but
// of finite size, walls included. Needs a current OpenGL context.
void setUpWorld(tide::Heightmap& map, ValleyPictures& pictures);

// Makes `map` the game's terrain, with its walls and its grid scale.
void installTerrain(tide::Heightmap& map);
