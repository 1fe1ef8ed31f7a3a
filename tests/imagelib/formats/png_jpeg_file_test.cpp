// PNG and JPEG through the entry point: files other programs wrote (PIL,
// numpy) read element for element, ours read by them, and hostile
// bytes refused with one line.
#include "imagelib/bitmap.h"
#include "imagelib/errors.h"
#include "imagelib/image_file.h"
#include "random_image.h"
#include "bmp_file_builder.h"
#include "../support/temp_dir.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace KVEL;

namespace {

const std::string kFixtures = std::string(TEST_DATA_DIR) + "/../imagelib/image_fixtures.py";

bool havePython() { return std::system("/usr/bin/python3 -c 'import numpy, PIL' >/dev/null 2>&1") == 0; }

std::string run(const std::string& arguments) {
    std::string out;
    if (FILE* pipe = popen(("/usr/bin/python3 " + kFixtures + " " + arguments).c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        if (pclose(pipe) != 0) ADD_FAILURE() << "image_fixtures.py " << arguments << " failed";
    }
    return out;
}

std::vector<unsigned char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The image's elements as bytes in memory order: little-endian on the
// machines this runs on, the layout the fixtures use.
std::vector<unsigned char> elementBytes(const Image& image) {
    const int size = glTypeOf(&image) == kGlUnsignedShort ? 2 : 1;
    const auto* data = size == 2 ? reinterpret_cast<const unsigned char*>(static_cast<const ImageBase<unsigned short>&>(image).m_data)
                                 : static_cast<const ImageBase<unsigned char>&>(image).m_data;
    return std::vector<unsigned char>(data, data + static_cast<std::size_t>(image.m_image_size) * size);
}

// Pictures JPEG keeps close: smooth ramps, different in every channel.
std::unique_ptr<Image> ramps(int w, int h, int channels) {
    auto image = std::make_unique<ImageBase<unsigned char>>();
    image->init(w, h, 1, 1, channels);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < channels; ++c) image->set(static_cast<float>(x + 2 * y + 60 * c), x, y, 0, 0, c);
        }
    }
    return image;
}

class ImageFilesOfOtherPrograms : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (!havePython()) GTEST_SKIP() << "needs /usr/bin/python3 with numpy and PIL";
        setMessagesPrinted(false);
    }
    void TearDown() override {
        setMessagesPrinted(true);
        TempDirTest::TearDown();
    }

    // Every fixture reads with its geometry, element size and elements.
    void expectFixturesRead(const std::string& kind, const std::string& extension) {
        run(kind + " " + dir_.string());
        std::ifstream manifest(path("manifest.txt"));
        std::string name;
        int width, height, channels, bits, count = 0;
        for (; manifest >> name >> width >> height >> channels >> bits; ++count) {
            SCOPED_TRACE(name);
            std::unique_ptr<Image> image(readImage(path(name + extension).c_str()));
            ASSERT_TRUE(image) << lastError();
            EXPECT_EQ(glTypeOf(image.get()), bits == 16 ? kGlUnsignedShort : kGlUnsignedByte);
            const int geometry[] = {image->m_dim[0], image->m_dim[1], image->m_dim[2], image->m_channels};
            EXPECT_EQ(std::vector<int>(geometry, geometry + 4), std::vector<int>({width, height, 1, channels}));
            EXPECT_EQ(elementBytes(*image), fileBytes(path(name + ".expected")));
        }
        EXPECT_GT(count, 0);
    }
};

TEST_F(ImageFilesOfOtherPrograms, PngOfEveryColourTypeAndDepthReadsElementForElement) {
    expectFixturesRead("png", ".png");
}

// Through the entry point only: Bitmap::load keeps to 8 bits and more, uncompressed.
TEST_F(ImageFilesOfOtherPrograms, BmpOfOneAndFourBitsAndRunLengthsReadAsPilDecodesThem) {
    expectFixturesRead("bmp", ".bmp");
    for (const char* name : {"bits1", "bits4", "rle4", "rle8"}) {
        Bitmap bitmap;
        EXPECT_EQ(bitmap.load(path(std::string(name) + ".bmp").c_str()), -1) << name;
    }
}

// libjpeg-turbo decodes for PIL too, with the same settings: equal pixels,
// CMYK included (the ink-to-light step rounds as PIL's does).
TEST_F(ImageFilesOfOtherPrograms, JpegGreyColourProgressiveAndCmykReadAsPilDecodesThem) {
    expectFixturesRead("jpeg", ".jpg");
}

