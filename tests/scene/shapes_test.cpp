#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>

#include "scene/cuboid.h"
#include "scene/point.h"
#include "scene/polygon.h"
#include "scene/ship.h"
#include "scene/sphere.h"
#include "support/gl_context.h"
#include "support/lit_region.h"

using tide::Cuboid;
using tide::Point;
using tide::Polygon;
using tide::rObject;

namespace {

constexpr double kEps = 1e-12;
constexpr testgl::Rgb kYellow{255, 255, 0};

// 240 pixels per unit on both axes, origin at the window centre.
class ShapesTest : public ::testing::Test {
protected:
    void SetUp() override {
        testgl::resetState();
        testgl::setOrtho(-4.0 / 3, 4.0 / 3, -1, 1);
    }
};

const Point* cornerOf(const rObject& shape, unsigned i) {
    return dynamic_cast<const Point*>(const_cast<rObject&>(shape).childAt(i));
}

}  // namespace

TEST_F(ShapesTest, SquarePolygonRunsCounterClockwiseFromTheTop) {
    Polygon square(4);
    ASSERT_EQ(square.children.size(), 4u);
    const double expected[4][2] = {{0, 1}, {-1, 0}, {0, -1}, {1, 0}};
    for (unsigned i = 0; i < 4; ++i) {
        const Point* p = cornerOf(square, i);
        ASSERT_NE(p, nullptr);
        EXPECT_NEAR(p->vertex[0], expected[i][0], kEps);
        EXPECT_NEAR(p->vertex[1], expected[i][1], kEps);
        EXPECT_EQ(p->vertex[2], 0.0);
        EXPECT_EQ(p->normal[2], -1.0);
    }
}

TEST_F(ShapesTest, PolygonResetRegeneratesRatherThanAddsCorners) {
    Polygon triangle(3);
    triangle.reset();
    triangle.reset();
    EXPECT_EQ(triangle.children.size(), 3u);
}

TEST_F(ShapesTest, PolygonIsDrawnInItsCornersColours) {
    Polygon square(4);
    square.setColourAll(0, 1, 0);
    square.setInnerScale(0.5);
    square.draw();
    EXPECT_EQ(testgl::pixelAt(320, 240), (testgl::Rgb{0, 255, 0}));
    // A diamond: the corner of its bounding box stays dark.
    EXPECT_EQ(testgl::pixelAt(320 + 110, 240 + 110), (testgl::Rgb{0, 0, 0}));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ShapesTest, TexturedPolygonGivesSquareTextureCorners) {
    // A 2x2 texture, one colour per quadrant, shows the (0,0)..(1,1) mapping.
    const unsigned char texels[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 2, 2, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);

    Polygon square(4, static_cast<int>(name));
    square.setInnerRotation(45, 0, 0, 1)->setInnerScale(0.5);
    square.enableTexture();
    square.draw();
    // Turned by 45 degrees the corners (0,0), (1,0), (1,1), (0,1) of the texture
    // land top left, bottom left, bottom right and top right.
    EXPECT_EQ(testgl::pixelAt(320 - 60, 240 + 60), (testgl::Rgb{255, 0, 0}));
    EXPECT_EQ(testgl::pixelAt(320 - 60, 240 - 60), (testgl::Rgb{0, 255, 0}));
    EXPECT_EQ(testgl::pixelAt(320 + 60, 240 - 60), (testgl::Rgb{255, 255, 0}));
    EXPECT_EQ(testgl::pixelAt(320 + 60, 240 + 60), (testgl::Rgb{0, 0, 255}));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    glDeleteTextures(1, &name);
}

TEST_F(ShapesTest, CuboidWithInnerScaleCoversItsSquareInYellow) {
    Cuboid cube;
    cube.setInnerScale(0.3);
    cube.setColourAll(1, 1, 0);
    cube.draw();
    // -0.15..0.15 units: pixels 284..355 across, 204..275 up.
    const testgl::LitRegion r = testgl::litRegion();
    EXPECT_NEAR(r.minX, 284, 1);
    EXPECT_NEAR(r.maxX, 355, 1);
    EXPECT_NEAR(r.minY, 204, 1);
    EXPECT_NEAR(r.maxY, 275, 1);
    EXPECT_EQ(testgl::pixelAt(286, 206), kYellow);
    EXPECT_EQ(testgl::pixelAt(353, 273), kYellow);
    EXPECT_EQ(testgl::pixelAt(320, 240), kYellow);
}

TEST_F(ShapesTest, CuboidSpansTheUnitCubeOnEveryAxis) {
    Cuboid cube;
    cube.setInnerScale(0.3);
    cube.setInnerRotation(90, 1, 0, 0);  // looks along its y axis instead
    cube.draw();
    const testgl::LitRegion r = testgl::litRegion();
    EXPECT_NEAR(r.minY, 204, 1);
    EXPECT_NEAR(r.maxY, 275, 1);
}

TEST_F(ShapesTest, SetColourAllReachesTheCubeItsFacesAndTheirCorners) {
    Cuboid cube;
    cube.setColourAll(1, 1, 0);
    ASSERT_EQ(cube.children.size(), 6u);
    for (unsigned f = 0; f < 6; ++f) {
        const auto* face = dynamic_cast<const Polygon*>(cube.childAt(f));
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->colour[2], 0.0);
        for (unsigned i = 0; i < 4; ++i) {
            const Point* p = cornerOf(*face, i);
            EXPECT_EQ(p->colour[0], 1.0);
            EXPECT_EQ(p->colour[1], 1.0);
            EXPECT_EQ(p->colour[2], 0.0);
            EXPECT_EQ(p->colour[3], 1.0);
        }
    }
    EXPECT_EQ(cube.colour[2], 0.0);
}

TEST_F(ShapesTest, CuboidWithFewerFacesDrawsOnlyThoseItHas) {
    Cuboid cube;
    cube.children.resize(1);
    cube.setInnerScale(0.3);
    cube.compile();
    cube.draw();
    EXPECT_NEAR(testgl::litRegion().maxX, 355, 1);
    cube.children.clear();
    cube.compile();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ShapesTest, ShipReachesFromItsRoundEndToItsConeTip) {
    tide::Ship ship(5.0);
    ship.setInnerScale(0.2, 0.1, 0.1);
    ship.draw();
    // -0.4..0.5 units along x: pixels 224..439.
    const testgl::LitRegion r = testgl::litRegion();
    EXPECT_NEAR(r.minX, 224, 1);
    EXPECT_NEAR(r.maxX, 439, 3);  // the cone narrows to a point
}

TEST_F(ShapesTest, SphereRecordsTheSameSphereInBothLists) {
    tide::Sphere sphere;
    sphere.setInnerScale(0.5);
    sphere.draw();
    const testgl::LitRegion drawn = testgl::litRegion();
    EXPECT_NEAR(drawn.maxX - drawn.minX + 1, 240, 2);

    testgl::resetState();
    testgl::setOrtho(-4.0 / 3, 4.0 / 3, -1, 1);
    sphere.drawBlended();
    const testgl::LitRegion blended = testgl::litRegion();
    EXPECT_EQ(blended.minX, drawn.minX);
    EXPECT_EQ(blended.maxX, drawn.maxX);
}
