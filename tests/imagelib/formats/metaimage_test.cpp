#include "imagelib/metaimage.h"
#include "imagelib/space.h"

#include "imagelib/bitmap.h"
#include "image_fill.h"
#include "../support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

using KVEL::Image;
using KVEL::ImageBase;

namespace {

const char* metTypeName(int glType) {
    switch (glType) {
        case KVEL::kGlUnsignedByte: return "MET_UCHAR";
        case KVEL::kGlByte: return "MET_CHAR";
        case KVEL::kGlShort: return "MET_SHORT";
        case KVEL::kGlUnsignedShort: return "MET_USHORT";
        case KVEL::kGlInt: return "MET_INT";
        case KVEL::kGlUnsignedInt: return "MET_UINT";
        case KVEL::kGlFloat: return "MET_FLOAT";
        default: return "MET_DOUBLE";
    }
}

std::string zlibStream(const std::string& bytes) {
    uLongf size = compressBound(bytes.size());
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
    out.resize(size);
    return out;
}

template <class T>
std::string elementBytes(const ImageBase<T>& image) {
    return std::string(reinterpret_cast<const char*>(image.data()), sizeof(T) * image.m_image_size);
}

}  // namespace

class MetaImage : public TempDirTest {
protected:
    void writeText(const std::string& name, const std::string& text) { std::ofstream(path(name)) << text; }
    void writeBytes(const std::string& name, const std::string& bytes) {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    std::string readText(const std::string& name) {
        std::ifstream in(path(name));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Reads a header, returning the image and what it printed.
    std::unique_ptr<Image> read(const std::string& name, std::string& printed) {
        testing::internal::CaptureStdout();
        std::unique_ptr<Image> image(KVEL::readMetaImage(path(name).c_str()));
        printed = testing::internal::GetCapturedStdout();
        return image;
    }
};

TEST_F(MetaImage, ReadsTheRawFileNamedRelativeToTheHeader) {
    writeText("a.mhd", "NDims = 2\nDimSize = 4 3\nElementType = MET_UCHAR\nElementDataFile = a.raw\n");
    writeBytes("a.raw", "abcdefghijkl");
    std::string printed;
    auto image = read("a.mhd", printed);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->m_dim[0], 4);
    EXPECT_EQ(image->m_dim[1], 3);
    EXPECT_EQ(image->m_dim[2], 1);
    EXPECT_EQ(image->m_channels, 1);
    EXPECT_EQ(image->get(5), 'f');
    EXPECT_EQ(printed, "Loading file " + path("a.raw") + "\nLoaded Image, resolution 4 x 3 x 1, min 97, max = 108\n");
}

TEST_F(MetaImage, KeysWithSpacesAndCarriageReturnsStillMatch) {
    writeText("s.mhd",
              "NDims=3\r\nDim Size = 1 1 2\r\n\r\nElement Type = MET_SHORT \r\nElementByteOrderMSB = True\r\n"
              "ElementSpacing = 0.5 2 3\r\nImagePositionPatient = 1 2 3\r\nElementDataFile = s.raw\r\n");
    writeBytes("s.raw", std::string("\x12\x34\xff\xfe", 4));
    std::string printed;
    auto image = read("s.mhd", printed);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->m_dim[2], 2);
    EXPECT_EQ(image->get(0), 0x1234);  // big-endian bytes swapped after reading
    EXPECT_EQ(image->get(1), -2);
    EXPECT_FLOAT_EQ(image->m_spacing[0], 0.5f);
    EXPECT_FLOAT_EQ(image->m_position[2], 3);
}

TEST_F(MetaImage, HeaderWithoutDirectoryResolvesTheDataInTheCurrentDirectory) {
    writeText("c.mhd", "NDims = 1\nDimSize = 2\nElementType = MET_CHAR\nElementDataFile = c.raw\n");
    writeBytes("c.raw", "xy");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    testing::internal::CaptureStdout();
    std::unique_ptr<Image> image(KVEL::readMetaImage("c.mhd"));
    const std::string printed = testing::internal::GetCapturedStdout();
    std::filesystem::current_path(cwd);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(printed.rfind("Loading file ./c.raw\n", 0), 0u);
    EXPECT_EQ(image->get(1), 'y');
}

