#include "game/screenshot.h"

#include <GL/freeglut.h>

#include <cstring>
#include <iostream>

#include "imagelib/bitmap.h"
#include "world/frame.h"

namespace {
FramePixels lastFrame;
}

FramePixels readBackBuffer() {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    FramePixels frame;
    frame.width = viewport[2];
    frame.height = viewport[3];
    const std::size_t rowBytes = static_cast<std::size_t>(frame.width) * 3;
    std::vector<unsigned char> bottomUp(rowBytes * frame.height);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(viewport[0], viewport[1], frame.width, frame.height, GL_BGR,
                 GL_UNSIGNED_BYTE, bottomUp.data());
    // OpenGL counts rows from the bottom, pictures from the top.
    frame.bgr.resize(bottomUp.size());
    for (int row = 0; row < frame.height; ++row) {
        std::memcpy(frame.bgr.data() + row * rowBytes,
                    bottomUp.data() + (frame.height - 1 - row) * rowBytes, rowBytes);
    }
    return frame;
}

bool saveFrame(const FramePixels& frame, const std::string& path) {
    if (frame.width <= 0 || frame.height <= 0) {
        std::cerr << "screenshot: no frame was drawn, nothing saved to " << path << std::endl;
        return false;
    }
    KVEL::Bitmap picture;
    picture.m_verbose = 0;
    picture.createFromBuffer(frame.width, frame.height, 3, nullptr);
    std::memcpy(picture.data(), frame.bgr.data(), frame.bgr.size());
    if (picture.save(path.c_str()) != 1) {
        std::cerr << "screenshot: could not write " << path << std::endl;
        return false;
    }
    return true;
}

void keepFrame() { lastFrame = readBackBuffer(); }

const FramePixels& keptFrame() { return lastFrame; }

void displayAndKeep() {
    drawFrame();
    keepFrame();
    glutSwapBuffers();
}
