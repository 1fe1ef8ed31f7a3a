#include "imagelib/gl/bitmap_texture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Saves a width x height picture of the given channels with byte i = i * 3 + 1
// and returns its path.
std::string savePicture(const char* name, int width, int height, int channels) {
    KVEL::Bitmap b;
    b.createFromBuffer(width, height, channels, nullptr);
    for (int i = 0; i < b.m_image_size; ++i) b.data()[i] = static_cast<unsigned char>(i * 3 + 1);
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    EXPECT_EQ(b.save(path.c_str()), 1);
    return path;
}

GLint levelParameter(int level, GLenum which) {
    GLint value = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, which, &value);
    return value;
}

std::vector<unsigned char> textureRgb(int width, int height) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return rgb;
}

}  // namespace

TEST(BitmapTexture, CreateTextureUploadsPictureOfOddWidthAsBlueGreenRed) {
    const std::string path = savePicture("kvel_tex_odd.bmp", 5, 3, 3);
    KVEL::BitmapTexture texture;
    texture.load(path.c_str());
    ASSERT_EQ(texture.width(), 5);
    ASSERT_EQ(texture.height(), 3);
    const GLuint id = texture.createTexture();
    ASSERT_NE(id, 0u);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 5);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_HEIGHT), 3);
    GLint minFilter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(minFilter, GL_LINEAR);
    const std::vector<unsigned char> rgb = textureRgb(5, 3);
    const unsigned char* bgr = texture.data();
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(rgb[3 * i], bgr[3 * i + 2]) << i;
        ASSERT_EQ(rgb[3 * i + 1], bgr[3 * i + 1]) << i;
        ASSERT_EQ(rgb[3 * i + 2], bgr[3 * i]) << i;
    }
    glDeleteTextures(1, &id);
    std::remove(path.c_str());
}

TEST(BitmapTexture, MipmappedTextureHasEveryLevel) {
    const std::string path = savePicture("kvel_tex_mip.bmp", 8, 4, 3);
    KVEL::BitmapTexture texture;
    const GLuint id = texture.createMipmappedTexture(path.c_str());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 8);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_HEIGHT), 4);
    EXPECT_EQ(levelParameter(1, GL_TEXTURE_WIDTH), 4);
    EXPECT_EQ(levelParameter(3, GL_TEXTURE_WIDTH), 1);
    GLint minFilter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);
    glDeleteTextures(1, &id);
    std::remove(path.c_str());
}

TEST(BitmapTexture, OneChannelPictureUploadsAsGreyWithoutReadingPastItsEnd) {
    const std::string path = savePicture("kvel_tex_grey.bmp", 3, 2, 1);
    KVEL::BitmapTexture texture(path.c_str());
    const GLuint id = texture.createTexture();
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 3);
    const std::vector<unsigned char> rgb = textureRgb(3, 2);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rgb[3 * i], texture.data()[i]) << i;
        EXPECT_EQ(rgb[3 * i + 2], texture.data()[i]) << i;
    }
    glDeleteTextures(1, &id);
    std::remove(path.c_str());
}

TEST(BitmapTexture, MissingPictureLeavesEmptyHandle) {
    KVEL::BitmapTexture texture;
    EXPECT_EQ(texture.data("/nonexistent/picture.bmp"), nullptr);
    EXPECT_EQ(texture.width(), 0);
    EXPECT_EQ(texture.height(), 0);
}