TEST_F(MetaImage, OnlyTrulyUnknownKeywordsWarnAndReadingGoesOn) {
    writeText("u.mhd", "NDims = 1\nFoo = 3 4\nDimSize = 1\nObjectType = Image\nBinaryData = True\n"
                       "TransformMatrix = 1\nRotation = 1\nOrientation = 1\nCenterOfRotation = 0\n"
                       "AnatomicalOrientation = RAI\nElementSize = 1\nElementMin = 0\nElementMax = 1\n"
                       "ElementType = MET_UCHAR\nElementDataFile = u.raw\n");
    writeBytes("u.raw", "u");
    std::string printed;
    auto image = read("u.mhd", printed);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(printed.find("Warning"), printed.rfind("Warning: Unknown keyword \"Foo\"\n"));
    EXPECT_EQ(image->get(0), 'u');
}

TEST_F(MetaImage, HeaderSizeSkipsLeadingBytesOrTakesTheLastOnes) {
    writeBytes("h.raw", "HEADERab");
    writeText("h.mhd", "NDims = 1\nDimSize = 2\nHeaderSize = 6\nElementType = MET_UCHAR\nElementDataFile = h.raw\n");
    std::string printed;
    auto skipped = read("h.mhd", printed);
    ASSERT_NE(skipped, nullptr);
    EXPECT_EQ(printed.rfind("Warning: 6 bytes header\n", 0), 0u);
    EXPECT_EQ(skipped->get(0), 'a');
    writeText("t.mhd", "NDims = 1\nDimSize = 2\nHeaderSize = -1\nElementType = MET_UCHAR\nElementDataFile = h.raw\n");
    auto tail = read("t.mhd", printed);
    EXPECT_EQ(printed.find("Warning"), std::string::npos);
    EXPECT_EQ(tail->get(1), 'b');
}

// Malformed headers: one clear line and no image.
struct BadHeader {
    const char* name;
    const char* text;
    const char* message;
};

class MetaImageRejects : public MetaImage, public ::testing::WithParamInterface<BadHeader> {};

TEST_P(MetaImageRejects, PrintsWhyAndGivesNull) {
    writeText("bad.mhd", GetParam().text);
    writeBytes("d.raw", std::string(64, 'x'));
    std::string printed;
    EXPECT_EQ(read("bad.mhd", printed), nullptr);
    EXPECT_NE(printed.find(GetParam().message), std::string::npos) << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
}

