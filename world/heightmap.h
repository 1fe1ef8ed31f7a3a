#pragma once

#include <array>
#include <vector>

#include "game/vector3.h"
#include "scene/object.h"

namespace KVEL {
class BitmapTexture;
}

namespace tide {

class Quadtree;

// The valley floor: a regular grid of heights and vertex colours built from a
// depth picture (8-bit, the stored value is the height) and a colour picture
// (24-bit, blue-green-red), compiled into one display list per tile and drawn
// through a quadtree of those tiles. The height grid stays in memory for the
// collision code.
class Heightmap : public rObject {
public:
    using HeightGrid = std::vector<std::vector<double>>;

    Heightmap() = default;
    ~Heightmap() override;

    // The lists are recorded by buildTerrain, once.
    void compile() override {}

    // Builds from two pictures of `width` x `height` pixels, without row padding.
    void buildTerrain(const unsigned char* depth, const unsigned char* colour, int width, int height);
    // Builds from the part the two pictures have in common. A missing picture
    // (null or empty) leaves the terrain without grid and tiles.
    void buildTerrain(const unsigned char* depth, int depthWidth, int depthHeight, const unsigned char* colour,
                      int colourWidth, int colourHeight);

    // Draws the tiles near and in front of the viewer that reach into the
    // current view volume (or, without `inViewOnly`, all near and in front);
    // returns how many.
    int drawTerrain(double viewerX, double viewerZ, double lookX, double lookZ, bool inViewOnly = true) const;

    // Shading normal at a grid vertex, not normalised (GL_NORMALIZE does that).
    Vector3 vertexNormal(int col, int row) const;
    // Red, green, blue of a grid vertex, each 0..1.
    std::array<float, 3> vertexColour(int col, int row) const;

    int columns() const { return columns_; }
    int rows() const { return rows_; }
    double extentX() const { return extentX_; }
    double extentZ() const { return extentZ_; }
    // heights[row][col] in world units: rows() + 1 rows of columns() + 1 values.
    const HeightGrid& heightRows() const { return heights_; }
    // World units per grid step; also the height of one step of a depth value.
    double cellSize() const { return cellSize_; }
    double samplesPerUnit() const { return 1.0 / cellSize_; }
    // The tiles that hold terrain, and the first of their consecutive list names.
    int tileCount() const { return tileCount_; }
    int firstTileList() const { return firstTileList_; }
    // Nodes per side of the tile tree's bottom level (a power of two).
    int tilesPerSide() const { return tilesPerSide_; }

    // The length of every terrain along x, whatever the picture's resolution.
    static constexpr double kLength = 80.0;

private:
    void releaseTiles();
    void fillGrids(const unsigned char* depth, int depthWidth, const unsigned char* colour, int colourWidth);
    struct ShadedVertex;
    // `band` holds the vertices of rows firstRow..lastRow, every column.
    void compileTile(int list, const ShadedVertex* band, int firstRow, int lastRow, int firstCol,
                     int lastCol) const;
    void buildTiles();

    int columns_ = 0;
    int rows_ = 0;
    double extentX_ = kLength;
    double extentZ_ = kLength;
    HeightGrid heights_;
    // Blue, green, red bytes as the picture stores them, row by row over the grid.
    std::vector<std::array<unsigned char, 3>> colours_;
    std::vector<Quadtree*> tiles;  // the tree's root once built
    int terrainScale = 1;
    double cellSize_ = 1.0;
    int tileCount_ = 0;
    int firstTileList_ = 0;
    int tilesPerSide_ = 0;
};

// Builds `terrain` from the two loaded pictures. A picture that is missing or
// of the wrong kind is named in one line on standard error; the terrain then
// has no tiles but keeps finite, non-zero extents.
void buildTerrainFromPictures(Heightmap& terrain, KVEL::BitmapTexture& depth, const char* depthName,
                              KVEL::BitmapTexture& colour, const char* colourName);

}  // namespace tide
