#include "imagelib/detail/aligned_buffer.h"
#include "imagelib/bitmap.h"

#include "bmp_file_builder.h"
#include "../support/command.h"
#include "../support/temp_dir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using bmptest::BmpFields;
using bmptest::buildBmp;
using bmptest::readFile;
using bmptest::writeFile;
using KVEL::Bitmap;

namespace {

std::uint32_t u32At(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Pixel bytes of a 3x2 24-bit picture, bottom row first, each row padded to 12
// bytes with 0xEE so that padding read as pixels shows.
std::vector<unsigned char> bottomUp3x2() {
    return {10, 11, 12, 13, 14, 15, 16, 17, 18, 0xEE, 0xEE, 0xEE,
            20, 21, 22, 23, 24, 25, 26, 27, 28, 0xEE, 0xEE, 0xEE};
}

const std::vector<unsigned char> kTopRowThenBottomRow = {20, 21, 22, 23, 24, 25, 26, 27, 28,
                                                         10, 11, 12, 13, 14, 15, 16, 17, 18};

std::vector<unsigned char> pixelsOf(const Bitmap& b) {
    return std::vector<unsigned char>(b.data(), b.data() + b.m_image_size);
}

}  // namespace

class BitmapLoad : public TempDirTest {
protected:
    int load(Bitmap& b, const BmpFields& f, const std::vector<unsigned char>& pixels) {
        writeFile(path("p.bmp"), buildBmp(f, pixels));
        return b.load(path("p.bmp").c_str());
    }
};

TEST_F(BitmapLoad, BottomUp24BitPutsLastFileRowFirstAndSkipsPadding) {
    Bitmap b;
    ASSERT_EQ(load(b, BmpFields{}, bottomUp3x2()), 1);
    EXPECT_EQ(b.m_dim[0], 3);
    EXPECT_EQ(b.m_dim[1], 2);
    EXPECT_EQ(b.m_dim[2], 1);
    EXPECT_EQ(b.m_dim[3], 1);
    EXPECT_EQ(b.m_channels, 3);
    EXPECT_EQ(b.m_bits_per_pixel, 24);
    EXPECT_EQ(pixelsOf(b), kTopRowThenBottomRow);
}

TEST_F(BitmapLoad, TopDownFileGivesTheSameImage) {
    Bitmap b;
    BmpFields f;
    f.height = -2;
    std::vector<unsigned char> rows = bottomUp3x2();
    std::vector<unsigned char> topDown(rows.begin() + 12, rows.end());
    topDown.insert(topDown.end(), rows.begin(), rows.begin() + 12);
    ASSERT_EQ(load(b, f, topDown), 1);
    EXPECT_EQ(b.m_dim[1], 2);
    EXPECT_EQ(pixelsOf(b), kTopRowThenBottomRow);
}

TEST_F(BitmapLoad, EightBitWithoutColourCountReads256EntriesAndKeepsIndices) {
    Bitmap b;
    BmpFields f;
    f.bitCount = 8;
    f.width = 2;
    f.height = 1;
    f.paletteEntries = 256;
    ASSERT_EQ(load(b, f, {7, 200, 0, 0}), 1);
    EXPECT_EQ(b.m_channels, 1);
    EXPECT_EQ(b.m_palette_size, 256);
    ASSERT_NE(b.m_palette, nullptr);
    EXPECT_EQ(b.m_palette[4 * 200], 200);
    EXPECT_EQ(pixelsOf(b), (std::vector<unsigned char>{7, 200}));
}

TEST_F(BitmapLoad, SizeImageZeroOrTooSmallIsReplacedByTheRowsSize) {
    for (std::uint32_t sizeImage : {0u, 5u}) {
        Bitmap b;
        BmpFields f;
        f.sizeImage = sizeImage;
        ASSERT_EQ(load(b, f, bottomUp3x2()), 1) << sizeImage;
        EXPECT_EQ(pixelsOf(b), kTopRowThenBottomRow);
    }
}

TEST_F(BitmapLoad, LargerInfoHeaderReadsPaletteBehindItAndPixelsFromOffBits) {
    Bitmap b;
    BmpFields f;
    f.infoSize = 124;
    f.bitCount = 8;
    f.width = 1;
    f.height = 1;
    f.clrUsed = 2;
    f.paletteEntries = 2;
    f.offBits = 14 + 124 + 8 + 16;  // a gap between palette and pixels
    ASSERT_EQ(load(b, f, {1, 0, 0, 0}), 1);
    EXPECT_EQ(b.m_palette_size, 2);
    EXPECT_EQ(b.m_palette[4], 1);
    EXPECT_EQ(pixelsOf(b), std::vector<unsigned char>{1});
}

TEST_F(BitmapLoad, SpacingIsExtentOverPelsPerMeter) {
    Bitmap b;
    BmpFields f;
    f.xPelsPerMeter = 2;
    f.yPelsPerMeter = 4;
    ASSERT_EQ(load(b, f, bottomUp3x2()), 1);
    EXPECT_FLOAT_EQ(b.m_spacing[0], 1.5f);
    EXPECT_FLOAT_EQ(b.m_spacing[1], 0.5f);
}

TEST_F(BitmapLoad, SecondLoadReplacesThePicture) {
    Bitmap b;
    ASSERT_EQ(load(b, BmpFields{}, bottomUp3x2()), 1);
    BmpFields f;
    f.width = 1;
    f.height = 1;
    f.bitCount = 32;
    ASSERT_EQ(load(b, f, {1, 2, 3, 4}), 1);
    EXPECT_EQ(b.m_channels, 4);
    EXPECT_EQ(pixelsOf(b), (std::vector<unsigned char>{1, 2, 3, 4}));
}

// Every malformed header fails with -1 and leaves a loaded picture untouched.
struct BadHeader {
    const char* name;
    void (*change)(BmpFields&);
    int dropPixelBytes;
};

class BitmapLoadRejects : public BitmapLoad, public ::testing::WithParamInterface<BadHeader> {};

TEST_P(BitmapLoadRejects, FailsAndLeavesThePictureAsItWas) {
    Bitmap b;
    ASSERT_EQ(load(b, BmpFields{}, bottomUp3x2()), 1);
    const unsigned char* before = b.data();
    BmpFields f;
    GetParam().change(f);
    std::vector<unsigned char> pixels = bottomUp3x2();
    pixels.resize(pixels.size() - static_cast<std::size_t>(GetParam().dropPixelBytes));
    EXPECT_EQ(load(b, f, pixels), -1);
    EXPECT_EQ(b.data(), before);
    EXPECT_EQ(b.m_dim[0], 3);
    EXPECT_EQ(b.m_dim[1], 2);
    EXPECT_EQ(b.m_channels, 3);
    EXPECT_EQ(b.m_bits_per_pixel, 24);
    EXPECT_EQ(pixelsOf(b), kTopRowThenBottomRow);
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, BitmapLoadRejects,
    ::testing::Values(
        BadHeader{"NotStartingWithBM", [](BmpFields& f) { f.type = 0x4D43; }, 0},
        BadHeader{"FourBitDepth", [](BmpFields& f) { f.bitCount = 4; }, 0},
        BadHeader{"OneBitDepth", [](BmpFields& f) { f.bitCount = 1; }, 0},
        BadHeader{"TwelveBitDepth", [](BmpFields& f) { f.bitCount = 12; }, 0},
        BadHeader{"ZeroWidth", [](BmpFields& f) { f.width = 0; }, 0},
        BadHeader{"NegativeWidth", [](BmpFields& f) { f.width = -3; }, 0},
        BadHeader{"ZeroHeight", [](BmpFields& f) { f.height = 0; }, 0},
        BadHeader{"MostNegativeHeight", [](BmpFields& f) { f.height = INT_MIN; }, 0},
        BadHeader{"PaletteLargerThan256", [](BmpFields& f) { f.bitCount = 8; f.clrUsed = 257; }, 0},
        BadHeader{"SizeBeyondInt", [](BmpFields& f) { f.width = 70000; f.height = 70000; }, 0},
        BadHeader{"HugeWidthAndHeight", [](BmpFields& f) { f.width = INT_MAX; f.height = -INT_MAX; }, 0},
        BadHeader{"PixelDataShorterThanPicture", [](BmpFields&) {}, 13},
        BadHeader{"TallerThanItsData", [](BmpFields& f) { f.height = 3; }, 0},
        BadHeader{"RunLengthCompressed", [](BmpFields& f) { f.compression = 1; }, 0},
        BadHeader{"CoreHeader", [](BmpFields& f) { f.infoSize = 12; }, 0},
        BadHeader{"PaletteBeyondEndOfFile", [](BmpFields& f) { f.bitCount = 8; f.width = 1; f.height = 1; }, 20}),
    [](const ::testing::TestParamInfo<BadHeader>& info) { return info.param.name; });

TEST_F(BitmapLoad, MissingFileTruncatedHeaderAndNullNameFail) {
    Bitmap b;
    EXPECT_EQ(b.load(nullptr), -1);
    EXPECT_EQ(b.load(path("none.bmp").c_str()), -1);
    std::vector<unsigned char> bytes = buildBmp(BmpFields{}, bottomUp3x2());
    bytes.resize(30);
    writeFile(path("short.bmp"), bytes);
    EXPECT_EQ(b.load(path("short.bmp").c_str()), -1);
    EXPECT_EQ(b.m_image_size, 0);
    EXPECT_EQ(b.data(), nullptr);
}

class BitmapSave : public TempDirTest {};

TEST_F(BitmapSave, OneChannelWithoutPaletteWritesGreyRampAndOffBits1078) {
    Bitmap b;
    b.createFromBuffer(2, 1, 1, nullptr);
    b.data()[0] = 5;
    b.data()[1] = 6;
    ASSERT_EQ(b.save(path("g.bmp").c_str()), 1);
    const std::vector<unsigned char> file = readFile(path("g.bmp"));
    ASSERT_EQ(file.size(), 1078u + 4u);
    EXPECT_EQ(u32At(file, 10), 1078u);
    EXPECT_EQ(u32At(file, 2), file.size());
    EXPECT_EQ(u32At(file, 46), 256u);
    EXPECT_EQ(u32At(file, 54 + 4 * 77), 0x4D4D4Du);
    EXPECT_EQ(file[1078], 5);
    EXPECT_EQ(file[1079], 6);
}

TEST_F(BitmapSave, TrueColourWritesRealFileSizeAndNoPaletteCount) {
    Bitmap b;
    b.createFromBuffer(3, 2, 3, nullptr);
    ASSERT_EQ(b.save(path("c.bmp").c_str()), 1);
    const std::vector<unsigned char> file = readFile(path("c.bmp"));
    ASSERT_EQ(file.size(), 54u + 2 * 12);
    EXPECT_EQ(u32At(file, 2), file.size());
    EXPECT_EQ(u32At(file, 10), 54u);
    EXPECT_EQ(u32At(file, 34), 24u);  // biSizeImage
    EXPECT_EQ(u32At(file, 46), 0u);   // biClrUsed
}

TEST_F(BitmapSave, ShortPaletteIsWrittenThenZeroEntriesUpTo256) {
    Bitmap b;
    b.createFromBuffer(1, 1, 1, nullptr);
    b.m_palette_size = 2;
    b.m_palette = new unsigned char[8]{1, 2, 3, 0, 4, 5, 6, 0};
    ASSERT_EQ(b.save(path("p.bmp").c_str()), 1);
    const std::vector<unsigned char> file = readFile(path("p.bmp"));
    ASSERT_EQ(file.size(), 1078u + 4u);
    EXPECT_EQ(u32At(file, 54), 0x030201u);
    EXPECT_EQ(u32At(file, 58), 0x060504u);
    for (int i = 2; i < 256; ++i) ASSERT_EQ(u32At(file, 54 + 4 * static_cast<std::size_t>(i)), 0u) << i;
}

TEST_F(BitmapSave, RefusesPaletteSizeWithoutPaletteNullNameAndEmptyBitmap) {
    Bitmap b;
    EXPECT_EQ(b.save(path("empty.bmp").c_str()), -1);
    b.createFromBuffer(1, 1, 3, nullptr);
    EXPECT_EQ(b.save(nullptr), -1);
    b.m_palette_size = 4;
    EXPECT_EQ(b.save(path("x.bmp").c_str()), -1);
}

TEST_F(BitmapSave, RoundTripKeepsEveryPixelForEachDepthAndPaddedWidth) {
    for (int channels : {1, 3, 4}) {
        for (int width : {1, 2, 3, 5, 17}) {
            Bitmap b;
            b.createFromBuffer(width, 3, channels, nullptr);
            for (int i = 0; i < b.m_image_size; ++i) b.data()[i] = static_cast<unsigned char>(i * 7 + 1);
            ASSERT_EQ(b.save(path("r.bmp").c_str()), 1);
            Bitmap back;
            ASSERT_EQ(back.load(path("r.bmp").c_str()), 1) << channels << " " << width;
            EXPECT_EQ(back.m_dim[0], width);
            EXPECT_EQ(back.m_dim[1], 3);
            EXPECT_EQ(back.m_channels, channels);
            EXPECT_EQ(pixelsOf(back), pixelsOf(b)) << channels << " " << width;
        }
    }
}

TEST(BitmapBuffer, CreateFromBufferAdoptsTheBuffer) {
    Bitmap b;
    auto* pixels = static_cast<unsigned char*>(KVEL::allocateAligned(6));
    std::memset(pixels, 9, 6);
    b.createFromBuffer(2, 1, 3, pixels);
    EXPECT_EQ(b.data(), pixels);
    EXPECT_EQ(b.m_bits_per_pixel, 24);
    EXPECT_EQ(b.m_stride, 6);
}

// Files written by ImageMagick and PIL (tests/data/bmp/make_fixtures.sh) from
// one 7x5 picture: pixel (x, y) is red 40x+10, green 60y+5, blue 9xy.
class BitmapFromOtherTools : public ::testing::TestWithParam<const char*> {};

TEST_P(BitmapFromOtherTools, LoadsThePictureTheyWrote) {
    Bitmap b;
    ASSERT_EQ(b.load((std::string(TEST_DATA_DIR) + "/bmp/" + GetParam()).c_str()), 1);
    ASSERT_EQ(b.m_dim[0], 7);
    ASSERT_EQ(b.m_dim[1], 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            const unsigned char* p = b.data() + y * b.m_stride + x * b.m_channels;
            if (b.m_channels == 1) p = b.m_palette + 4 * p[0];  // blue, green, red of the entry
            EXPECT_EQ(p[2], 40 * x + 10) << x << "," << y;
            EXPECT_EQ(p[1], 60 * y + 5) << x << "," << y;
            EXPECT_EQ(p[0], 9 * x * y) << x << "," << y;
        }
    }
}

