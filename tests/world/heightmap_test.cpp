#include "world/heightmap.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "imagelib/gl/bitmap_texture.h"
#include "support/gl_context.h"

using tide::Heightmap;

namespace {

// A depth picture and a colour picture (blue, green, red) of one size.
struct Pictures {
    int width;
    int height;
    std::vector<unsigned char> depth;
    std::vector<unsigned char> colour;

    Pictures(int w, int h, unsigned char value = 0, unsigned char blue = 0, unsigned char green = 0,
             unsigned char red = 255)
        : width(w), height(h), depth(static_cast<size_t>(w) * h, value), colour(static_cast<size_t>(w) * h * 3) {
        for (size_t p = 0; p < depth.size(); ++p) {
            colour[3 * p] = blue;
            colour[3 * p + 1] = green;
            colour[3 * p + 2] = red;
        }
    }
    void build(Heightmap& terrain) const { terrain.buildTerrain(depth.data(), colour.data(), width, height); }
};

void expectVector(const Vector3& v, double x, double y, double z) {
    EXPECT_NEAR(v.x, x, 1e-9);
    EXPECT_NEAR(v.y, y, 1e-9);
    EXPECT_NEAR(v.z, z, 1e-9);
}

// Looks straight down on the whole terrain: x to the right, z upward.
void viewFromAbove(const Heightmap& terrain) {
    testgl::resetState();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, terrain.extentX(), 0, terrain.extentZ(), -1e4, 1e4);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotated(-90, 1, 0, 0);
}

// Pixels of the window that the terrain left at the black clear colour.
int uncoveredPixels() {
    int count = 0;
    for (const testgl::Rgb& px : testgl::readPixels(0, 0, testgl::kWidth, testgl::kHeight))
        if (px == testgl::Rgb{0, 0, 0}) ++count;
    return count;
}

}  // namespace

TEST(Heightmap, PictureOf512x256GivesTheGameScale) {
    const Pictures pictures(512, 256, 3);
    Heightmap terrain;
    pictures.build(terrain);
    EXPECT_EQ(terrain.columns(), 512);
    EXPECT_EQ(terrain.rows(), 256);
    EXPECT_DOUBLE_EQ(terrain.cellSize(), 0.15625);
    EXPECT_DOUBLE_EQ(terrain.extentX(), 80.0);
    EXPECT_DOUBLE_EQ(terrain.extentZ(), 40.0);
    EXPECT_DOUBLE_EQ(terrain.samplesPerUnit(), 6.4);
    EXPECT_DOUBLE_EQ(terrain.rows() / terrain.extentZ(), 6.4);
    // 32 x 32 tiles of 8 rows by 16 columns; a tree of depth 6 (tiles and five merge levels).
    EXPECT_EQ(terrain.tileCount(), 1024);
    EXPECT_EQ(terrain.tilesPerSide(), 32);
    ASSERT_EQ(terrain.heightRows().size(), 257u);
    EXPECT_EQ(terrain.heightRows()[0].size(), 513u);
}

