#include "support/gl_context.h"

#include <GL/gl.h>

#include <cstddef>

namespace testgl {

std::vector<Rgb> readPixels(int x, int y, int width, int height) {
    std::vector<Rgb> pixels(static_cast<std::size_t>(width) * height);
    glFinish();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

Rgb pixelAt(int x, int y) { return readPixels(x, y, 1, 1)[0]; }

void resetState() {
    glViewport(0, 0, kWidth, kHeight);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor4d(1, 1, 1, 1);
}

void setOrtho(double x0, double x1, double y0, double y1) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(x0, x1, y0, y1, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

}  // namespace testgl
