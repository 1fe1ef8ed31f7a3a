// TIFF and NIfTI files through the one entry point: files other programs
// wrote (tifffile, nibabel, PIL), ours as they read them, and hostile bytes.
#include "imagelib/errors.h"
#include "imagelib/image_file.h"

#include "slab_check.h"
#include "random_image.h"
#include "../support/temp_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using KVEL::Image;

namespace {

const std::string kPython = "/usr/bin/python3";
const std::string kFixtures = std::string(TEST_DATA_DIR) + "/../imagelib/volume_fixtures.py";

bool haveFixtureTools() {
    return std::system((kPython + " -c 'import tifffile, nibabel, PIL' >/dev/null 2>&1").c_str()) == 0;
}

std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::vector<unsigned char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

const std::map<std::string, int> kTypes = {{"u1", KVEL::kGlUnsignedByte}, {"i1", KVEL::kGlByte},
                                           {"u2", KVEL::kGlUnsignedShort}, {"i2", KVEL::kGlShort},
                                           {"u4", KVEL::kGlUnsignedInt},  {"i4", KVEL::kGlInt},
                                           {"f4", KVEL::kGlFloat},        {"f8", KVEL::kGlDouble}};

std::string typeCode(int glType) {
    for (const auto& t : kTypes) {
        if (t.second == glType) return t.first;
    }
    return "?";
}

std::size_t elementBytes(int glType) {
    switch (glType) {
        case KVEL::kGlUnsignedByte:
        case KVEL::kGlByte: return 1;
        case KVEL::kGlUnsignedShort:
        case KVEL::kGlShort: return 2;
        case KVEL::kGlDouble: return 8;
        default: return 4;
    }
}

const unsigned char* elements(Image& image) {
    // Every ImageBase<T> keeps its buffer in m_data; the type decides its width.
    const unsigned char* data = nullptr;
    switch (KVEL::glTypeOf(&image)) {
#define KVEL_ELEMENTS(T, code) \
    case code: data = reinterpret_cast<const unsigned char*>(static_cast<KVEL::ImageBase<T>&>(image).m_data); break;
        KVEL_ELEMENTS(unsigned char, KVEL::kGlUnsignedByte)
        KVEL_ELEMENTS(signed char, KVEL::kGlByte)
        KVEL_ELEMENTS(unsigned short, KVEL::kGlUnsignedShort)
        KVEL_ELEMENTS(short, KVEL::kGlShort)
        KVEL_ELEMENTS(unsigned int, KVEL::kGlUnsignedInt)
        KVEL_ELEMENTS(int, KVEL::kGlInt)
        KVEL_ELEMENTS(float, KVEL::kGlFloat)
        KVEL_ELEMENTS(double, KVEL::kGlDouble)
#undef KVEL_ELEMENTS
    }
    return data;
}

std::vector<unsigned char> elementBytesOf(Image& image) {
    const unsigned char* data = elements(image);
    return std::vector<unsigned char>(data, data + image.m_image_size * elementBytes(KVEL::glTypeOf(&image)));
}

// One line of a fixture manifest: NAME DTYPE X Y Z T C SX SY SZ ST PX PY PZ.
struct Expected {
    std::string name, type;
    int dims[5];
    float spacing[4], position[3];
};

std::vector<Expected> readManifest(const std::string& path) {
    std::vector<Expected> lines;
    std::ifstream in(path);
    Expected e;
    while (in >> e.name >> e.type >> e.dims[0] >> e.dims[1] >> e.dims[2] >> e.dims[3] >> e.dims[4] >> e.spacing[0] >>
           e.spacing[1] >> e.spacing[2] >> e.spacing[3] >> e.position[0] >> e.position[1] >> e.position[2]) {
        lines.push_back(e);
    }
    return lines;
}

void expectMatches(Image& image, const Expected& e, const std::vector<unsigned char>& expected) {
    EXPECT_EQ(typeCode(KVEL::glTypeOf(&image)), e.type);
    EXPECT_EQ((std::vector<int>(image.m_dim, image.m_dim + 4)), (std::vector<int>(e.dims, e.dims + 4)));
    EXPECT_EQ(image.m_channels, e.dims[4]);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(image.m_spacing[i], e.spacing[i], 1e-5 * e.spacing[i]) << "axis " << i;
    for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(image.m_position[i], e.position[i]) << "axis " << i;
    EXPECT_TRUE(elementBytesOf(image) == expected) << "the elements differ";
}

class VolumeFiles : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        KVEL::setMessagesPrinted(false);
    }
    void TearDown() override {
        KVEL::setMessagesPrinted(true);
        TempDirTest::TearDown();
    }
};