TEST(Heightmap, HeightsAndColoursComeFromThePixels) {
    Pictures pictures(32, 16);
    for (int p = 0; p < 32 * 16; ++p) {
        pictures.depth[p] = static_cast<unsigned char>(p * 7);
        pictures.colour[3 * p] = static_cast<unsigned char>(p);           // blue
        pictures.colour[3 * p + 1] = static_cast<unsigned char>(p / 2);   // green
        pictures.colour[3 * p + 2] = static_cast<unsigned char>(255 - p);  // red
    }
    pictures.depth[0] = 255;
    pictures.depth[1] = 0;
    Heightmap terrain;
    pictures.build(terrain);
    const double q = terrain.cellSize();
    EXPECT_DOUBLE_EQ(q, 2.5);
    const Heightmap::HeightGrid& heights = terrain.heightRows();
    EXPECT_DOUBLE_EQ(heights[0][0], 255 * q);
    EXPECT_DOUBLE_EQ(heights[0][1], 0.0);
    EXPECT_DOUBLE_EQ(heights[3][5], static_cast<unsigned char>((3 * 32 + 5) * 7) * q);
    const std::array<float, 3> rgb = terrain.vertexColour(5, 3);
    EXPECT_FLOAT_EQ(rgb[0], (255 - (3 * 32 + 5)) / 255.0f);
    EXPECT_FLOAT_EQ(rgb[1], ((3 * 32 + 5) / 2) / 255.0f);
    EXPECT_FLOAT_EQ(rgb[2], (3 * 32 + 5) / 255.0f);

    // The extra column and row repeat the last ones, corner included.
    for (int row = 0; row <= 16; ++row) {
        EXPECT_EQ(heights[row][32], heights[row][31]);
        EXPECT_EQ(terrain.vertexColour(32, row), terrain.vertexColour(31, row));
    }
    for (int col = 0; col <= 32; ++col) {
        EXPECT_EQ(heights[16][col], heights[15][col]);
        EXPECT_EQ(terrain.vertexColour(col, 16), terrain.vertexColour(col, 15));
    }
}

TEST(Heightmap, FlatPictureHasNormalZeroEightZeroEverywhere) {
    const Pictures pictures(32, 16, 40);
    Heightmap terrain;
    pictures.build(terrain);
    for (int row = 0; row <= 16; ++row)
        for (int col = 0; col <= 32; ++col) expectVector(terrain.vertexNormal(col, row), 0, 8, 0);
}

TEST(Heightmap, PlaneNormalIsEightTimesItsGridSpaceDirection) {
    // Heights a * col + b * row, a = q and b = 2q per grid step.
    Pictures pictures(32, 16);
    for (int row = 0; row < 16; ++row)
        for (int col = 0; col < 32; ++col) pictures.depth[row * 32 + col] = static_cast<unsigned char>(col + 2 * row);
    Heightmap terrain;
    pictures.build(terrain);
    const double q = terrain.cellSize();
    const Vector3 expected = Vector3(-q, 1, -2 * q).normalized() * 8;
    for (const auto& at : {std::pair<int, int>(5, 5), std::pair<int, int>(20, 9), std::pair<int, int>(1, 14)})
        expectVector(terrain.vertexNormal(at.first, at.second), expected.x, expected.y, expected.z);
    // Outside the grid the nearest vertex answers.
    const Vector3 corner = terrain.vertexNormal(32, 16);
    const Vector3 beyond = terrain.vertexNormal(500, -7);
    EXPECT_TRUE(std::isfinite(beyond.x) && std::isfinite(beyond.y) && std::isfinite(beyond.z));
    expectVector(terrain.vertexNormal(99, 99), corner.x, corner.y, corner.z);
}

TEST(Heightmap, TilesDrawThePictureColoursInRedGreenBlue) {
    const Pictures pictures(64, 32, 10, 20, 200, 90);  // blue 20, green 200, red 90
    Heightmap terrain;
    pictures.build(terrain);
    viewFromAbove(terrain);
    EXPECT_GT(terrain.drawTerrain(40, 20, 1, 0), 0);
    const testgl::Rgb px = testgl::pixelAt(440, 240);  // just ahead of the viewer
    EXPECT_NEAR(px.r, 90, 1);
    EXPECT_NEAR(px.g, 200, 1);
    EXPECT_NEAR(px.b, 20, 1);
    testgl::resetState();
}

TEST(Heightmap, CullingFromTheStartDrawsOnlyNearbyTilesAhead) {
    const Pictures pictures(512, 256, 5);
    Heightmap terrain;
    pictures.build(terrain);
    const int fromStart = terrain.drawTerrain(1, 10, 1, 0);
    EXPECT_GT(fromStart, 0);
    EXPECT_LT(fromStart, terrain.tileCount() / 4);
    EXPECT_EQ(terrain.drawTerrain(1, 10, 0, 0), 0);
    EXPECT_EQ(terrain.drawTerrain(-40, 10, -1, 0), 0);
    testgl::resetState();
}

