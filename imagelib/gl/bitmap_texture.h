#pragma once

// A picture loaded for the game, and its upload as an OpenGL texture. Linking
// these needs kvel_gl, which brings the OpenGL dependency.

#include <kvel/bitmap.h>

#include <memory>

namespace KVEL {

// The game's handle on one picture, and the way to turn it into a texture.
// The texture functions need a current OpenGL context and live in kvel_gl.
class KVEL_API BitmapTexture {
public:
    BitmapTexture();
    explicit BitmapTexture(const char* fileName);
    ~BitmapTexture();
    BitmapTexture(const BitmapTexture&) = delete;
    BitmapTexture& operator=(const BitmapTexture&) = delete;

    void load(const char* fileName);
    unsigned char* data();
    int width();
    int height();
    // Both upload the picture as 3-component blue-green-red bytes and return the
    // texture name (a GLuint).
    unsigned int createMipmappedTexture();
    unsigned int createTexture();

    // Load fileName, then return what the function of the same name returns.
    unsigned char* data(const char* fileName);
    int width(const char* fileName);
    int height(const char* fileName);
    unsigned int createMipmappedTexture(const char* fileName);
    unsigned int createTexture(const char* fileName);

    Bitmap* bitmap() { return m_bitmap.get(); }

private:
    std::unique_ptr<Bitmap> m_bitmap;
};

}  // namespace KVEL
