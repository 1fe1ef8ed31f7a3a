#include "world/light.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include "game/gl_setup.h"
#include "support/gl_context.h"
#include "support/lit_region.h"

using tide::Light;

namespace {

void expectLight(GLenum name, float a, float b, float c, float d) {
    GLfloat v[4] = {-9, -9, -9, -9};
    glGetLightfv(GL_LIGHT0, name, v);
    EXPECT_FLOAT_EQ(v[0], a);
    EXPECT_FLOAT_EQ(v[1], b);
    EXPECT_FLOAT_EQ(v[2], c);
    EXPECT_FLOAT_EQ(v[3], d);
}

float lightScalar(GLenum name) {
    GLfloat v = -1;
    glGetLightfv(GL_LIGHT0, name, &v);
    return v;
}

}  // namespace

TEST(Light, StartUpSetsTheWholeLightingEnvironment) {
    testgl::resetState();
    initGlState();
    Light::setUpSceneLight();

    for (GLenum cap : {GL_LIGHTING, GL_LIGHT0, GL_COLOR_MATERIAL, GL_FOG, GL_DEPTH_TEST, GL_NORMALIZE}) {
        EXPECT_TRUE(glIsEnabled(cap)) << "capability 0x" << std::hex << cap;
    }
    expectLight(GL_SPECULAR, 0, 0, 0, 0);
    expectLight(GL_DIFFUSE, 0.5f, 0.5f, 0.5f, 1);
    expectLight(GL_POSITION, -1, -0.5f, 0, 0);  // directional, fixed to the viewer
    EXPECT_FLOAT_EQ(lightScalar(GL_CONSTANT_ATTENUATION), 1);
    EXPECT_FLOAT_EQ(lightScalar(GL_LINEAR_ATTENUATION), 1);
    EXPECT_FLOAT_EQ(lightScalar(GL_QUADRATIC_ATTENUATION), 1);

    GLfloat ambient[4];
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, ambient);
    EXPECT_FLOAT_EQ(ambient[0], 0.9f);
    EXPECT_FLOAT_EQ(ambient[3], 1.0f);
    GLint face = 0, mode = 0;
    glGetIntegerv(GL_COLOR_MATERIAL_FACE, &face);
    glGetIntegerv(GL_COLOR_MATERIAL_PARAMETER, &mode);
    EXPECT_EQ(face, GL_FRONT);
    EXPECT_EQ(mode, GL_AMBIENT_AND_DIFFUSE);
    GLfloat specular[4];
    glGetMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    EXPECT_FLOAT_EQ(specular[0], 0.8f);
    testgl::resetState();
}

TEST(Light, VertexColourLitByTheAmbientTermOnly) {
    // Facing the viewer, a surface gets no diffuse light from (-1, -0.5, 0):
    // what remains is 0.9 times its colour.
    testgl::resetState();
    testgl::setOrtho(-1, 1, -1, 1);
    Light::setUpSceneLight();
    glColor3d(1, 0.5, 0);
    glNormal3d(0, 0, 1);
    glRectd(-0.5, -0.5, 0.5, 0.5);
    const testgl::Rgb p = testgl::pixelAt(320, 240);
    EXPECT_NEAR(p.r, 230, 1);
    EXPECT_NEAR(p.g, 115, 1);
    EXPECT_EQ(p.b, 0);
    testgl::resetState();
}

TEST(Light, ObjectResetSwitchesLight0OnAndCompileRecordsNothing) {
    testgl::resetState();
    Light light;
    EXPECT_EQ(Light::lightNumber(), static_cast<GLenum>(GL_LIGHT0));
    Light::disable();
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
    light.reset();
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));

    light.compile();
    light.draw();
    EXPECT_EQ(testgl::litRegion().count, 0);
}
