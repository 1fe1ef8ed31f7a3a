#pragma once

#include <GL/gl.h>

#include "scene/object.h"

namespace tide {

// A thin wrapper over OpenGL light 0. The operations act on OpenGL state only,
// so start-up can use them before any Light object exists.
class Light : public rObject {
public:
    Light();

    void compile() override {}
    void reset() override;  // switches light 0 on

    static GLenum lightNumber() { return GL_LIGHT0; }
    static void setPosition(float x, float y, float z);
    static void setAmbient(float r, float g, float b, float a);
    static void setDiffuse(float r, float g, float b, float a);
    static void setSpecular(float r, float g, float b, float a);
    static void setSpotDirection(float x, float y, float z);
    static void setSpotExponent(float e);
    static void setSpotCutoff(float c);
    static void setConstantAttenuation(float k);
    static void setLinearAttenuation(float k);
    static void setQuadraticAttenuation(float k);
    static void enable();
    static void disable();
    static void setGlobalAmbient(float r, float g, float b, float a);
    static void enableLighting();
    static void disableLighting();

    // The game's one light, fixed relative to the viewer; set once at start-up
    // while the model-view matrix is the identity.
    static void setUpSceneLight();
};

}  // namespace tide
