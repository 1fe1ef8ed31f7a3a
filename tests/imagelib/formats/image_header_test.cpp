#include "imagelib/errors.h"
#include "imagelib/image_file.h"
#include "imagelib/space.h"
#include "imagelib/detail/element_types.h"

#include "random_image.h"
#include "../support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace KVEL;

namespace {

class ImageHeaderTest : public TempDirTest {};

std::vector<char> bytesAt(const std::string& path, long long offset, std::size_t n) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(offset);
    std::vector<char> bytes(n);
    in.read(bytes.data(), static_cast<std::streamsize>(n));
    return in ? bytes : std::vector<char>();
}

}  // namespace

// The header alone tells what the whole read gives, for every format; where it
// names raw elements, the bytes there are the image's elements.
TEST_F(ImageHeaderTest, SaysWhatTheWholeReadGivesAndWhereRawElementsLie) {
    struct Case {
        const char* name;
        int glType;
        int channels;
        bool raw;
    };
    for (const Case& c : {Case{"v.mhd", kGlShort, 2, true}, Case{"v.nii", kGlFloat, 1, true},
                          Case{"v.mha", kGlInt, 1, false}, Case{"v.nii.gz", kGlDouble, 1, false},
                          Case{"v.tif", kGlUnsignedShort, 1, false}}) {
        std::unique_ptr<Image> written = imagetest::randomImage(c.glType, 7, 5, 3, c.channels, 9, -50, 50);
        written->setSpacing(0.5f, 0.25f, 2, 1);
        for (int i = 0; i < 3; ++i) written->m_position[i] = 1.5f * (i + 1);
        const std::string path = this->path(c.name);
        ASSERT_EQ(writeImage(path.c_str(), written.get()), 0) << lastError();
        std::unique_ptr<Image> read(readImage(path.c_str()));
        ASSERT_NE(read, nullptr) << lastError();
        ImageHeader header;
        ASSERT_EQ(readHeader(path.c_str(), header), 0) << c.name << ": " << lastError();
        EXPECT_EQ(header.format, formatOfFile(path.c_str())) << c.name;
        EXPECT_EQ(header.glType, glTypeOf(read.get())) << c.name;
        EXPECT_EQ(header.channels, read->m_channels) << c.name;
        const Matrix3 direction = directionOf(*read);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(header.dim[i], read->m_dim[i]) << c.name << " axis " << i;
            EXPECT_EQ(header.spacing[i], read->m_spacing[i]) << c.name << " axis " << i;
        }
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(header.position[i], read->m_position[i]) << c.name << " axis " << i;
            for (int j = 0; j < 3; ++j) EXPECT_EQ(header.direction[i][j], direction[i][j]) << c.name;
        }
        EXPECT_EQ(!header.dataFile.empty(), c.raw) << c.name;
        if (!c.raw) continue;
        withTypedImage(read.get(), [&](auto& typed) {
            const std::size_t bytes = static_cast<std::size_t>(typed.m_image_size) * sizeof(*typed.m_data);
            const std::vector<char> stored = bytesAt(header.dataFile, header.dataOffset, bytes);
            ASSERT_EQ(stored.size(), bytes) << c.name;
            EXPECT_FALSE(header.bigEndian) << c.name;
            EXPECT_EQ(std::memcmp(stored.data(), typed.m_data, bytes), 0) << c.name;
        });
    }
}

// Data that cannot back the header are refused by the header alone, as by the
// whole read; a header may describe more elements than an image holds.
TEST_F(ImageHeaderTest, RefusesShortDataAndDescribesVolumesBeyondAnImage) {
    { std::ofstream(path("short.raw"), std::ios::binary) << std::string(10, '\0'); }
    { std::ofstream(path("short.mhd")) << "NDims = 2\nDimSize = 4 4\nElementType = MET_UCHAR\nElementDataFile = short.raw\n"; }
    ImageHeader header;
    EXPECT_EQ(readHeader(path("short.mhd").c_str(), header), 1);
    EXPECT_NE(std::string(lastError()).find("could not load image data"), std::string::npos) << lastError();
    { std::ofstream(path("big.mhd")) << "NDims = 3\nDimSize = 65536 65536 2\nElementType = MET_UCHAR\nElementDataFile = big.raw\n"; }
    { std::ofstream big(path("big.raw"), std::ios::binary); }
    std::filesystem::resize_file(path("big.raw"), 1ull << 33);  // sparse: no disk is spent
    ASSERT_EQ(readHeader(path("big.mhd").c_str(), header), 0) << lastError();
    EXPECT_EQ(header.dim[0], 65536);
    EXPECT_EQ(header.dim[2], 2);
    EXPECT_EQ(header.dataOffset, 0);
    EXPECT_EQ(readImage(path("big.mhd").c_str()), nullptr);
}