INSTANTIATE_TEST_SUITE_P(
    BadHeaders, MetaImageRejects,
    ::testing::Values(
        BadHeader{"NineDimensions", "NDims = 9\nDimSize = 1 1 1 1 1 1 1 1 1\nElementType = MET_UCHAR\n",
                  "NDims 9 is not between 0 and 4"},
        BadHeader{"ZeroSize", "NDims = 2\nDimSize = 4 0\nElementType = MET_UCHAR\nElementDataFile = d.raw\n",
                  "DimSize 0 is not positive"},
        BadHeader{"NegativeSize", "NDims = 2\nDimSize = -4 2\nElementType = MET_UCHAR\n", "DimSize -4 is not positive"},
        BadHeader{"OverflowingSizes",
                  "NDims = 3\nDimSize = 65536 65536 65536\nElementType = MET_UCHAR\nElementDataFile = d.raw\n",
                  "image size too large"},
        BadHeader{"DataFileBeforeType", "NDims = 1\nDimSize = 2\nElementDataFile = d.raw\nElementType = MET_UCHAR\n",
                  "ElementDataFile before ElementType"},
        BadHeader{"UnknownType", "NDims = 1\nElementType = MET_COMPLEX\n", "Error: Unknown MetaImage data type!"},
        BadHeader{"ShearedMatrix",
                  "NDims = 2\nDimSize = 2 2\nTransformMatrix = 1 0 0.5 1\nElementType = MET_UCHAR\nElementDataFile = d.raw\n",
                  "not at right angles"},
        BadHeader{"UnreadableNumber", "NDims = two\n", "unreadable NDims value"},
        BadHeader{"NoChannels", "ElementNumberOfChannels = 0\n", "ElementNumberOfChannels 0 is not positive"},
        BadHeader{"NoElementType", "NDims = 1\n", "no ElementType"},
        BadHeader{"NoDataFile", "NDims = 1\nElementType = MET_UCHAR\n", "no ElementDataFile"},
        BadHeader{"HugeChannelCount", "NDims = 2\nDimSize = 1 1\nElementNumberOfChannels = 2000000000\n",
                  "ElementNumberOfChannels 2000000000 is above 256"},
        BadHeader{"GigabytesOverATinyFile",
                  "NDims = 3\nDimSize = 1290 1290 1290\nElementType = MET_UCHAR\nElementDataFile = d.raw\n",
                  "could not load image data! (the data hold 64 bytes, 2146689000 needed)"},
        BadHeader{"ShortDataFile", "NDims = 2\nDimSize = 8 8\nElementType = MET_USHORT\nElementDataFile = d.raw\n",
                  "could not load image data!"},
        BadHeader{"MissingDataFile", "NDims = 1\nDimSize = 1\nElementType = MET_UCHAR\nElementDataFile = no.raw\n",
                  "Warning: could not load image data! (cannot open"},
        BadHeader{"DataFileAbove", "NDims = 1\nElementType = MET_UCHAR\nElementDataFile = ../../../../etc/passwd\n",
                  "data file ../../../../etc/passwd lies outside the folder"},
        BadHeader{"AbsoluteDataFile", "NDims = 1\nElementType = MET_UCHAR\nElementDataFile = /etc/passwd\n",
                  "lies outside the folder"},
        BadHeader{"ClimbingBack", "NDims = 1\nElementType = MET_UCHAR\nElementDataFile = a/../../d.raw\n",
                  "lies outside the folder"},
        BadHeader{"DirectoryAsData", "NDims = 1\nElementType = MET_UCHAR\nElementDataFile = .\n",
                  "lies outside the folder"},
        BadHeader{"ListEntryAbove",
                  "NDims = 2\nDimSize = 1 2\nElementType = MET_UCHAR\nElementDataFile = LIST\nd.raw\n../d.raw\n",
                  "data file ../d.raw lies outside"},
        BadHeader{"ListTooShort", "NDims = 2\nDimSize = 1 3\nElementType = MET_UCHAR\nElementDataFile = LIST\nd.raw\n",
                  "LIST names 1 of 3 files"},
        BadHeader{"FilePattern", "NDims = 1\nElementType = MET_UCHAR\nElementDataFile = s%03d.raw 1 4 1\n",
                  "is not supported"},
        BadHeader{"CompressionBomb",
                  "NDims = 3\nDimSize = 1000 1000 1000\nCompressedData = True\nCompressedDataSize = 64\n"
                  "ElementType = MET_UCHAR\nElementDataFile = d.raw\n",
                  "64 compressed bytes cannot hold the image's 1000000000"},
        BadHeader{"LocalDataTooShort", "NDims = 1\nDimSize = 9\nElementType = MET_UCHAR\nElementDataFile = LOCAL\nab",
                  "could not load image data!"}),
    [](const ::testing::TestParamInfo<BadHeader>& info) { return info.param.name; });

TEST_F(MetaImage, FifosDirectoriesAndLinksOutAreRefusedWithoutBlocking) {
    ASSERT_EQ(mkfifo(path("fifo.raw").c_str(), 0600), 0);
    std::filesystem::create_directory(path("dir.raw"));
    for (const std::string name : {"fifo.raw", "dir.raw"}) {
        writeText("f.mhd", "NDims = 1\nElementType = MET_UCHAR\nElementDataFile = " + name + "\n");
        std::string printed;
        EXPECT_EQ(read("f.mhd", printed), nullptr);
        EXPECT_NE(printed.find(name + " is not a regular file"), std::string::npos) << printed;
        EXPECT_EQ(read(name, printed), nullptr);
        EXPECT_NE(printed.find("cannot read MetaImage header"), std::string::npos) << printed;
    }
    // A link inside the folder that leads out of it is no way out either.
    std::filesystem::create_symlink("/etc/passwd", path("link.raw"));
    writeText("l.mhd", "NDims = 1\nElementType = MET_UCHAR\nElementDataFile = link.raw\n");
    std::string printed;
    EXPECT_EQ(read("l.mhd", printed), nullptr);
    EXPECT_NE(printed.find("lies outside the folder"), std::string::npos) << printed;
}

