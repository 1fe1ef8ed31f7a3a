// The parts of BitmapTexture that need no OpenGL; the texture uploads are in
// bitmap_texture_gl.cpp.

#include "imagelib/gl/bitmap_texture.h"

namespace KVEL {

BitmapTexture::BitmapTexture() : m_bitmap(new Bitmap) {}

BitmapTexture::BitmapTexture(const char* fileName) : m_bitmap(new Bitmap) {
    load(fileName);
}

BitmapTexture::~BitmapTexture() = default;

void BitmapTexture::load(const char* fileName) {
    m_bitmap->load(fileName);
}

unsigned char* BitmapTexture::data() {
    return m_bitmap->data();
}

int BitmapTexture::width() {
    return m_bitmap->m_dim[0];
}

int BitmapTexture::height() {
    return m_bitmap->m_dim[1];
}

unsigned char* BitmapTexture::data(const char* fileName) {
    load(fileName);
    return data();
}

int BitmapTexture::width(const char* fileName) {
    load(fileName);
    return width();
}

int BitmapTexture::height(const char* fileName) {
    load(fileName);
    return height();
}

}  // namespace KVEL
