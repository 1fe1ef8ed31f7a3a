// Skipping the tiles outside the view volume must not change a pixel: the
// game's camera, light and fog over the shipped valley,
// from views that look along, up, down, into a corner and out over an edge.
#include "world/frustum.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <vector>

#include "game/gl_setup.h"
#include "imagelib/gl/bitmap_texture.h"
#include "support/gl_context.h"
#include "world/heightmap.h"
#include "world/light.h"

TEST(Frustum, SkippingTilesOutsideTheViewChangesNoPixel) {
    KVEL::BitmapTexture depth, colour;
    depth.load(GAME_DATA_DIR "/valleyDepth.bmp");
    colour.load(GAME_DATA_DIR "/valleyTex.bmp");
    if (depth.data() == nullptr || colour.data() == nullptr) GTEST_SKIP() << "the shipped valley pictures are missing";
    tide::Heightmap terrain;
    terrain.buildTerrain(depth.data(), colour.data(), depth.width(), depth.height());
    testgl::resetState();
    initGlState();
    tide::Light::setUpSceneLight();
    // Eye x, y, z and look direction x, y, z.
    const double views[][6] = {{1, 6, 10, 1, 0, 0},      {40, 8, 20, 0.6, 0, 0.8},  {40, 12, 20, 0.2, -1, 0.1},
                               {20, 3, 30, -0.3, 0.9, 0.4}, {2, 10, 2, 0.7, -0.2, 0.7}, {79, 9, 39, 1, -0.3, 0.2},
                               {60, 5, 5, -1, 0.1, -0.05}};
    int withoutTest = 0;
    int withTest = 0;
    for (const auto& v : views) {
        std::vector<testgl::Rgb> pictures[2];
        for (int pass = 0; pass < 2; ++pass) {
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            gluPerspective(90, 1.3333, 0.01, 50);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            gluLookAt(v[0], v[1], v[2], v[0] + v[3], v[1] + v[4], v[2] + v[5], 0, 1, 0);
            (pass == 0 ? withoutTest : withTest) += terrain.drawTerrain(v[0], v[2], v[3], v[5], pass == 1);
            pictures[pass] = testgl::readPixels(0, 0, testgl::kWidth, testgl::kHeight);
        }
        EXPECT_TRUE(pictures[0] == pictures[1]) << "view from " << v[0] << ", " << v[1] << ", " << v[2];
    }
    EXPECT_LT(withTest, withoutTest * 3 / 4);  // the test does skip tiles
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    testgl::resetState();
}