TEST_F(MetaImage, BadCompressedStreamsGiveNullAndSayWhy) {
    const std::string stream = zlibStream(std::string(24, 'z'));
    std::string corrupt = stream;
    corrupt[stream.size() / 2] ^= 0x55;
    struct Case {
        std::string dimSize, sizeLine, data, reason;
    };
    const Case cases[] = {
        {"24", "", corrupt, "corrupt"},
        {"48", "", stream, "inflate to 24 bytes, the image needs 48"},
        {"12", "", stream, "inflate to more than the image's 12 bytes"},
        {"24", "", stream.substr(0, stream.size() - 3), "cut short"},
        {"24", "CompressedDataSize = " + std::to_string(stream.size() - 3) + "\n", stream, "cut short"},
    };
    for (const Case& c : cases) {
        writeBytes("z.mha", "NDims = 1\nDimSize = " + c.dimSize + "\nCompressedData = True\n" + c.sizeLine +
                                "ElementType = MET_UCHAR\nElementDataFile = LOCAL\n" + c.data);
        std::string printed;
        EXPECT_EQ(read("z.mha", printed), nullptr);
        EXPECT_NE(printed.find("Warning: could not load image data! (compressed data"), std::string::npos) << printed;
        EXPECT_NE(printed.find(c.reason), std::string::npos) << printed;
    }
}

TEST_F(MetaImage, ListNamesOneFilePerSliceInOrder) {
    std::filesystem::create_directory(path("s"));
    writeBytes("s/0.raw", "abcd");
    writeBytes("s/1.raw", "efgh");
    writeBytes("s/2.raw", "ijkl");
    writeText("l.mhd", "NDims = 3\nDimSize = 2 2 3\nElementType = MET_UCHAR\nElementDataFile = LIST 2D\r\n"
                       "s/0.raw\r\n\ns/1.raw\ns/2.raw\n");
    std::string printed;
    auto image = read("l.mhd", printed);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->m_dim[2], 3);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(image->get(i), 'a' + i);
}

TEST_F(MetaImage, PositionComesFromThePatientPositionElseFromOffsetAndTheLastByteOrderKeyWins) {
    const std::string keys = "DimSize = 1 1\nElementType = MET_SHORT\nElementByteOrderMSB = True\n"
                             "BinaryDataByteOrderMSB = False\nElementDataFile = LOCAL\n\x01\x02";
    for (const std::string position : {"Offset = 4 5\n", "Origin = 4 5\n", "ImagePositionPatient = 4 5 6\nOffset = 1 1\n",
                                       "Position = 4 5\n", "Position = 9 9\nOffset = 4 5\nPosition = 8 8\n"}) {
        writeBytes("p.mha", "NDims = 2\n" + position + keys);
        std::string printed;
        auto image = read("p.mha", printed);
        ASSERT_NE(image, nullptr) << printed;
        EXPECT_EQ(image->get(0), 0x0201);
        EXPECT_EQ(image->m_position[0], 4);
        EXPECT_EQ(image->m_position[1], 5);
        EXPECT_EQ(image->m_position[2], position[0] == 'I' ? 6 : 0);
    }
}

