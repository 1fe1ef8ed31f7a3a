#include "world/quadtree.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "support/gl_context.h"

using tide::Quadtree;

namespace {

// A leaf for the rectangle x0..x1 by z0..z1, with the corners in tile order.
Quadtree* tile(double x0, double z0, double x1, double z1, int list = 1) {
    return new Quadtree(x0, z1, x1, z0, x1, z1, x0, z0, list);
}

// A leaf whose circle has centre (cx, cz) and the given radius.
std::unique_ptr<Quadtree> circle(double cx, double cz, double radius) {
    return std::make_unique<Quadtree>(cx - radius, cz, cx + radius, cz, cx, cz + radius, cx, cz - radius, 1);
}

// `perSide` x `perSide` square tiles of size `size`, row by row from the origin.
std::vector<Quadtree*> tileGrid(int perSide, double size) {
    std::vector<Quadtree*> tiles;
    for (int i = 0; i < perSide; ++i)
        for (int j = 0; j < perSide; ++j) tiles.push_back(tile(j * size, i * size, (j + 1) * size, (i + 1) * size));
    return tiles;
}

}  // namespace

TEST(Quadtree, LeafCircleIsTheTileRectangle) {
    std::unique_ptr<Quadtree> leaf(tile(0, 0, 2.5, 1.25));
    EXPECT_DOUBLE_EQ(leaf->centreX(), 1.25);
    EXPECT_DOUBLE_EQ(leaf->centreZ(), 0.625);
    EXPECT_NEAR(leaf->boundRadius(), std::sqrt(1.25 * 1.25 + 0.625 * 0.625), 1e-12);
}

TEST(Quadtree, InnerNodeCircleIsTheGroupHalfDiagonal) {
    std::vector<Quadtree*> nodes = tileGrid(2, 1.0);
    tide::mergeLevels(nodes, 2);
    ASSERT_EQ(nodes.size(), 1u);
    std::unique_ptr<Quadtree> root(nodes[0]);
    EXPECT_DOUBLE_EQ(root->centreX(), 1.0);
    EXPECT_DOUBLE_EQ(root->centreZ(), 1.0);
    EXPECT_NEAR(root->boundRadius(), std::sqrt(2.0), 1e-12);
}

TEST(Quadtree, CullsByRangeAndBySide) {
    // A viewer standing at the centre always sees the tile, whatever it faces.
    const auto here = circle(3, 4, 0.5);
    EXPECT_EQ(here->draw(3, 4, 1, 0), 1);
    EXPECT_EQ(here->draw(3, 4, 0, -1), 1);
    EXPECT_EQ(here->draw(3, 4, 0.01, 0.01), 1);

    // A tile is in range while r^2 > d^2 - 18^2: here up to d = 18.054.
    EXPECT_EQ(circle(18, 0, 1.4)->draw(0, 0, 1, 0), 1);
    EXPECT_EQ(circle(18.05, 0, 1.4)->draw(0, 0, 1, 0), 1);
    EXPECT_EQ(circle(18.06, 0, 1.4)->draw(0, 0, 1, 0), 0);
    EXPECT_EQ(circle(20, 0, 1.4)->draw(0, 0, 1, 0), 0);

    // Wholly behind the viewer: -5 + 1.4 < 0. Partly behind: -1 + 1.4 > 0.
    EXPECT_EQ(circle(-5, 0, 1.4)->draw(0, 0, 1, 0), 0);
    EXPECT_EQ(circle(-1, 0, 1.4)->draw(0, 0, 1, 0), 1);

    // A zero look vector sees nothing, even the tile underfoot.
    EXPECT_EQ(here->draw(3, 4, 0, 0), 0);
}

TEST(Quadtree, PaddingTileWithoutListDrawsNothing) {
    std::unique_ptr<Quadtree> empty(tile(0, 0, 1, 1, 0));
    EXPECT_EQ(empty->draw(0.5, 0.5, 1, 0), 0);
}

TEST(Quadtree, SetChildIgnoresUnknownSlots) {
    Quadtree inner(0, 0, 1, 0, 0, 1, 1, 1);
    std::unique_ptr<Quadtree> stray(tile(0, 0, 1, 1));
    inner.setChild(0, stray.get());  // ignored, so not taken either
    inner.setChild(5, stray.get());
    EXPECT_EQ(inner.draw(0.5, 0.5, 1, 0), 0);
    for (int slot = 1; slot <= 4; ++slot) inner.setChild(slot, tile(0, 0, 1, 1));
    EXPECT_EQ(inner.draw(0.5, 0.5, 1, 0), 4);
}

TEST(Quadtree, AllOf1024TilesDrawnWhenAllAreInView) {
    std::vector<Quadtree*> nodes = tileGrid(32, 0.25);  // 8 x 8 units
    tide::mergeLevels(nodes, 32);
    ASSERT_EQ(nodes.size(), 1u);
    std::unique_ptr<Quadtree> root(nodes[0]);
    EXPECT_EQ(root->draw(-1, 4, 1, 0), 1024);
    EXPECT_EQ(root->draw(-1, 4, -1, 0), 0);
}

TEST(Quadtree, TreeDrawsExactlyTheTilesThatPassOnTheirOwn) {
    // Every inner circle encloses its children's and both tests accept a circle
    // whenever they accept one inside it, so the tree never loses a tile.
    std::vector<Quadtree*> leaves = tileGrid(16, 2.5);  // 40 x 40 units
    std::vector<Quadtree*> nodes = leaves;
    tide::mergeLevels(nodes, 16);
    std::unique_ptr<Quadtree> root(nodes[0]);
    const double viewers[][4] = {{1, 6, 1, 0}, {20, 20, 0.6, 0.8}, {39, 1, -1, 1}, {-30, 10, 1, 0}, {10, 35, 0, -2}};
    for (const auto& v : viewers) {
        int expected = 0;
        for (const Quadtree* leaf : leaves) expected += leaf->draw(v[0], v[1], v[2], v[3]);
        EXPECT_EQ(root->draw(v[0], v[1], v[2], v[3]), expected) << "viewer at " << v[0] << ", " << v[1];
    }
}

TEST(Quadtree, DrawnLeafCallsItsDisplayList) {
    testgl::resetState();
    testgl::setOrtho(0, 1, 0, 1);
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    glColor3d(1, 0, 0);
    glRectd(0, 0, 1, 1);
    glEndList();

    std::unique_ptr<Quadtree> leaf(tile(0, 0, 1, 1, static_cast<int>(list)));
    EXPECT_EQ(leaf->draw(30, 30, 1, 0), 0);  // out of range: the list is not called
    EXPECT_EQ(testgl::pixelAt(320, 240), (testgl::Rgb{0, 0, 0}));
    EXPECT_EQ(leaf->draw(0.5, 0.5, 1, 0), 1);
    EXPECT_EQ(testgl::pixelAt(320, 240), (testgl::Rgb{255, 0, 0}));

    glDeleteLists(list, 1);
    testgl::resetState();
}