// Pictures whose sizes the basic tiling does not fit: W <= H, heights that are
// not 8 times a power of two, widths that are not a multiple of the height.
// Viewers all over the terrain together must draw every part of it.
class HeightmapOddSize : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(HeightmapOddSize, EverySampleIsDrawn) {
    const int width = GetParam().first;
    const int height = GetParam().second;
    Pictures pictures(width, height);
    for (size_t p = 0; p < pictures.depth.size(); ++p) pictures.depth[p] = static_cast<unsigned char>(p * 37);
    Heightmap terrain;
    pictures.build(terrain);
    EXPECT_GT(terrain.tileCount(), 0);
    EXPECT_DOUBLE_EQ(terrain.extentX(), width * terrain.cellSize());
    EXPECT_DOUBLE_EQ(terrain.extentZ(), height * terrain.cellSize());
    viewFromAbove(terrain);
    // Every point lies within 8.5 units of one of the viewers.
    for (double x = 0; x <= terrain.extentX() + 12; x += 12)
        for (double z = 0; z <= terrain.extentZ() + 12; z += 12)
            for (double look : {1.0, -1.0}) terrain.drawTerrain(x, z, look, 0);
    EXPECT_EQ(uncoveredPixels(), 0);
    testgl::resetState();
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeightmapOddSize,
                         ::testing::Values(std::make_pair(40, 24), std::make_pair(37, 13), std::make_pair(32, 32),
                                           std::make_pair(24, 40), std::make_pair(16, 64), std::make_pair(600, 256),
                                           std::make_pair(9, 3), std::make_pair(1, 1)));

