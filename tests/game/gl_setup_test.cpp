#include "game/gl_setup.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>

#include "support/gl_context.h"

TEST(GlSetup, StartupStateMatchesTheGame) {
    initGlState();
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_FLOAT_EQ(clear[0], 0.5f);
    EXPECT_FLOAT_EQ(clear[1], 0.6f);
    EXPECT_FLOAT_EQ(clear[2], 1.0f);
    EXPECT_FLOAT_EQ(clear[3], 1.0f);

    EXPECT_TRUE(glIsEnabled(GL_FOG));
    GLint mode = 0;
    glGetIntegerv(GL_FOG_MODE, &mode);
    EXPECT_EQ(mode, GL_EXP2);
    GLfloat density = 0;
    glGetFloatv(GL_FOG_DENSITY, &density);
    EXPECT_FLOAT_EQ(density, 0.14f);
    GLfloat fog[4];
    glGetFloatv(GL_FOG_COLOR, fog);
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(fog[i], clear[i]) << "fog colour must equal the clear colour";

    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_NORMALIZE));
    GLint shade = 0;
    glGetIntegerv(GL_SHADE_MODEL, &shade);
    EXPECT_EQ(shade, GL_SMOOTH);
    GLfloat point = 0;
    glGetFloatv(GL_POINT_SIZE, &point);
    EXPECT_FLOAT_EQ(point, 2.0f);

    // Clearing with that state gives the water colour.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const testgl::Rgb px = testgl::pixelAt(320, 240);
    EXPECT_NEAR(px.r, 128, 1);
    EXPECT_NEAR(px.g, 153, 1);
    EXPECT_EQ(px.b, 255);
    testgl::resetState();
}

TEST(GlSetup, ReshapeToZeroHeightKeepsAFiniteProjection) {
    reshape(640, 0);
    GLdouble m[16];
    glGetDoublev(GL_PROJECTION_MATRIX, m);
    for (double v : m) EXPECT_TRUE(std::isfinite(v));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 1);
    reshape(640, 480);
    glGetDoublev(GL_PROJECTION_MATRIX, m);
    // 90 degree field of view: the y scale is cot(45) = 1, x scale 1 / aspect.
    EXPECT_NEAR(m[5], 1.0, 1e-12);
    EXPECT_NEAR(m[0], 480.0 / 640.0, 1e-12);
    testgl::resetState();
}
