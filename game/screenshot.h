#pragma once

#include <string>
#include <vector>

// One drawn frame: blue, green, red bytes, rows from the top, no padding.
struct FramePixels {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bgr;
};

// Reads the back buffer of the current viewport: the frame as drawn, before
// it is swapped to the screen.
FramePixels readBackBuffer();

// Writes a 24-bit BMP. Returns false after a one-line message on stderr when
// there is no frame or the file cannot be written.
bool saveFrame(const FramePixels& frame, const std::string& path);

// Display callback for --screenshot: draws and shows a frame like display()
// and keeps a copy of it, so the last frame can be saved after the window has
// gone (the main loop tears the OpenGL context down when it returns).
void displayAndKeep();
void keepFrame();
const FramePixels& keptFrame();
