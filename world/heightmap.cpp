#include "world/heightmap.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstddef>
#include <iostream>
#include <string>

#include "imagelib/gl/bitmap_texture.h"
#include "world/frustum.h"
#include "world/quadtree.h"

namespace tide {

namespace {

constexpr int kTileRows = 8;

int clampIndex(int i, int last) { return std::max(0, std::min(i, last)); }

}  // namespace

Heightmap::~Heightmap() { releaseTiles(); }

void Heightmap::releaseTiles() {
    if (!tiles.empty()) delete tiles.front();  // the root owns the whole tree
    tiles.clear();
    if (firstTileList_ != 0) glDeleteLists(static_cast<GLuint>(firstTileList_), tileCount_);
    firstTileList_ = 0;
    tileCount_ = 0;
    tilesPerSide_ = 0;
}

void Heightmap::buildTerrain(const unsigned char* depth, const unsigned char* colour, int width, int height) {
    buildTerrain(depth, width, height, colour, width, height);
}

void Heightmap::buildTerrain(const unsigned char* depth, int depthWidth, int depthHeight,
                             const unsigned char* colour, int colourWidth, int colourHeight) {
    releaseTiles();
    const bool usable = depth != nullptr && colour != nullptr && depthWidth > 0 && depthHeight > 0 &&
                        colourWidth > 0 && colourHeight > 0;
    if (!usable) {
        // No terrain, but a world of finite, non-zero size for walls and map.
        columns_ = rows_ = 0;
        heights_.clear();
        colours_.clear();
        cellSize_ = 1.0;
        extentX_ = extentZ_ = kLength;
        return;
    }
    const int width = std::min(depthWidth, colourWidth);
    const int height = std::min(depthHeight, colourHeight);
    // Every terrain is kLength units long; the step is kept in single precision.
    const float cellSize = terrainScale / static_cast<float>(width * (1.0 / kLength));
    cellSize_ = cellSize;
    columns_ = width;
    rows_ = height;
    extentX_ = width * cellSize_;
    extentZ_ = height * cellSize_;
    fillGrids(depth, depthWidth, colour, colourWidth);
    buildTiles();
}

void Heightmap::fillGrids(const unsigned char* depth, int depthWidth, const unsigned char* colour,
                          int colourWidth) {
    // One sample more than the picture each way: the last row and column repeat,
    // so the surface reaches the full extent.
    heights_.assign(rows_ + 1, std::vector<double>(columns_ + 1));
    colours_.resize(static_cast<std::size_t>(rows_ + 1) * (columns_ + 1));
    for (int i = 0; i <= rows_; ++i) {
        const std::size_t srcRow = std::min(i, rows_ - 1);
        for (int j = 0; j <= columns_; ++j) {
            const std::size_t srcCol = std::min(j, columns_ - 1);
            heights_[i][j] = depth[srcRow * depthWidth + srcCol] * cellSize_;
            const unsigned char* pixel = colour + 3 * (srcRow * colourWidth + srcCol);
            colours_[static_cast<std::size_t>(i) * (columns_ + 1) + j] = {pixel[0], pixel[1], pixel[2]};
        }
    }
}

// What the lists record at each vertex of a band of grid rows, each computed
// once, in the single precision OpenGL keeps of them.
struct Heightmap::ShadedVertex {
    std::array<float, 3> rgb;
    float normal[3];
};

void Heightmap::buildTiles() {
    // Tiles are 8 samples on the short side of the picture and a whole multiple
    // of that on the long side, so they form a square arrangement; it is padded
    // with empty tiles to a power of two per side to keep the tree complete.
    const int columnStep = columns_ > rows_ ? columns_ / rows_ : 1;
    const int rowStep = columns_ > rows_ ? 1 : rows_ / columns_;
    const int tileColumns = kTileRows * columnStep;
    const int tileRows = kTileRows * rowStep;
    const int across = (columns_ + tileColumns - 1) / tileColumns;
    const int down = (rows_ + tileRows - 1) / tileRows;
    int perSide = 1;
    while (perSide < std::max(across, down)) perSide *= 2;

    tileCount_ = across * down;
    firstTileList_ = static_cast<int>(glGenLists(tileCount_));
    tilesPerSide_ = perSide;
    tiles.reserve(static_cast<std::size_t>(perSide) * perSide);
    std::vector<ShadedVertex> band;
    for (int i = 0; i < perSide; ++i) {
        const int firstRow = i * tileRows;
        const int lastRow = std::min((i + 1) * tileRows, rows_);
        const bool filled = i < down && firstTileList_ != 0;
        if (filled) {
            // The band's rows, its shared last row included, for every tile along it.
            band.resize(static_cast<std::size_t>(lastRow - firstRow + 1) * (columns_ + 1));
            ShadedVertex* v = band.data();
            for (int row = firstRow; row <= lastRow; ++row) {
                for (int col = 0; col <= columns_; ++col, ++v) {
                    const Vector3 n = vertexNormal(col, row);
                    *v = {vertexColour(col, row), {static_cast<float>(n.x), static_cast<float>(n.y),
                                                   static_cast<float>(n.z)}};
                }
            }
        }
        for (int j = 0; j < perSide; ++j) {
            // The culling circle covers the full tile rectangle even where the
            // picture ends inside it, so every node of a level has the same size.
            const double x0 = j * tileColumns * cellSize_;
            const double x1 = (j + 1) * tileColumns * cellSize_;
            const double z0 = i * tileRows * cellSize_;
            const double z1 = (i + 1) * tileRows * cellSize_;
            if (!filled || j >= across) {
                tiles.push_back(new Quadtree(x0, z1, x1, z0, x1, z1, x0, z0, 0));
                continue;
            }
            const int list = firstTileList_ + i * across + j;
            const int firstCol = j * tileColumns;
            const int lastCol = std::min((j + 1) * tileColumns, columns_);
            compileTile(list, band.data(), firstRow, lastRow, firstCol, lastCol);
            auto* leaf = new Quadtree(x0, z1, x1, z0, x1, z1, x0, z0, list);
            double low = heights_[firstRow][firstCol];
            double high = low;
            for (int row = firstRow; row <= lastRow; ++row) {
                const auto [least, most] =
                    std::minmax_element(heights_[row].begin() + firstCol, heights_[row].begin() + lastCol + 1);
                low = std::min(low, *least);
                high = std::max(high, *most);
            }
            leaf->setHeightRange(low, high);
            tiles.push_back(leaf);
        }
    }
    mergeLevels(tiles, perSide);
}

void Heightmap::compileTile(int list, const ShadedVertex* band, int firstRow, int lastRow, int firstCol,
                            int lastCol) const {
    const std::size_t rowLength = static_cast<std::size_t>(columns_) + 1;
    auto vertex = [&](int col, int row) {
        const ShadedVertex& v = band[static_cast<std::size_t>(row - firstRow) * rowLength + col];
        // Opaque: three components leave alpha at 1 and keep the list smaller.
        glColor3fv(v.rgb.data());
        glNormal3fv(v.normal);
        glVertex3d(col * cellSize_, heights_[row][col], row * cellSize_);
    };
    glNewList(static_cast<GLuint>(list), GL_COMPILE);
    for (int row = firstRow; row < lastRow; ++row) {
        glBegin(GL_TRIANGLE_STRIP);
        // The last column is shared with the next tile, which closes the surface.
        for (int col = firstCol; col <= lastCol; ++col) {
            vertex(col, row);
            vertex(col, row + 1);
        }
        glEnd();
    }
    glEndList();
}

int Heightmap::drawTerrain(double viewerX, double viewerZ, double lookX, double lookZ, bool inViewOnly) const {
    if (tiles.empty()) return 0;
    // Of the tiles near and ahead, those outside the view volume draw no pixel.
    const Frustum view = Frustum::current();
    return tiles.front()->draw(viewerX, viewerZ, lookX, lookZ, inViewOnly ? &view : nullptr);
}

Vector3 Heightmap::vertexNormal(int col, int row) const {
    if (heights_.empty()) return {0, 0, 0};
    col = clampIndex(col, columns_);
    row = clampIndex(row, rows_);
    const int right = col >= columns_ - 1 ? col : col + 1;
    const int left = col <= 0 ? col : col - 1;
    const int ahead = row >= rows_ - 1 ? row : row + 1;
    const int back = row <= 0 ? row : row - 1;
    const double h0 = heights_[row][col];
    // Offsets in grid steps, heights in world units: slopes shade as if 1 / q
    // times less steep than they are.
    auto towards = [&](int dx, int dz, int nRow, int nCol) { return Vector3(dx, heights_[nRow][nCol] - h0, dz); };
    const Vector3 edges[4] = {towards(0, 1, ahead, col), towards(1, 0, row, right), towards(0, -1, back, col),
                              towards(-1, 0, row, left)};
    const Vector3 corners[4] = {towards(1, 1, ahead, right), towards(1, -1, back, right),
                                towards(-1, -1, back, left), towards(-1, 1, ahead, left)};
    Vector3 sum;
    for (int k = 0; k < 4; ++k) {
        sum += cross(edges[k], edges[(k + 1) % 4]).normalized();
        sum += cross(corners[k], corners[(k + 1) % 4]).normalized();
    }
    return sum;
}

std::array<float, 3> Heightmap::vertexColour(int col, int row) const {
    if (colours_.empty()) return {1.0f, 1.0f, 1.0f};
    const std::array<unsigned char, 3>& stored =
        colours_[static_cast<std::size_t>(clampIndex(row, rows_)) * (columns_ + 1) + clampIndex(col, columns_)];
    return {stored[2] / 255.0f, stored[1] / 255.0f, stored[0] / 255.0f};
}

namespace {

// Why the picture cannot serve the terrain, or an empty string when it can.
std::string pictureProblem(KVEL::BitmapTexture& picture, int channels, const char* kind) {
    if (picture.data() == nullptr || picture.width() <= 0 || picture.height() <= 0) return "could not be loaded";
    if (picture.bitmap()->m_channels != channels) return std::string("is not ") + kind + " picture";
    return "";
}

}  // namespace

void buildTerrainFromPictures(Heightmap& terrain, KVEL::BitmapTexture& depth, const char* depthName,
                              KVEL::BitmapTexture& colour, const char* colourName) {
    const std::string depthProblem = pictureProblem(depth, 1, "an 8-bit");
    const std::string colourProblem = pictureProblem(colour, 3, "a 24-bit");
    if (!depthProblem.empty()) std::cerr << "valley: terrain picture " << depthName << ' ' << depthProblem << '\n';
    if (!colourProblem.empty()) std::cerr << "valley: terrain picture " << colourName << ' ' << colourProblem << '\n';
    if (!depthProblem.empty() || !colourProblem.empty()) {
        terrain.buildTerrain(nullptr, 0, 0, nullptr, 0, 0);
        return;
    }
    if (depth.width() != colour.width() || depth.height() != colour.height()) {
        std::cerr << "valley: " << depthName << " is " << depth.width() << 'x' << depth.height() << " but "
                  << colourName << " is " << colour.width() << 'x' << colour.height()
                  << "; the terrain uses the part they share\n";
    }
    terrain.buildTerrain(depth.data(), depth.width(), depth.height(), colour.data(), colour.width(),
                         colour.height());
}

}  // namespace tide