TEST_F(VolumeFiles, OtherProgramsFilesReadElementForElementFromTheFileAndFromMemory) {
    if (!haveFixtureTools()) GTEST_SKIP() << "needs Debian's python3-tifffile, python3-nibabel and python3-pil";
    ASSERT_EQ(std::system((kPython + " " + kFixtures + " write " + dir_.string()).c_str()), 0);
    const std::vector<Expected> fixtures = readManifest(path("manifest.txt"));
    ASSERT_GE(fixtures.size(), 30u);
    for (const Expected& e : fixtures) {
        SCOPED_TRACE(e.name);
        const std::vector<unsigned char> expected = fileBytes(path(e.name + ".expected"));
        std::unique_ptr<Image> image(KVEL::readImage(path(e.name).c_str()));
        ASSERT_TRUE(image) << KVEL::lastError();
        expectMatches(*image, e, expected);
        EXPECT_EQ(KVEL::formatOfFile(path(e.name).c_str()),
                  e.name.find(".tif") != std::string::npos ? KVEL::FileFormat::kTiff : KVEL::FileFormat::kNifti);
        if (e.name.find(".hdr") != std::string::npos) continue;  // its data are in the .img
        const std::vector<unsigned char> bytes = fileBytes(path(e.name));
        std::unique_ptr<Image> fromMemory(KVEL::readImage(bytes.data(), bytes.size()));
        ASSERT_TRUE(fromMemory) << KVEL::lastError();
        expectMatches(*fromMemory, e, expected);
    }
}

TEST_F(VolumeFiles, EverySlabOfOtherProgramsFilesIsItsPartOfTheWholeRead) {
    if (!haveFixtureTools()) GTEST_SKIP() << "needs Debian's python3-tifffile, python3-nibabel and python3-pil";
    ASSERT_EQ(std::system((kPython + " " + kFixtures + " write " + dir_.string()).c_str()), 0);
    for (const Expected& e : readManifest(path("manifest.txt"))) slabtest::expectSlabsAreTheirPartOfTheWhole(path(e.name));
}

// Images of every element type with spacing and position, as the library writes them.
std::unique_ptr<Image> sample(int glType, int w, int h, int d, int t, int channels, unsigned seed) {
    std::unique_ptr<Image> image(KVEL::createImage(glType));
    image->init(w, h, d, t, channels);
    image->m_verbose = 0;
    std::unique_ptr<Image> values = imagetest::randomImage(glType, w * h * d * t, 1, 1, channels, seed, -3e4f, 6e4f);
    std::memcpy(const_cast<unsigned char*>(elements(*image)), elements(*values),
                image->m_image_size * elementBytes(glType));
    image->setSpacing(0.5f + seed % 3, 1.25f, 2.0f + seed % 2, t > 1 ? 1.5f : 1.0f);
    for (int i = 0; i < 3; ++i) image->m_position[i] = static_cast<float>(seed) * (i - 1.5f);
    return image;
}

