// Texture uploads of BitmapTexture; the only image-library code that needs OpenGL.

#include "imagelib/gl/bitmap_texture.h"

#include <GL/gl.h>
#include <GL/glu.h>

#ifndef GL_BGR_EXT
#define GL_BGR_EXT 0x80E0
#endif
#ifndef GL_BGRA_EXT
#define GL_BGRA_EXT 0x80E1
#endif

namespace KVEL {

namespace {

// The pixel format that matches the bitmap's channels, so a one-channel
// picture is not read as three bytes per pixel past its end.
GLenum pixelFormat(int channels) {
    switch (channels) {
        case 1: return GL_LUMINANCE;
        case 2: return GL_LUMINANCE_ALPHA;
        case 4: return GL_BGRA_EXT;
        default: return GL_BGR_EXT;
    }
}

// Binds a new texture with linear magnification and the given minification,
// then uploads the picture with rows packed tightly (our rows have no padding).
template <class Upload>
GLuint makeTexture(Bitmap& bitmap, GLint minFilter, Upload upload) {
    GLuint id = 0;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    if (bitmap.data()) {
        GLint alignment = 4;
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        upload(bitmap.m_dim[0], bitmap.m_dim[1], pixelFormat(bitmap.m_channels), bitmap.data());
        glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    }
    return id;
}

}  // namespace

unsigned int BitmapTexture::createMipmappedTexture() {
    return makeTexture(*m_bitmap, GL_LINEAR_MIPMAP_LINEAR, [](int w, int h, GLenum format, const unsigned char* p) {
        gluBuild2DMipmaps(GL_TEXTURE_2D, 3, w, h, format, GL_UNSIGNED_BYTE, p);
    });
}

unsigned int BitmapTexture::createTexture() {
    return makeTexture(*m_bitmap, GL_LINEAR, [](int w, int h, GLenum format, const unsigned char* p) {
        glTexImage2D(GL_TEXTURE_2D, 0, 3, w, h, 0, format, GL_UNSIGNED_BYTE, p);
    });
}

unsigned int BitmapTexture::createMipmappedTexture(const char* fileName) {
    load(fileName);
    return createMipmappedTexture();
}

unsigned int BitmapTexture::createTexture(const char* fileName) {
    load(fileName);
    return createTexture();
}

}  // namespace KVEL
