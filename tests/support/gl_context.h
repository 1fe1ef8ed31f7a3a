#pragma once

#include <cstdint>
#include <vector>

// All OpenGL tests share the one window that gl_test_main opens (640x480,
// RGB, double-buffered, depth), as the game's own window is.
namespace testgl {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// Reads the back buffer (what was drawn since the last clear) after glFinish.
std::vector<Rgb> readPixels(int x, int y, int width, int height);
Rgb pixelAt(int x, int y);

// Clears to black, identity matrices, depth test, lighting and fog off: a neutral
// start for a rendering test that sets what it needs.
void resetState();

// Orthographic projection x0..x1 by y0..y1 over the whole window.
void setOrtho(double x0, double x1, double y0, double y1);

}  // namespace testgl