TEST_F(VolumeFiles, TifffileAndNibabelReadWhatWeWrote) {
    if (!haveFixtureTools()) GTEST_SKIP() << "needs Debian's python3-tifffile, python3-nibabel and python3-pil";
    std::ofstream manifest(path("manifest.txt"));
    unsigned seed = 1;
    const auto add = [&](const std::string& name, Image& image, bool compress, bool hasPosition) {
        KVEL::WriteOptions options;
        options.compress = compress;
        ASSERT_EQ(KVEL::writeImage(path(name).c_str(), &image, options), 0) << KVEL::lastError();
        writeBytes(path(name + ".expected"), elementBytesOf(image));
        manifest << name << " " << typeCode(KVEL::glTypeOf(&image));
        for (int i = 0; i < 4; ++i) manifest << " " << image.m_dim[i];
        manifest << " " << image.m_channels;
        for (int i = 0; i < 4; ++i) manifest << " " << image.m_spacing[i];
        for (int i = 0; i < 3; ++i) manifest << " " << (hasPosition ? image.m_position[i] : 0.0f);
        manifest << "\n";
    };
    for (int glType : imagetest::kAllElementTypes) {
        const std::string type = typeCode(glType);
        for (int channels = 1; channels <= 4; ++channels) {
            auto picture = sample(glType, 13, 7, 1, 1, channels, ++seed);
            add("picture_" + type + "_" + std::to_string(channels) + ".tif", *picture, channels % 2 == 0, false);
        }
        auto stack = sample(glType, 9, 300, 4, 1, 1, ++seed);  // several strips per page
        add("stack_" + type + ".tiff", *stack, true, false);
        auto volume = sample(glType, 5, 4, 3, 1, 1, ++seed);
        add("volume_" + type + ".nii", *volume, true, true);
        auto series = sample(glType, 4, 3, 2, 3, 1, ++seed);
        add("series_" + type + ".nii.gz", *series, true, true);
    }
    auto rgb = sample(KVEL::kGlUnsignedByte, 6, 5, 2, 1, 3, ++seed);
    add("rgb.nii", *rgb, true, true);
    auto rgba = sample(KVEL::kGlUnsignedByte, 6, 5, 1, 1, 4, ++seed);
    add("rgba.nii.gz", *rgba, true, true);
    // NIfTI-1 keeps each extent in 16 bits.
    auto wide = sample(KVEL::kGlShort, 40000, 2, 1, 1, 1, ++seed);
    add("wide.nii.gz", *wide, true, true);
    manifest.close();
    EXPECT_EQ(commandOutput(kPython + " " + kFixtures + " check " + dir_.string()), "checked 59\n");
}

TEST_F(VolumeFiles, EveryElementTypeAndShapeComesBackAsWritten) {
    unsigned seed = 100;
    for (int glType : imagetest::kAllElementTypes) {
        for (const char* ending : {".tif", ".nii", ".nii.gz"}) {
            const bool tiff = ending[1] == 't';
            for (int channels : {1, 2, 3, 4}) {
                if (!tiff && !(channels == 1 || (glType == KVEL::kGlUnsignedByte && channels > 2))) continue;
                for (int t : {1, 2}) {
                    if (tiff && t > 1) continue;
                    SCOPED_TRACE(typeCode(glType) + ending + " channels " + std::to_string(channels));
                    auto image = sample(glType, 17, 11, 3, t, channels, ++seed);
                    const std::string file = path(std::string("round") + ending);
                    ASSERT_EQ(KVEL::writeImage(file.c_str(), image.get()), 0) << KVEL::lastError();
                    std::unique_ptr<Image> back(KVEL::readImage(file.c_str()));
                    ASSERT_TRUE(back) << KVEL::lastError();
                    Expected e{file, typeCode(glType), {17, 11, 3, t, channels}, {}, {}};
                    std::copy(image->m_spacing, image->m_spacing + 4, e.spacing);
                    if (tiff) e.spacing[2] = e.spacing[3] = 1;  // only the pages' own resolution is kept
                    for (int i = 0; i < 3; ++i) e.position[i] = tiff ? 0 : image->m_position[i];
                    expectMatches(*back, e, elementBytesOf(*image));
                }
            }
        }
    }
}

