#include "imagelib/errors.h"
#include "imagelib/image_file.h"

#include "random_image.h"
#include "../support/command.h"
#include "../support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace KVEL;

namespace {

std::vector<unsigned char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void expectSameImage(Image& a, Image& b, const std::string& what) {
    ASSERT_EQ(glTypeOf(&a), glTypeOf(&b)) << what;
    for (int i = 0; i < 4; ++i) ASSERT_EQ(a.m_dim[i], b.m_dim[i]) << what;
    ASSERT_EQ(a.m_channels, b.m_channels) << what;
    for (int i = 0; i < a.m_image_size; ++i) ASSERT_EQ(a.get(i), b.get(i)) << what << " element " << i;
}

}  // namespace

// Every fixture holds one 7 x 5 picture, pixel (x, y) with y = 0 at the top:
// red 40x + 10, green 60y + 5, blue 9xy. Through the entry point each gives
// exactly that, red first, whatever the file's channel order or palette.
TEST(ImageFile, OtherToolsPicturesReadRedFirstWithTheirPaletteApplied) {
    for (const char* name : {"pil_24bit.bmp", "magick_24bit.bmp", "pil_32bit.bmp", "magick_8bit_palette.bmp",
                             "pil_8bit_palette.bmp"}) {
        const std::string file = std::string(TEST_DATA_DIR "/bmp/") + name;
        std::unique_ptr<Image> image(readImage(file.c_str()));
        ASSERT_NE(image, nullptr) << name << ": " << lastError();
        EXPECT_EQ(formatOfFile(file.c_str()), FileFormat::kBmp);
        ASSERT_EQ(image->width(), 7) << name;
        ASSERT_EQ(image->height(), 5) << name;
        ASSERT_GE(image->m_channels, 3) << name;
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 7; ++x) {
                EXPECT_EQ(image->get(x, y, 0, 0, 0), 40 * x + 10) << name << " red at " << x << "," << y;
                EXPECT_EQ(image->get(x, y, 0, 0, 1), 60 * y + 5) << name << " green at " << x << "," << y;
                EXPECT_EQ(image->get(x, y, 0, 0, 2), 9 * x * y) << name << " blue at " << x << "," << y;
            }
        }
    }
}

class ImageFileTest : public TempDirTest {};

// One picture, the same image back from every format that holds it, and the
// bytes of our BMP are what PIL shows as red, green, blue.
TEST_F(ImageFileTest, APictureComesBackTheSameFromEveryFormatAndOthersSeeItRedFirst) {
    for (int channels : {1, 3, 4}) {
        auto picture = imagetest::randomImage(kGlUnsignedByte, 9, 6, 1, channels, 7u + channels, 0, 256);
        for (const char* ending : {".bmp", ".mha", ".mhd"}) {
            const std::string file = path(std::string("picture") + ending);
            ASSERT_EQ(writeImage(file.c_str(), picture.get()), 0) << ending << ": " << lastError();
            std::unique_ptr<Image> back(readImage(file.c_str()));
            ASSERT_NE(back, nullptr) << ending << ": " << lastError();
            expectSameImage(*picture, *back, std::string(ending) + " " + std::to_string(channels) + " channels");
        }
        if (channels == 1 || !testcommand::havePythonModules("PIL")) continue;
        std::vector<unsigned char> expected;
        for (int i = 0; i < picture->m_image_size; i += channels) {
            for (int c = 0; c < 3; ++c) expected.push_back(static_cast<unsigned char>(picture->get(i + c)));
        }
        EXPECT_EQ(testcommand::commandOutput(std::string(testcommand::kPython) +
                                             " -c \"import sys; from PIL import Image; sys.stdout.buffer.write("
                                             "Image.open(sys.argv[1]).convert('RGB').tobytes())\" '" +
                                             path("picture.bmp") + "'"),
                  expected)
            << channels << " channels";
    }
}

// The first bytes decide, not the name; from memory too.
TEST_F(ImageFileTest, FilesAreRecognisedByTheirBytesNotTheirNames) {
    auto picture = imagetest::randomImage(kGlUnsignedByte, 4, 3, 1, 3, 11, 0, 256);
    ASSERT_EQ(writeImage(path("real.bmp").c_str(), picture.get()), 0);
    ASSERT_EQ(writeImage(path("real.mha").c_str(), picture.get()), 0);
    for (const char* real : {"real.bmp", "real.mha"}) {
        const std::vector<unsigned char> bytes = fileBytes(path(real));
        std::ofstream(path("misnamed.png"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                   static_cast<std::streamsize>(bytes.size()));
        std::unique_ptr<Image> fromFile(readImage(path("misnamed.png").c_str()));
        std::unique_ptr<Image> fromMemory(readImage(bytes.data(), bytes.size()));
        ASSERT_NE(fromFile, nullptr) << real << ": " << lastError();
        ASSERT_NE(fromMemory, nullptr) << real << ": " << lastError();
        expectSameImage(*picture, *fromFile, real);
        expectSameImage(*picture, *fromMemory, real);
    }
}

// A refusal names the reason and leaves the previous file alone.
TEST_F(ImageFileTest, WhatAFormatCannotHoldIsRefusedAndNothingIsOverwritten) {
    const std::string file = path("kept.bmp");
    auto picture = imagetest::randomImage(kGlUnsignedByte, 4, 3, 1, 3, 5, 0, 256);
    ASSERT_EQ(writeImage(file.c_str(), picture.get()), 0);
    const std::vector<unsigned char> before = fileBytes(file);
    const auto floats = imagetest::randomImage(kGlFloat, 4, 3, 1, 1, 5);
    const auto volume = imagetest::randomImage(kGlUnsignedByte, 4, 3, 2, 1, 5);
    const auto five = imagetest::randomImage(kGlUnsignedByte, 4, 3, 1, 5, 5);
    for (Image* refused : {floats.get(), volume.get(), five.get()}) {
        EXPECT_EQ(writeImage(file.c_str(), refused), 1);
        EXPECT_NE(std::string(lastError()).find("BMP"), std::string::npos) << lastError();
        EXPECT_EQ(fileBytes(file), before);
    }
    EXPECT_EQ(writeImage(path("x.unknown").c_str(), picture.get()), 1);
    EXPECT_NE(std::string(lastError()).find("x.unknown"), std::string::npos) << lastError();
    EXPECT_EQ(writeImage(file.c_str(), picture.get()), 0);
    EXPECT_STREQ(lastError(), "");

    const unsigned char garbage[] = "not a picture";
    EXPECT_EQ(readImage(garbage, sizeof garbage), nullptr);
    EXPECT_NE(std::string(lastError()), "");
    EXPECT_EQ(readImage(path("missing.png").c_str()), nullptr);
    EXPECT_NE(std::string(lastError()).find("missing.png"), std::string::npos) << lastError();
    std::ofstream(path("empty.png")).close();
    EXPECT_EQ(readImage(path("empty.png").c_str()), nullptr);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2) << "only kept.bmp and empty.png, no temporary files";
}