TEST_F(ImageFilesOfOtherPrograms, PilReadsThePngAndJpegFilesWeWrite) {
    std::vector<std::string> files;
    std::vector<std::vector<unsigned char>> written;
    for (int type : {kGlUnsignedByte, kGlUnsignedShort}) {
        for (int channels = 1; channels <= 4; ++channels) {
            auto image = imagetest::randomImage(type, 11, 6, 1, channels, 17u * channels + type, 0,
                                                type == kGlUnsignedShort ? 65536.0f : 256.0f);
            files.push_back(path("ours" + std::to_string(type) + "_" + std::to_string(channels) + ".png"));
            ASSERT_EQ(writeImage(files.back().c_str(), image.get()), 0) << lastError();
            written.push_back(elementBytes(*image));
        }
    }
    for (int channels : {1, 3}) {
        files.push_back(path("ours" + std::to_string(channels) + ".jpg"));
        ASSERT_EQ(writeImage(files.back().c_str(), ramps(40, 30, channels).get()), 0) << lastError();
        written.push_back(elementBytes(*ramps(40, 30, channels)));
    }
    std::string list;
    for (const std::string& f : files) list += " " + f;
    run("read" + list);
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i]);
        const std::vector<unsigned char> theirs = fileBytes(files[i] + ".theirs");
        std::unique_ptr<Image> back(readImage(files[i].c_str()));
        ASSERT_TRUE(back) << lastError();
        if (files[i].back() == 'g') {  // .png: lossless, both ways
            EXPECT_EQ(elementBytes(*back), written[i]);
            if (glTypeOf(back.get()) == kGlUnsignedShort && back->m_channels > 1) {
                // PIL keeps only the high byte of 16-bit colour.
                std::vector<unsigned char> high;
                for (std::size_t k = 1; k < written[i].size(); k += 2) high.push_back(written[i][k]);
                EXPECT_EQ(theirs, high);
            } else {
                EXPECT_EQ(theirs, written[i]);
            }
            continue;
        }
        // JPEG: the same decoder on both sides, and close to what was written
        // (a swapped or shifted channel is far off).
        EXPECT_EQ(elementBytes(*back), theirs);
        ASSERT_EQ(theirs.size(), written[i].size());
        long error = 0;
        for (std::size_t k = 0; k < theirs.size(); ++k) error += std::abs(theirs[k] - written[i][k]);
        EXPECT_LT(static_cast<double>(error) / theirs.size(), 2.0);
    }
}

TEST_F(ImageFilesOfOtherPrograms, JpegQualityGivesTheTablesPilWritesForIt) {
    std::string levels;
    for (int quality : {1, 30, 95, 100}) {
        WriteOptions options;
        options.quality = quality;
        levels += " " + std::to_string(quality);
        ASSERT_EQ(writeImage(path("q-" + std::to_string(quality) + ".jpg").c_str(), ramps(16, 16, 3).get(), options), 0)
            << lastError();
    }
    EXPECT_EQ(run("quality " + path("q") + levels), "same\nsame\nsame\nsame\n");
}

class ImageFilesHostile : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        setMessagesPrinted(false);
    }
    void TearDown() override {
        setMessagesPrinted(true);
        TempDirTest::TearDown();
    }

    std::vector<unsigned char> written(const std::string& name, Image& image) {
        EXPECT_EQ(writeImage(path(name).c_str(), &image), 0) << lastError();
        return fileBytes(path(name));
    }
};

// A refusal is null with one line naming the format; nothing the codec says
// reaches the terminal.
void expectWholeOrRefused(const std::vector<unsigned char>& bytes, std::size_t size, const char* format) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::unique_ptr<Image> image(readImage(bytes.data(), size));
    const std::string out = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "") << size;
    if (image) {
        EXPECT_EQ(image->m_image_size, image->m_dim[0] * image->m_dim[1] * image->m_channels);
        return;
    }
    const std::string why = lastError();
    EXPECT_EQ(why.rfind("Error: " + std::string(format) + " file in memory: ", 0), 0u) << why;
    EXPECT_EQ(why.find('\n'), std::string::npos) << why;
}

