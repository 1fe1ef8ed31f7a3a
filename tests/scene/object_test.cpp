#include "scene/object.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include "support/gl_context.h"
#include "support/lit_region.h"

using tide::rObject;

namespace {

// A square of side 0.1 around the model origin, recorded into both lists;
// counts its compiles so recompiling can be observed.
class Marker : public rObject {
public:
    Marker() { compile(); }
    void compile() override {
        ++compiles;
        for (int list : {listId, blendListId}) {
            glNewList(static_cast<GLuint>(list), GL_COMPILE);
            glBegin(GL_QUADS);
            glVertex2d(-0.05, -0.05);
            glVertex2d(0.05, -0.05);
            glVertex2d(0.05, 0.05);
            glVertex2d(-0.05, 0.05);
            glEnd();
            glEndList();
        }
    }
    int compiles = 0;
};

// One lit pixel at the model point (1, 0, 0): shows where the placement sends it.
class Dot : public rObject {
public:
    Dot() { compile(); }
    void compile() override {
        glNewList(static_cast<GLuint>(listId), GL_COMPILE);
        glBegin(GL_POINTS);
        glVertex3d(1, 0, 0);
        glEnd();
        glEndList();
    }
};

// A composite whose list is the shared composite compile of its children.
class Group : public rObject {
public:
    void compile() override { compileComposite(); }
};

class RObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        testgl::resetState();
        testgl::setOrtho(-1, 1, -1, 1);
    }
};

// Ortho -1..1 over the 640x480 window: world (x, y) to pixel.
double pixelX(double x) { return (x + 1) / 2 * testgl::kWidth; }
double pixelY(double y) { return (y + 1) / 2 * testgl::kHeight; }

}  // namespace

