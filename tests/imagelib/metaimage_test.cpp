#include "imagelib/metaimage.h"

#include "imagelib/bitmap.h"
#include "image_fill.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

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

TEST_F(MetaImage, UnknownKeywordsWarnAndReadingGoesOn) {
    writeText("u.mhd", "NDims = 1\nFoo = 3 4\nDimSize = 1\nElementType = MET_FLOAT\nElementDataFile = none.raw\n");
    std::string printed;
    auto image = read("u.mhd", printed);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(printed.find("Warning: Unknown keyword \"Foo\"\n"), std::string::npos);
    EXPECT_NE(printed.find("Warning: could not load image data!\n"), std::string::npos);  // missing raw file
    EXPECT_EQ(image->get(0), 0);
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

TEST_F(MetaImage, RawFileShorterThanTheImageWarnsAndStillGivesTheImage) {
    writeText("r.mhd", "NDims = 2\nDimSize = 4 4\nElementType = MET_USHORT\nElementDataFile = r.raw\n");
    writeBytes("r.raw", "abc");
    std::string printed;
    auto image = read("r.mhd", printed);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(printed.find("Warning: could not load image data!\n"), std::string::npos);
    EXPECT_EQ(image->m_image_size, 16);
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
        BadHeader{"UnreadableNumber", "NDims = two\n", "unreadable NDims value"},
        BadHeader{"NoChannels", "ElementNumberOfChannels = 0\n", "ElementNumberOfChannels 0 is not positive"},
        BadHeader{"NoElementType", "NDims = 1\n", "no ElementType"}),
    [](const ::testing::TestParamInfo<BadHeader>& info) { return info.param.name; });

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
    const char* names[] = {"MET_UCHAR", "MET_CHAR", "MET_SHORT", "MET_USHORT", "MET_INT", "MET_UINT", "MET_FLOAT",
                           "MET_DOUBLE"};
    const int code = image.m_gl_type;
    const char* name = names[code == KVEL::kGlDouble ? 7 : (code == 5121 ? 0 : code == 5120 ? 1 : code - 5120)];
    std::ofstream(this->path("be.mhd")) << "NDims = 1\nDimSize = 5\nElementByteOrderMSB = True\nElementType = "
                                        << name << "\nElementDataFile = be.raw\n";
    testing::internal::CaptureStdout();
    std::unique_ptr<Image> back(KVEL::readMetaImage(this->path("be.mhd").c_str()));
    testing::internal::GetCapturedStdout();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(imagetest::sameElements(*back, image));
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