TEST_F(ImageFilesHostile, EveryTruncationAndEveryFlippedByteIsReadWholeOrRefused) {
    auto png16 = imagetest::randomImage(kGlUnsignedShort, 9, 5, 1, 3, 5, 0, 65536);
    for (const auto& [bytes, format] : {std::make_pair(written("a.png", *png16), "PNG"),
                                        std::make_pair(written("a.jpg", *ramps(24, 17, 3)), "JPEG")}) {
        ASSERT_GT(bytes.size(), 100u);
        // Without its last bytes a file may still hold the whole picture;
        // cut into the pixel data, it must be refused.
        for (std::size_t size = 8; size < bytes.size(); ++size) expectWholeOrRefused(bytes, size, format);
        std::unique_ptr<Image> half(readImage(bytes.data(), bytes.size() / 2));
        EXPECT_FALSE(half) << format;
        for (std::size_t i = 8; i < bytes.size(); ++i) {  // past the signatures
            std::vector<unsigned char> flipped = bytes;
            flipped[i] ^= 0x5A;
            expectWholeOrRefused(flipped, flipped.size(), format);
        }
    }
}

void putBig16(unsigned char* p, unsigned v) {
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

TEST_F(ImageFilesHostile, TinyFilesClaimingHugeImagesAreRefusedBeforeAllocating) {
    // PNG: IHDR says 100000 x 100000, its checksum made right.
    std::vector<unsigned char> png = written("small.png", *ramps(4, 4, 1));
    putBig16(&png[16], 1), putBig16(&png[18], 100000 - 65536);
    putBig16(&png[20], 1), putBig16(&png[22], 100000 - 65536);
    const uLong crc = crc32(0, &png[12], 17);
    for (int k = 0; k < 4; ++k) png[29 + k] = static_cast<unsigned char>(crc >> (24 - 8 * k));
    EXPECT_FALSE(std::unique_ptr<Image>(readImage(png.data(), png.size())));
    EXPECT_STREQ(lastError(), "Error: PNG file in memory: image of 100000 x 100000 pixels is larger than the file can hold");

    // JPEG: the frame header says 65000 x 65000.
    std::vector<unsigned char> jpeg = written("small.jpg", *ramps(8, 8, 3));
    std::size_t sof = 2;
    while (sof + 9 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) ++sof;
    ASSERT_LT(sof + 9, jpeg.size());
    putBig16(&jpeg[sof + 5], 65000), putBig16(&jpeg[sof + 7], 65000);
    EXPECT_FALSE(std::unique_ptr<Image>(readImage(jpeg.data(), jpeg.size())));
    EXPECT_STREQ(lastError(), "Error: JPEG file in memory: image of 65000 x 65000 pixels is larger than the file can hold");

    // Run-length coded BMP: 30000 x 30000 in one end-of-picture code; and
    // codes that stop before the last row without that code.
    bmptest::BmpFields rle;
    rle.bitCount = 8, rle.compression = 1, rle.paletteEntries = 256;
    rle.width = rle.height = 30000;
    std::vector<unsigned char> bmp = bmptest::buildBmp(rle, {0, 1});
    EXPECT_FALSE(std::unique_ptr<Image>(readImage(bmp.data(), bmp.size())));
    EXPECT_NE(std::string(lastError()).find("coded bytes"), std::string::npos) << lastError();
    rle.width = rle.height = 4;
    bmp = bmptest::buildBmp(rle, {4, 9, 0, 0, 4, 9});
    EXPECT_FALSE(std::unique_ptr<Image>(readImage(bmp.data(), bmp.size())));
    EXPECT_NE(std::string(lastError()).find("cut short"), std::string::npos) << lastError();
}

TEST_F(ImageFilesHostile, ImagesAFormatCannotHoldAreRefusedNotConverted) {
    struct Case {
        const char* name;
        int type, channels, depth;
        int quality;
        const char* says;
    } cases[] = {
        {"float.jpg", kGlFloat, 1, 1, 95, "Error: a JPEG file holds"},
        {"grey_alpha.jpg", kGlUnsignedByte, 2, 1, 95, "Error: a JPEG file holds"},
        {"zero.jpg", kGlUnsignedByte, 3, 1, 0, "Error: JPEG quality must be from 1 to 100, not 0"},
        {"over.jpeg", kGlUnsignedByte, 1, 1, 101, "Error: JPEG quality must be from 1 to 100, not 101"},
        {"five.png", kGlUnsignedByte, 5, 1, 95, "Error: a PNG file holds"},
        {"volume.png", kGlUnsignedByte, 1, 3, 95, "Error: a PNG file holds"},
    };
    for (const Case& c : cases) {
        auto image = imagetest::randomImage(c.type, 6, 4, c.depth, c.channels, 1);
        WriteOptions options;
        options.quality = c.quality;
        EXPECT_EQ(writeImage(path(c.name).c_str(), image.get(), options), 1) << c.name;
        EXPECT_EQ(std::string(lastError()).rfind(c.says, 0), 0u) << lastError();
        EXPECT_FALSE(std::ifstream(path(c.name)).good()) << c.name << " was left behind";
    }
}

}  // namespace