// Feedback of the tile lists, lit, seen from above: each vertex the lists
// record must come out exactly as the same grid vertex drawn alone from
// vertexColour, vertexNormal and the height grid.
class HeightmapListVertices : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(HeightmapListVertices, MatchTheVertexComputedAlone) {
    const auto [width, height] = GetParam();
    Pictures pictures(width, height);
    unsigned seed = 12345;
    auto next = [&seed] { return static_cast<unsigned char>((seed = seed * 1103515245 + 12345) >> 16); };
    for (unsigned char& byte : pictures.colour) byte = next();
    for (unsigned char& value : pictures.depth) value = next();
    Heightmap terrain;
    pictures.build(terrain);
    // As viewFromAbove, with a margin of one grid step: the border may be clipped.
    testgl::resetState();
    const double q = terrain.cellSize();
    glMatrixMode(GL_PROJECTION);
    glOrtho(-q, terrain.extentX() + q, -q, terrain.extentZ() + q, -1e4, 1e4);
    glMatrixMode(GL_MODELVIEW);
    glRotated(-90, 1, 0, 0);
    const GLfloat light[4] = {0.3f, 0.5f, 0.8f, 0.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, light);
    for (GLenum cap : {GL_LIGHT0, GL_LIGHTING, GL_COLOR_MATERIAL, GL_NORMALIZE}) glEnable(cap);
    constexpr int kFloatsPerVertex = 7;  // window x, y, z and red, green, blue, alpha
    std::vector<GLfloat> buffer(1 << 20);
    auto feedback = [&](auto draw) {
        glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR, buffer.data());
        glRenderMode(GL_FEEDBACK);
        draw();
        const GLint used = glRenderMode(GL_RENDER);
        EXPECT_GE(used, 0) << "feedback buffer too small";
        return std::vector<GLfloat>(buffer.begin(), buffer.begin() + std::max(used, 0));
    };
    const std::vector<GLfloat> tiles = feedback([&] {
        for (int i = 0; i < terrain.tileCount(); ++i) glCallList(static_cast<GLuint>(terrain.firstTileList() + i));
    });
    // Per grid vertex: its feedback as a point, the token first.
    std::vector<std::vector<GLfloat>> alone(static_cast<size_t>(width + 1) * (height + 1));
    for (size_t i = 0; i < tiles.size(); i += 2 + 3 * kFloatsPerVertex) {
        ASSERT_EQ(tiles[i], GL_POLYGON_TOKEN);
        ASSERT_EQ(tiles[i + 1], 3.0f);
        for (const GLfloat* v = &tiles[i + 2]; v < &tiles[i + 2 + 3 * kFloatsPerVertex]; v += kFloatsPerVertex) {
            const int col = static_cast<int>(std::lround(v[0] / testgl::kWidth * (width + 2) - 1));
            const int row = static_cast<int>(std::lround(v[1] / testgl::kHeight * (height + 2) - 1));
            ASSERT_TRUE(col >= 0 && col <= width && row >= 0 && row <= height);
            std::vector<GLfloat>& point = alone[static_cast<size_t>(row) * (width + 1) + col];
            if (point.empty()) {
                point = feedback([&] {
                    const Vector3 n = terrain.vertexNormal(col, row);
                    glBegin(GL_POINTS);
                    glColor3fv(terrain.vertexColour(col, row).data());
                    glNormal3d(n.x, n.y, n.z);
                    glVertex3d(col * q, terrain.heightRows()[row][col], row * q);
                    glEnd();
                });
            }
            ASSERT_EQ(point.size(), 1u + kFloatsPerVertex);
            for (int f = 0; f < kFloatsPerVertex; ++f)
                ASSERT_EQ(v[f], point[1 + f]) << "vertex " << col << ',' << row << " value " << f;
        }
    }
    // The tiles cover the grid: every vertex was recorded.
    EXPECT_EQ(std::count_if(alone.begin(), alone.end(), [](const auto& p) { return p.empty(); }), 0);
    testgl::resetState();
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeightmapListVertices,
                         ::testing::Values(std::make_pair(64, 32), std::make_pair(37, 13), std::make_pair(16, 40)));

TEST(Heightmap, MissingPictureLeavesNoTilesInAFiniteWorld) {
    const Pictures good(32, 16, 8);
    Heightmap terrain;
    good.build(terrain);
    ASSERT_GT(terrain.tileCount(), 0);
    struct Case {
        const unsigned char* depth;
        const unsigned char* colour;
        int width;
        int height;
    } cases[] = {{nullptr, good.colour.data(), 32, 16},
                 {good.depth.data(), nullptr, 32, 16},
                 {good.depth.data(), good.colour.data(), 0, 16},
                 {good.depth.data(), good.colour.data(), 32, 0},
                 {good.depth.data(), good.colour.data(), -4, 16}};
    for (const Case& c : cases) {
        terrain.buildTerrain(c.depth, c.colour, c.width, c.height);
        EXPECT_EQ(terrain.tileCount(), 0);
        EXPECT_EQ(terrain.drawTerrain(1, 10, 1, 0), 0);
        EXPECT_TRUE(terrain.heightRows().empty());
        EXPECT_EQ(terrain.rows(), 0);
        EXPECT_GT(terrain.extentX(), 0.0);
        EXPECT_GT(terrain.extentZ(), 0.0);
        EXPECT_TRUE(std::isfinite(terrain.extentX()) && std::isfinite(terrain.extentZ()));
        EXPECT_TRUE(std::isfinite(terrain.samplesPerUnit()) && terrain.samplesPerUnit() > 0.0);
    }
    good.build(terrain);  // a later good picture builds normally
    EXPECT_EQ(terrain.tileCount(), 4);
}