TEST_F(VolumeFiles, ImagesTheFormatCannotHoldAreRefusedAndNoFileIsLeft) {
    struct Case {
        const char* name;
        int glType, dims[4], channels;
    };
    const Case cases[] = {
        {"series.tif", KVEL::kGlFloat, {4, 4, 2, 3}, 1},        // TIFF: no fourth dimension
        {"five.tif", KVEL::kGlUnsignedByte, {4, 4, 1, 1}, 5},   // nor five samples
        {"vector.nii", KVEL::kGlFloat, {4, 4, 2, 1}, 257},      // NIfTI: vectors of up to 256 components
    };
    for (const Case& c : cases) {
        std::unique_ptr<Image> image(KVEL::createImage(c.glType));
        image->init(c.dims[0], c.dims[1], c.dims[2], c.dims[3], c.channels);
        EXPECT_EQ(KVEL::writeImage(path(c.name).c_str(), image.get()), 1) << c.name;
        EXPECT_EQ(std::string(KVEL::lastError()).rfind("Error: a ", 0), 0u) << KVEL::lastError();
        EXPECT_NE(std::string(KVEL::lastError()).find(c.name), std::string::npos) << KVEL::lastError();
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

// A little-endian TIFF of one 8-bit grey strip, laid out by hand.
std::vector<unsigned char> handMadeTiff(std::uint32_t width, std::uint32_t height, std::uint16_t compression,
                                        const std::vector<unsigned char>& strip) {
    std::vector<unsigned char> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto u16 = [&](std::uint32_t v) { f.push_back(v & 255), f.push_back(v >> 8 & 255); };
    const auto u32 = [&](std::uint32_t v) { u16(v & 0xffff), u16(v >> 16); };
    const std::uint16_t entries = 9;
    const std::uint32_t data = 8 + 2 + entries * 12 + 4;
    u16(entries);
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        u16(tag), u16(type), u32(1), type == 3 ? (u16(value), u16(0)) : u32(value);
    };
    entry(256, 4, width);
    entry(257, 4, height);
    entry(258, 3, 8);
    entry(259, 3, compression);
    entry(262, 3, 1);
    entry(273, 4, data);
    entry(277, 3, 1);
    entry(278, 4, height);
    entry(279, 4, static_cast<std::uint32_t>(strip.size()));
    u32(0);
    f.insert(f.end(), strip.begin(), strip.end());
    return f;
}

std::vector<unsigned char> deflated(std::size_t zeros) {
    std::vector<unsigned char> in(zeros), out(compressBound(zeros));
    uLongf size = out.size();
    compress2(out.data(), &size, in.data(), in.size(), 9);
    out.resize(size);
    return out;
}

// A fixed NIfTI-1 header (little-endian) before its data.
std::vector<unsigned char> handMadeNifti(std::vector<short> dims, short datatype, short bitpix, std::size_t dataBytes) {
    std::vector<unsigned char> f(352 + dataBytes);
    const auto put = [&](std::size_t at, const void* v, std::size_t n) { std::memcpy(&f[at], v, n); };
    const int size = 348;
    put(0, &size, 4);
    dims.resize(8, 1);
    put(40, dims.data(), 16);
    put(70, &datatype, 2);
    put(72, &bitpix, 2);
    const float offset = 352, one = 1;
    for (int i = 1; i < 8; ++i) put(76 + 4 * i, &one, 4);
    put(108, &offset, 4);
    put(344, "n+1", 4);
    return f;
}

std::vector<unsigned char> gzipped(const std::vector<unsigned char>& bytes) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> out(deflateBound(&z, bytes.size()));
    z.next_in = const_cast<unsigned char*>(bytes.data());
    z.avail_in = bytes.size();
    z.next_out = out.data();
    z.avail_out = out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TEST_F(VolumeFiles, HostileHeadersAreRefusedQuicklyWithTheReason) {
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        const char* reason;
    };
    std::vector<short> sixD = {6, 2, 2, 2, 1, 1, 3};
    std::vector<unsigned char> hugeNifti = handMadeNifti({3, 1200, 1200, 1200}, 16, 32, 0);
    // An sform whose y axis leans 10 degrees towards x: a shear, no rotation.
    std::vector<unsigned char> sheared = handMadeNifti({3, 2, 2, 2}, 2, 8, 8);
    const short sformCode = 1;
    const float srow[12] = {1, 0.17f, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    std::memcpy(&sheared[254], &sformCode, 2);
    std::memcpy(&sheared[280], srow, sizeof srow);
    const Case cases[] = {
        // libtiff would stop at the strip's 256 bytes and drop the rest of the stream.
        {"a strip deflating far past its size", handMadeTiff(16, 16, 8, deflated(4 << 20)), "deflated bytes"},
        {"60000 x 60000 pixels in 1 KiB", handMadeTiff(60000, 60000, 8, deflated(1 << 20)), "cannot hold"},
        {"60000 x 60000 raw pixels in 64 bytes", handMadeTiff(60000, 60000, 1, std::vector<unsigned char>(64)),
         "cannot hold"},
        {"a NIfTI volume of 7 GB in a small .nii.gz", gzipped(hugeNifti), "cannot hold"},
        {"a NIfTI volume of 7 GB in 352 bytes", hugeNifti, "cannot hold"},
        {"six dimensions", handMadeNifti(sixD, 2, 8, 24), "dimension 6 is 3"},
        {"a sheared grid", sheared, "not at right angles"},
        {"64-bit integers", handMadeNifti({3, 2, 2, 2}, 1024, 64, 64), "INT64"},
        {"complex numbers", handMadeNifti({3, 2, 2, 2}, 32, 64, 64), "COMPLEX64"},
        {"a negative extent", handMadeNifti({3, 2, -2, 2}, 2, 8, 8), "dimension 2 is -2"},
        {"data cut short", handMadeNifti({3, 4, 4, 4}, 4, 16, 100), "cannot hold"},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        std::unique_ptr<Image> image(KVEL::readImage(c.bytes.data(), c.bytes.size()));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(image) << c.what;
        EXPECT_NE(std::string(KVEL::lastError()).find(c.reason), std::string::npos) << c.what << ": " << KVEL::lastError();
        EXPECT_LT(seconds, 1.0) << c.what;
    }
}

// Every cut and many flipped bytes of real files: null with a reason or an
// image, and libtiff prints nothing on standard error (the sanitizer build
// checks the memory).
TEST_F(VolumeFiles, DamagedFilesGiveNullAndOneReasonAndNothingOnStandardError) {
    std::vector<std::vector<unsigned char>> files;
    for (const char* name : {"s.tif", "s.nii", "s.nii.gz"}) {
        auto image = sample(KVEL::kGlUnsignedShort, 9, 40, 3, 1, 1, 5);
        ASSERT_EQ(KVEL::writeImage(path(name).c_str(), image.get()), 0) << KVEL::lastError();
        files.push_back(fileBytes(path(name)));
    }
    std::fflush(stderr);
    const int savedStderr = dup(2);
    std::FILE* capture = std::fopen(path("stderr").c_str(), "w+");
    ASSERT_TRUE(capture);
    dup2(fileno(capture), 2);
    int refused = 0;
    const auto count = [&](Image* image) {
        std::unique_ptr<Image> owned(image);
        if (owned) return;
        ++refused;
        EXPECT_NE(*KVEL::lastError(), '\0');
    };
    for (const auto& file : files) {
        for (std::size_t cut = 0; cut < file.size(); cut += 1 + cut / 64) count(KVEL::readImage(file.data(), cut));
        for (std::size_t at = 0; at < std::min<std::size_t>(file.size(), 600); ++at) {
            for (unsigned char flip : {0x01, 0x80, 0xff}) {
                std::vector<unsigned char> damaged = file;
                damaged[at] ^= flip;
                count(KVEL::readImage(damaged.data(), damaged.size()));
            }
        }
    }
    std::fflush(stderr);
    dup2(savedStderr, 2);
    close(savedStderr);
    std::fclose(capture);
    EXPECT_GT(refused, 100);
    const std::vector<unsigned char> printed = fileBytes(path("stderr"));
    EXPECT_TRUE(printed.empty()) << std::string(printed.begin(), printed.end()).substr(0, 300);
}

TEST_F(VolumeFiles, TheReaderFollowsTheBytesNotTheName) {
    auto image = sample(KVEL::kGlFloat, 5, 4, 3, 1, 1, 9);
    ASSERT_EQ(KVEL::writeImage(path("volume.nii.gz").c_str(), image.get()), 0);
    ASSERT_EQ(KVEL::writeImage(path("stack.tif").c_str(), image.get()), 0);
    std::filesystem::rename(path("volume.nii.gz"), path("volume.tif"));
    std::filesystem::rename(path("stack.tif"), path("stack.nii"));
    EXPECT_EQ(KVEL::formatOfFile(path("volume.tif").c_str()), KVEL::FileFormat::kNifti);
    EXPECT_EQ(KVEL::formatOfFile(path("stack.nii").c_str()), KVEL::FileFormat::kTiff);
    for (const char* name : {"volume.tif", "stack.nii"}) {
        std::unique_ptr<Image> back(KVEL::readImage(path(name).c_str()));
        ASSERT_TRUE(back) << KVEL::lastError();
        EXPECT_TRUE(elementBytesOf(*back) == elementBytesOf(*image)) << name;
    }
    // gzip alone is not NIfTI.
    const std::vector<unsigned char> text = gzipped(std::vector<unsigned char>(400, 'a'));
    EXPECT_EQ(KVEL::formatOf(text.data(), text.size()), KVEL::FileFormat::kUnknown);
}

}  // namespace
