#include "world/light.h"

namespace tide {

namespace {

void lightVector(GLenum name, float a, float b, float c, float d) {
    const GLfloat values[4] = {a, b, c, d};
    glLightfv(Light::lightNumber(), name, values);
}

}  // namespace

Light::Light() { reset(); }

void Light::reset() { enable(); }

void Light::setPosition(float x, float y, float z) {
    // w = 0 (directional): slopes stay shaded at every distance; a point light here fades as 1/(1+d+d^2).
    lightVector(GL_POSITION, x, y, z, 0.0f);
}

void Light::setAmbient(float r, float g, float b, float a) { lightVector(GL_AMBIENT, r, g, b, a); }
void Light::setDiffuse(float r, float g, float b, float a) { lightVector(GL_DIFFUSE, r, g, b, a); }
void Light::setSpecular(float r, float g, float b, float a) { lightVector(GL_SPECULAR, r, g, b, a); }
void Light::setSpotDirection(float x, float y, float z) { lightVector(GL_SPOT_DIRECTION, x, y, z, 0.0f); }

void Light::setSpotExponent(float e) { glLightf(lightNumber(), GL_SPOT_EXPONENT, e); }
void Light::setSpotCutoff(float c) { glLightf(lightNumber(), GL_SPOT_CUTOFF, c); }
void Light::setConstantAttenuation(float k) { glLightf(lightNumber(), GL_CONSTANT_ATTENUATION, k); }
void Light::setLinearAttenuation(float k) { glLightf(lightNumber(), GL_LINEAR_ATTENUATION, k); }
void Light::setQuadraticAttenuation(float k) { glLightf(lightNumber(), GL_QUADRATIC_ATTENUATION, k); }

void Light::enable() { glEnable(lightNumber()); }
void Light::disable() { glDisable(lightNumber()); }

void Light::setGlobalAmbient(float r, float g, float b, float a) {
    const GLfloat values[4] = {r, g, b, a};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, values);
}

// Vertex colours serve as the material: colour material tracks ambient and diffuse.
void Light::enableLighting() {
    glEnable(GL_LIGHTING);
    glEnable(GL_COLOR_MATERIAL);
    const GLfloat material[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    glMaterialfv(GL_FRONT, GL_AMBIENT, material);
    glMaterialfv(GL_FRONT, GL_SPECULAR, material);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, material);
    glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
}

void Light::disableLighting() {
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_LIGHTING);
}

void Light::setUpSceneLight() {
    setPosition(-1.0f, -0.5f, 0.0f);
    setDiffuse(0.5f, 0.5f, 0.5f, 1.0f);
    setSpecular(0, 0, 0, 0);
    setConstantAttenuation(1.0f);
    setLinearAttenuation(1.0f);
    setQuadraticAttenuation(1.0f);
    setGlobalAmbient(0.9f, 0.9f, 0.9f, 1.0f);
    enableLighting();
    enable();
}

}  // namespace tide