TEST_F(RObjectTest, FreshObjectDrawsWhiteUnscaledUnrotatedAtTheOriginUntextured) {
    Marker m;
    EXPECT_FALSE(m.hasTexture);
    EXPECT_FALSE(m.textureOn);
    EXPECT_FALSE(m.translucent);
    for (double c : m.colour) EXPECT_EQ(c, 1.0);

    m.draw();
    const testgl::LitRegion r = testgl::litRegion();
    EXPECT_EQ(testgl::pixelAt(320, 240), (testgl::Rgb{255, 255, 255}));
    EXPECT_NEAR(r.centreX, pixelX(0) - 0.5, 0.6);
    EXPECT_NEAR(r.centreY, pixelY(0) - 0.5, 0.6);
    EXPECT_NEAR(r.maxX - r.minX + 1, 0.1 / 2 * testgl::kWidth, 1.0);
    EXPECT_NEAR(r.maxY - r.minY + 1, 0.1 / 2 * testgl::kHeight, 1.0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(RObjectTest, PlacementAppliesInnerScaleInnerRotationTranslationOuterRotationOuterScaleInOrder) {
    Dot d;
    glPointSize(3);
    d.setInnerScale(0.2)->setInnerRotation(90, 0, 0, 1)->setTranslation(0.3, 0, 0);
    d.setOuterRotation(90, 0, 0, 1)->setOuterScale(2);
    d.draw();
    glPointSize(1);
    // (1,0,0) -> scale (0.2,0,0) -> turn (0,0.2,0) -> move (0.3,0.2,0)
    // -> turn about the origin (-0.2,0.3,0) -> scale (-0.4,0.6,0).
    const testgl::LitRegion r = testgl::litRegion();
    ASSERT_GT(r.count, 0);
    EXPECT_NEAR(r.centreX, pixelX(-0.4), 1.0);
    EXPECT_NEAR(r.centreY, pixelY(0.6), 1.0);
}

TEST_F(RObjectTest, ZeroAngleRotationIsTheIdentityWhateverItsAxis) {
    Dot d;
    d.setInnerRotation(0, 0, 1, 0)->setOuterRotation(0, 0, 0, 0)->setTranslation(-0.5, 0, 0);
    d.draw();
    const testgl::LitRegion r = testgl::litRegion();
    ASSERT_GT(r.count, 0);
    EXPECT_NEAR(r.centreX, pixelX(0.5), 1.0);
    EXPECT_NEAR(r.centreY, pixelY(0), 1.0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(RObjectTest, DrawBlendedAddsTheBlendListAndRestoresBlendAndDepthState) {
    glClearColor(0, 0, 0.4f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    Marker m;
    m.setColour(1, 0, 0, 0.5);
    m.drawBlended();
    const testgl::Rgb p = testgl::pixelAt(320, 240);
    EXPECT_NEAR(p.r, 128, 1);
    EXPECT_EQ(p.g, 0);
    EXPECT_NEAR(p.b, 102, 1);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    GLboolean depthMask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    EXPECT_TRUE(depthMask);
}

TEST_F(RObjectTest, TextureSwitchesOnOnlyWithANonZeroTextureAndRecompiles) {
    Marker m;
    m.setTexture(0)->enableTexture();
    EXPECT_FALSE(m.hasTexture);
    EXPECT_FALSE(m.textureOn);

    const int before = m.compiles;
    m.setTexture(7)->enableTexture();
    EXPECT_TRUE(m.hasTexture);
    EXPECT_TRUE(m.textureOn);
    EXPECT_EQ(m.textureId, 7);
    m.disableTexture();
    EXPECT_FALSE(m.textureOn);
    EXPECT_EQ(m.compiles, before + 2);

    rObject textured(9);
    EXPECT_TRUE(textured.hasTexture);
    EXPECT_EQ(textured.textureId, 9);
}

TEST_F(RObjectTest, ResetRestoresEveryDefault) {
    Marker m;
    m.setInnerScale(2, 3, 4)->setOuterScale(5)->setTranslation(1, 2, 3);
    m.setInnerRotation(10, 1, 0, 0)->setOuterRotation(20, 0, 1, 0)->setTexture(3)->enableTexture();
    m.setColour(0.1, 0.2, 0.3, 0.4);
    m.translucent = true;
    m.reset();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m.innerScale[i], 1.0);
        EXPECT_EQ(m.outerScale[i], 1.0);
        EXPECT_EQ(m.translation[i], 0.0);
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(m.colour[i], 1.0);
        EXPECT_EQ(m.innerRotation[i], 0.0);
        EXPECT_EQ(m.outerRotation[i], 0.0);
    }
    EXPECT_FALSE(m.hasTexture);
    EXPECT_FALSE(m.textureOn);
    EXPECT_EQ(m.textureId, 0);
    EXPECT_FALSE(m.translucent);
}

TEST_F(RObjectTest, SetColourAllColoursEveryDescendantChildrenBeforeParent) {
    Marker root, child, grandchild;
    child.children.push_back(&grandchild);
    root.children.push_back(&child);
    const int rootBefore = root.compiles, childBefore = child.compiles, grandBefore = grandchild.compiles;

    root.setColourAll(1, 1, 0);
    for (const Marker* m : {&root, &child, &grandchild}) {
        EXPECT_EQ(m->colour[0], 1.0);
        EXPECT_EQ(m->colour[1], 1.0);
        EXPECT_EQ(m->colour[2], 0.0);
        EXPECT_EQ(m->colour[3], 1.0);
    }
    EXPECT_EQ(root.compiles, rootBefore + 1);
    EXPECT_EQ(child.compiles, childBefore + 1);
    EXPECT_EQ(grandchild.compiles, grandBefore + 1);
}

TEST_F(RObjectTest, SetColourAllWithoutChildrenSetsOnlyItsOwnColour) {
    Marker m;
    m.setColourAll(0, 1, 0, 0.5);
    EXPECT_EQ(m.colour[1], 1.0);
    EXPECT_EQ(m.colour[3], 0.5);
}

TEST_F(RObjectTest, CompositeListHoldsEveryChildUnderItsOwnPlacement) {
    Marker left, right;
    left.setTranslation(-0.5, 0, 0);
    left.setColour(1, 0, 0);
    right.setTranslation(0.5, 0, 0);
    right.setColour(0, 1, 0);
    Group g;
    g.children.push_back(&left);
    g.children.push_back(&right);
    g.compile();
    g.setTranslation(0, 0.5, 0);
    g.draw();
    EXPECT_EQ(testgl::pixelAt(static_cast<int>(pixelX(-0.5)), static_cast<int>(pixelY(0.5))),
              (testgl::Rgb{255, 0, 0}));
    EXPECT_EQ(testgl::pixelAt(static_cast<int>(pixelX(0.5)), static_cast<int>(pixelY(0.5))),
              (testgl::Rgb{0, 255, 0}));
    EXPECT_EQ(testgl::pixelAt(320, 240), (testgl::Rgb{0, 0, 0}));
}

TEST_F(RObjectTest, ChildAtReturnsNullFromTheNumberOfChildrenOn) {
    Marker parent, child;
    parent.children.push_back(&child);
    EXPECT_EQ(parent.childAt(0), &child);
    EXPECT_EQ(parent.childAt(1), nullptr);
    EXPECT_EQ(parent.childAt(~0u), nullptr);
}

TEST_F(RObjectTest, EveryObjectTakesTwoDistinctListNames) {
    Marker a, b;
    EXPECT_NE(a.listId, 0);
    EXPECT_NE(a.listId, a.blendListId);
    EXPECT_NE(a.listId, b.listId);
    EXPECT_NE(a.blendListId, b.blendListId);
}