// The stored matrix lists each index axis's direction in turn (ITK's order);
// AnatomicalOrientation names the side each axis comes from ("RAI": identity).
TEST_F(MetaImage, DirectionComesFromTheTransformMatrixElseTheAnatomicalOrientation) {
    const std::string keys = "DimSize = 1 1 1\nElementType = MET_UCHAR\nElementDataFile = LOCAL\nx";
    const struct {
        const char* key;
        KVEL::Matrix3 direction;
    } cases[] = {
        {"TransformMatrix = 0 1 0 0 0 1 1 0 0\n", {{{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}}},
        {"Orientation = 0 1 0 0 0 1 1 0 0\n", {{{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}}},
        {"Rotation = -1 0 0 0 1 0 0 0 1\nAnatomicalOrientation = RAI\n", {{{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}},
        {"AnatomicalOrientation = RAI\n", KVEL::identityDirection()},
        {"AnatomicalOrientation = LPS\n", {{{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}}},
        {"AnatomicalOrientation = ASL\n", {{{0, 0, -1}, {1, 0, 0}, {0, -1, 0}}}},
    };
    for (const auto& c : cases) {
        writeBytes("d.mha", std::string("NDims = 3\n") + c.key + keys);
        std::string printed;
        auto image = read("d.mha", printed);
        ASSERT_NE(image, nullptr) << printed;
        EXPECT_EQ(KVEL::directionOf(*image), c.direction) << c.key;
    }
}

TEST_F(MetaImage, HeadersInMemoryReadTheirDataBufferAndOpenNothing) {
    const std::string header = "NDims = 1\nDimSize = 3\nElementType = MET_UCHAR\nElementDataFile = ../../etc/passwd\n";
    testing::internal::CaptureStdout();
    std::unique_ptr<Image> image(KVEL::readMetaImage(header.data(), header.size(), "xyz", 3));
    std::unique_ptr<Image> none(KVEL::readMetaImage(header.data(), header.size(), nullptr, 0));
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->get(2), 'z');
    EXPECT_EQ(none, nullptr);
    EXPECT_NE(printed.find("Error: no data buffer for the data files of MetaImage header in memory"),
              std::string::npos);
}

TEST_F(MetaImage, MissingHeaderSaysSo) {
    std::string printed;
    EXPECT_EQ(read("missing.mhd", printed), nullptr);
    EXPECT_EQ(printed, "Error: cannot read MetaImage header " + path("missing.mhd") + "\n");
}

TEST_F(MetaImage, BmpNamesAreReadAsBitmapsWithTheirRange) {
    KVEL::Bitmap b;
    b.createFromBuffer(2, 1, 1, nullptr);
    b.data()[0] = 3;
    b.data()[1] = 200;
    ASSERT_EQ(b.save(path("p.bmp").c_str()), 1);
    std::unique_ptr<Image> image(KVEL::readMetaImage(path("p.bmp").c_str()));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->m_channel_windows[0].high, 200);
    EXPECT_EQ(KVEL::readMetaImage(path("nothing.bmp").c_str()), nullptr);
}

TEST_F(MetaImage, WritesTheDocumentedHeaderForATwoDimensionalFloatImage) {
    ImageBase<float> image;
    image.init(3, 2, 1, 1, 1);
    image.setSpacing(0.5f, 2, 1, 1);
    ASSERT_EQ(KVEL::writeMetaImage(path("out").c_str(), &image), 0);
    EXPECT_EQ(readText("out.mhd"),
              "NDims = 2\nDimSize = 3 2\nElementSpacing = 0.500000 2.000000\nPosition = 0 0\n"
              "ImagePositionPatient = 0.000000 0.000000 0.000000\nElementByteOrderMSB = False\n"
              "ElementType = MET_FLOAT\nElementDataFile = out.raw\n");
    EXPECT_EQ(std::filesystem::file_size(path("out.raw")), 3u * 2 * 4);
}

TEST_F(MetaImage, FourDimensionalImagesWithChannelsHaveNoPatientPosition) {
    ImageBase<short> image;
    image.init(1, 1, 2, 2, 3);
    ASSERT_EQ(KVEL::writeMetaImage(path("v").c_str(), &image), 0);
    const std::string header = readText("v.mhd");
    EXPECT_NE(header.find("NDims = 4\nDimSize = 1 1 2 2\n"), std::string::npos);
    EXPECT_EQ(header.find("ImagePositionPatient"), std::string::npos);
    EXPECT_NE(header.find("ElementNumberOfChannels = 3\n"), std::string::npos);
}

TEST_F(MetaImage, WritingFailsWhenTheHeaderOrTheDataCannotBeWritten) {
    ImageBase<short> image;
    image.init(2, 2, 1, 1, 1);
    EXPECT_EQ(KVEL::writeMetaImage(path("no/dir/x").c_str(), &image), 1);
    std::filesystem::create_directory(path("x.raw"));  // the data file cannot be created
    testing::internal::CaptureStdout();
    EXPECT_EQ(KVEL::writeMetaImage(path("x").c_str(), &image), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: could not save image data!\n");
}

template <class T>
class MetaImageRoundTrip : public TempDirTest {};
TYPED_TEST_SUITE(MetaImageRoundTrip, imagetest::ElementTypes);

TYPED_TEST(MetaImageRoundTrip, EveryElementTypeReadsBackIdentically) {
    ImageBase<TypeParam> image;
    image.init(17, 3, 2, 1, 2);
    imagetest::fillPattern(image);
    image.setSpacing(0.25f, 0.5f, 4, 1);
    image.m_position[1] = 7;
    ASSERT_EQ(KVEL::writeMetaImage(this->path("img").c_str(), &image), 0);
    testing::internal::CaptureStdout();
    std::unique_ptr<Image> back(KVEL::readMetaImage(this->path("img.mhd").c_str()));
    testing::internal::GetCapturedStdout();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(imagetest::sameElements(*back, image));
    EXPECT_FLOAT_EQ(back->m_spacing[0], 0.25f);
    EXPECT_FLOAT_EQ(back->m_spacing[2], 4);
    EXPECT_FLOAT_EQ(back->m_position[1], 7);
}

TYPED_TEST(MetaImageRoundTrip, BigEndianFilesReadAsTheSameValues) {
    ImageBase<TypeParam> image;
    image.init(5, 1, 1, 1, 1);
    imagetest::fillPattern(image);
    image.saveRaw(this->path("le.raw").c_str());
    ImageBase<TypeParam> swapped;
    swapped.init(5, 1, 1, 1, 1);
    std::copy(image.data(), image.data() + 5, swapped.data());
    swapped.swapByteOrder();
    swapped.saveRaw(this->path("be.raw").c_str());
    std::ofstream(this->path("be.mhd")) << "NDims = 1\nDimSize = 5\nElementByteOrderMSB = True\nElementType = "
                                        << metTypeName(image.m_gl_type) << "\nElementDataFile = be.raw\n";
    testing::internal::CaptureStdout();
    std::unique_ptr<Image> back(KVEL::readMetaImage(this->path("be.mhd").c_str()));
    testing::internal::GetCapturedStdout();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(imagetest::sameElements(*back, image));
}

// Files as the common imaging toolkits write them: every key they emit, 17
// significant digits, single-file and split, compressed and not, scalar and
// colour, 2-D and 3-D. Each is read from its files and from memory.
TYPED_TEST(MetaImageRoundTrip, ReadsEveryLayoutTheToolkitsWrite) {
    for (int layout = 0; layout < 16; ++layout) {
        const bool local = layout & 1, compressed = layout & 2, dims3 = layout & 8;
        const int channels = layout & 4 ? 3 : 1;
        ImageBase<TypeParam> expected;
        expected.init(5, 3, dims3 ? 4 : 1, 1, channels);
        imagetest::fillPattern(expected, static_cast<unsigned>(layout));
        const std::string data = compressed ? zlibStream(elementBytes(expected)) : elementBytes(expected);
        std::ostringstream h;
        h << "ObjectType = Image\nNDims = " << (dims3 ? 3 : 2) << "\nBinaryData = True\n"
          << "BinaryDataByteOrderMSB = False\nCompressedData = " << (compressed ? "True" : "False") << "\n";
        if (compressed) h << "CompressedDataSize = " << data.size() << "\n";
        h << (dims3 ? "TransformMatrix = 1 0 0 0 1 0 0 0 1\nOffset = -1.5 2 0.25\nCenterOfRotation = 0 0 0\n"
                    : "TransformMatrix = 1 0 0 1\nOffset = -1.5 2\nCenterOfRotation = 0 0\n")
          << "AnatomicalOrientation = RAI\nElementSpacing = 0.30000000000000004 2"
          << (dims3 ? " 1.2500000000000000\n" : "\n") << "DimSize = 5 3" << (dims3 ? " 4\n" : "\n");
        if (channels > 1) h << "ElementNumberOfChannels = 3\n";
        h << "ElementType = " << metTypeName(expected.m_gl_type) << "\nElementDataFile = "
          << (local ? "LOCAL" : compressed ? "t.zraw" : "t.raw") << "\n";
        std::ofstream(this->path(local ? "t.mha" : "t.mhd"), std::ios::binary) << h.str() << (local ? data : "");
        if (!local) std::ofstream(this->path(compressed ? "t.zraw" : "t.raw"), std::ios::binary) << data;
        const std::string memoryHeader = h.str() + (local ? data : "");

        testing::internal::CaptureStdout();
        std::unique_ptr<Image> fromFile(KVEL::readMetaImage(this->path(local ? "t.mha" : "t.mhd").c_str()));
        std::unique_ptr<Image> fromMemory(
            KVEL::readMetaImage(memoryHeader.data(), memoryHeader.size(), data.data(), data.size()));
        const std::string printed = testing::internal::GetCapturedStdout();
        for (const auto* back : {fromFile.get(), fromMemory.get()}) {
            ASSERT_NE(back, nullptr) << "layout " << layout << ": " << printed;
            EXPECT_TRUE(imagetest::sameElements(*back, expected)) << "layout " << layout;
            EXPECT_FLOAT_EQ(back->m_spacing[0], 0.3f);
            EXPECT_FLOAT_EQ(back->m_spacing[2], dims3 ? 1.25f : 1);
            EXPECT_FLOAT_EQ(back->m_position[0], -1.5f);
            EXPECT_FLOAT_EQ(back->m_position[2], dims3 ? 0.25f : 0);
        }
        EXPECT_EQ(printed.find("Unknown keyword"), std::string::npos) << printed;
    }
}

TYPED_TEST(MetaImageRoundTrip, SingleFileFormReadsBackCompressedOrNot) {
    ImageBase<TypeParam> image;
    image.init(6, 5, 3, 1, 2);
    imagetest::fillPattern(image);
    image.setSpacing(0.1f, 0.7f, 3, 1);
    image.m_position[2] = -9.75f;
    for (bool compress : {false, true}) {
        ASSERT_EQ(KVEL::writeMetaImageFile(this->path("one.mha").c_str(), &image, compress), 0);
        testing::internal::CaptureStdout();
        std::unique_ptr<Image> back(KVEL::readMetaImage(this->path("one.mha").c_str()));
        testing::internal::GetCapturedStdout();
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(imagetest::sameElements(*back, image));
        EXPECT_EQ(back->m_spacing[0], 0.1f);
        EXPECT_EQ(back->m_spacing[1], 0.7f);
        EXPECT_EQ(back->m_position[2], -9.75f);
    }
}

// listFiles

class ListFiles : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        std::filesystem::create_directories(dir_ / "img" / "sub");
        std::ofstream(path("img/a.bmp")) << "";
        std::ofstream(path("img/.hidden")) << "";
        std::ofstream(path("img/sub/b.mhd")) << "";
    }
    std::vector<std::string> list(const std::string& p, bool recursive) {
        std::vector<std::string> files;
        KVEL::listFiles(p, files, recursive);
        std::sort(files.begin(), files.end());
        return files;
    }
};

TEST_F(ListFiles, SkipsHiddenEntriesAndSubdirectoriesUnlessRecursive) {
    EXPECT_EQ(list(path("img"), false), std::vector<std::string>{path("img/a.bmp")});
    EXPECT_EQ(list(path("img"), true), (std::vector<std::string>{path("img/a.bmp"), path("img/sub/b.mhd")}));
}

TEST_F(ListFiles, ShortNamesAndTrailingSlashesGetExactlyOneSeparator) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    EXPECT_EQ(list("img", false), std::vector<std::string>{"img/a.bmp"});
    EXPECT_EQ(list("img/", false), std::vector<std::string>{"img/a.bmp"});
    std::filesystem::current_path(dir_ / "img");
    EXPECT_EQ(list("./", false), std::vector<std::string>{"./a.bmp"});
    std::filesystem::current_path(cwd);
    EXPECT_EQ(list(path("img/a.bmp"), false), std::vector<std::string>{path("img/a.bmp")});
}