TEST(Heightmap, PicturesOfDifferentSizesUseTheirCommonPart) {
    // Exactly sized buffers: a read past either picture is an out-of-bounds read.
    Pictures depth(32, 16);
    for (int row = 0; row < 16; ++row)
        for (int col = 0; col < 32; ++col) depth.depth[row * 32 + col] = static_cast<unsigned char>(col);
    Pictures colour(20, 24);
    for (int row = 0; row < 24; ++row) {
        for (int col = 0; col < 20; ++col) {
            unsigned char* px = &colour.colour[3 * (row * 20 + col)];
            px[0] = static_cast<unsigned char>(row);
            px[1] = static_cast<unsigned char>(col);
            px[2] = 7;
        }
    }
    Heightmap terrain;
    terrain.buildTerrain(depth.depth.data(), 32, 16, colour.colour.data(), 20, 24);
    EXPECT_EQ(terrain.columns(), 20);
    EXPECT_EQ(terrain.rows(), 16);
    const double q = terrain.cellSize();
    EXPECT_DOUBLE_EQ(terrain.heightRows()[9][13], 13 * q);
    EXPECT_DOUBLE_EQ(terrain.heightRows()[16][20], 19 * q);
    const std::array<float, 3> rgb = terrain.vertexColour(13, 9);
    EXPECT_FLOAT_EQ(rgb[0], 7 / 255.0f);
    EXPECT_FLOAT_EQ(rgb[1], 13 / 255.0f);
    EXPECT_FLOAT_EQ(rgb[2], 9 / 255.0f);
}

TEST(Heightmap, TileListsLeaveOtherListsAlone) {
    // Free names between lists in use: the terrain's lists land in that gap.
    const GLuint gap = glGenLists(64);
    const GLuint other = glGenLists(1);
    glNewList(other, GL_COMPILE);
    glColor3d(0, 1, 0);
    glRectd(-1, -1, 1, 1);
    glEndList();
    glDeleteLists(gap, 64);

    const Pictures pictures(128, 64, 1);  // 8 x 8 tiles
    Heightmap terrain;
    pictures.build(terrain);
    ASSERT_EQ(terrain.tileCount(), 64);
    EXPECT_TRUE(other < static_cast<GLuint>(terrain.firstTileList()) ||
                other >= static_cast<GLuint>(terrain.firstTileList() + terrain.tileCount()));

    testgl::resetState();
    glCallList(other);
    EXPECT_EQ(testgl::pixelAt(320, 240), (testgl::Rgb{0, 255, 0}));
    glDeleteLists(other, 1);
    testgl::resetState();
}

TEST(Heightmap, BadPicturesAreNamedOnStandardError) {
    KVEL::BitmapTexture missing;
    KVEL::BitmapTexture depth;
    KVEL::BitmapTexture colour;
    depth.bitmap()->createFromBuffer(32, 16, 1, nullptr);
    colour.bitmap()->createFromBuffer(32, 16, 3, nullptr);
    Heightmap terrain;

    testing::internal::CaptureStderr();
    tide::buildTerrainFromPictures(terrain, missing, "gone.bmp", colour, "colour.bmp");
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("gone.bmp"), std::string::npos) << message;
    EXPECT_EQ(message.find("colour.bmp"), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);
    EXPECT_EQ(terrain.tileCount(), 0);
    EXPECT_GT(terrain.extentZ(), 0.0);

    // Each picture must be of its own kind: one channel of heights, three of colour.
    testing::internal::CaptureStderr();
    tide::buildTerrainFromPictures(terrain, colour, "colour.bmp", depth, "depth.bmp");
    message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("colour.bmp is not an 8-bit picture"), std::string::npos) << message;
    EXPECT_NE(message.find("depth.bmp is not a 24-bit picture"), std::string::npos) << message;
    EXPECT_EQ(terrain.tileCount(), 0);

    testing::internal::CaptureStderr();
    tide::buildTerrainFromPictures(terrain, depth, "depth.bmp", colour, "colour.bmp");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(terrain.tileCount(), 4);
}