// The in-memory decoder is the same parser: the same picture from the whole
// buffer, and every cut either fails or still holds the whole picture.
TEST_P(BitmapFromOtherTools, FromMemoryGivesTheSamePictureAndCutsNeverReadPastTheEnd) {
    const std::string file = std::string(TEST_DATA_DIR) + "/bmp/" + GetParam();
    const std::vector<unsigned char> bytes = readFile(file);
    Bitmap fromFile;
    ASSERT_EQ(fromFile.load(file.c_str()), 1);
    for (std::size_t size = 0; size <= bytes.size(); ++size) {
        Bitmap b;
        std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        const int result = b.load(cut.data(), cut.size());
        if (size == bytes.size()) {
            ASSERT_EQ(result, 1);
        }
        if (result == 1) {
            EXPECT_EQ(pixelsOf(b), pixelsOf(fromFile)) << size;
        }
        EXPECT_TRUE(size >= 54 || result == -1) << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BitmapFromOtherTools,
                         ::testing::Values("magick_24bit.bmp", "magick_24bit_v4header.bmp", "magick_32bit.bmp",
                                           "magick_8bit_palette.bmp", "pil_24bit.bmp", "pil_32bit.bmp",
                                           "pil_8bit_palette.bmp"));

TEST(BitmapFromOtherTools, RefusesTheirFourBitAndRunLengthFiles) {
    Bitmap b;
    EXPECT_EQ(b.load(TEST_DATA_DIR "/bmp/magick_4bit_palette.bmp"), -1);
    EXPECT_EQ(b.load(TEST_DATA_DIR "/bmp/magick_8bit_rle.bmp"), -1);
}

// Our files as ImageMagick and PIL see them: the same red, green, blue bytes.
using testcommand::commandOutput;
using testcommand::haveTool;

class BitmapReadByOtherTools : public TempDirTest {};

TEST_F(BitmapReadByOtherTools, ImageMagickAndPilSeeThePixelsWeWrote) {
    if (!haveTool("convert") || !haveTool("/usr/bin/python3")) GTEST_SKIP() << "needs imagemagick and python3-pil";
    for (int channels : {1, 3, 4}) {
        Bitmap b;
        b.createFromBuffer(5, 3, channels, nullptr);
        for (int i = 0; i < b.m_image_size; ++i) b.data()[i] = static_cast<unsigned char>(i * 11 + 3);
        const std::string file = path("ours.bmp");
        ASSERT_EQ(b.save(file.c_str()), 1);
        std::vector<unsigned char> expected;
        for (int p = 0; p < 15; ++p) {
            const unsigned char* px = b.data() + p * channels;
            // One channel is an index into the grey ramp; otherwise blue, green, red.
            const unsigned char rgb[3] = {px[channels == 1 ? 0 : 2], px[channels == 1 ? 0 : 1], px[0]};
            expected.insert(expected.end(), rgb, rgb + 3);
        }
        EXPECT_EQ(commandOutput("convert '" + file + "' -depth 8 rgb:-"), expected) << channels << " channels";
        EXPECT_EQ(commandOutput("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert('RGB').tobytes())\" '" +
                                file + "'"),
                  expected)
            << channels << " channels";
    }
}
