#include "game/screenshot.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "imagelib/bitmap.h"
#include "support/gl_context.h"
#include "support/temp_dir.h"

namespace {

// Red over the top left quarter and blue over the bottom right one, on black.
void drawQuarters() {
    testgl::resetState();
    testgl::setOrtho(0, 2, 0, 2);
    glColor3d(1, 0, 0);
    glRectd(0, 1, 1, 2);
    glColor3d(0, 0, 1);
    glRectd(1, 0, 2, 1);
}

class Screenshot : public TempDirTest {};

}  // namespace

TEST_F(Screenshot, BackBufferComesAsBlueGreenRedRowsFromTheTop) {
    drawQuarters();
    const FramePixels frame = readBackBuffer();
    ASSERT_EQ(frame.width, testgl::kWidth);
    ASSERT_EQ(frame.height, testgl::kHeight);
    ASSERT_EQ(frame.bgr.size(), static_cast<std::size_t>(testgl::kWidth * testgl::kHeight * 3));
    auto at = [&](int x, int y, int c) { return frame.bgr[(static_cast<std::size_t>(y) * frame.width + x) * 3 + c]; };
    EXPECT_EQ(at(0, 0, 0), 0);
    EXPECT_EQ(at(0, 0, 2), 255);  // top left is red
    EXPECT_EQ(at(639, 479, 0), 255);
    EXPECT_EQ(at(639, 479, 2), 0);  // bottom right is blue
    EXPECT_EQ(at(639, 0, 0) | at(639, 0, 1) | at(639, 0, 2), 0);
}

TEST_F(Screenshot, SavedFrameReadsBackAsTheSame24BitPicture) {
    drawQuarters();
    const FramePixels frame = readBackBuffer();
    const std::string file = path("shot.bmp");
    ASSERT_TRUE(saveFrame(frame, file));

    KVEL::Bitmap picture;
    ASSERT_EQ(picture.load(file.c_str()), 1);
    EXPECT_EQ(picture.m_bits_per_pixel, 24);
    ASSERT_EQ(picture.width(), frame.width);
    ASSERT_EQ(picture.height(), frame.height);
    EXPECT_TRUE(std::equal(frame.bgr.begin(), frame.bgr.end(), picture.data()));
}

TEST_F(Screenshot, NothingToSaveOrNowhereToSaveItFails) {
    EXPECT_FALSE(saveFrame(FramePixels(), path("empty.bmp")));
    drawQuarters();
    EXPECT_FALSE(saveFrame(readBackBuffer(), path("no_such_directory/shot.bmp")));
}
