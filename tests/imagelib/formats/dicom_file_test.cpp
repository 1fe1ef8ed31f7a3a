// DICOM files and folders through the one entry point, judged by pydicom:
// every pixel pydicom reads must lie, with its value, at a voxel of ours.
#include "imagelib/errors.h"
#include "imagelib/image_file.h"
#include "imagelib/space.h"
#include "slab_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kPython = "/usr/bin/python3";
const std::string kFixtures = std::string(TEST_DATA_DIR) + "/../imagelib/dicom_fixtures.py";
const std::string kSamples = "/usr/lib/python3/dist-packages/pydicom/data/test_files/";

// Written once for the whole suite: pydicom takes seconds for all cases.
class DicomFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system((kPython + " -c 'import pydicom' >/dev/null 2>&1").c_str()) != 0) return;
        std::string pattern = (std::filesystem::temp_directory_path() / "valley_dicom_XXXXXX").string();
        if (!mkdtemp(&pattern[0])) return;
        if (std::system((kPython + " " + kFixtures + " write " + pattern).c_str()) == 0) s_dir = pattern;
    }
    static void TearDownTestSuite() {
        if (!s_dir.empty()) std::filesystem::remove_all(s_dir);
    }
    void SetUp() override {
        if (s_dir.empty()) GTEST_SKIP() << "needs Debian's python3-pydicom";
        KVEL::setMessagesPrinted(false);
    }
    void TearDown() override { KVEL::setMessagesPrinted(true); }
    static std::string path(const std::string& name) { return s_dir + "/" + name; }
    static std::string s_dir;
};
std::string DicomFiles::s_dir;

std::unique_ptr<KVEL::Image> read(const std::string& path, const std::string& series = "") {
    return std::unique_ptr<KVEL::Image>(KVEL::readImage(path.c_str(), KVEL::ReadOptions{series}));
}

TEST_F(DicomFiles, EveryCaseLiesWherePydicomPlacesItOrIsRefusedForItsReason) {
    const std::map<std::string, int> types = {{"u1", KVEL::kGlUnsignedByte}, {"u2", KVEL::kGlUnsignedShort},
                                              {"i2", KVEL::kGlShort},        {"f4", KVEL::kGlFloat}};
    const std::map<std::string, std::string> reasons = {
        {"tilt", "gantry tilt"},           {"uneven", "unevenly spaced"},    {"stacked", "lie at one position"},
        {"mixed", "mixed orientations"},   {"sizes", "different sizes"},     {"report.dcm", "Basic Text SR"},
        {"truncated.dcm", "pixel data"}};
    std::ifstream manifest(path("manifest.txt"));
    std::string name, kind;
    int cases = 0;
    while (manifest >> name >> kind) {
        SCOPED_TRACE(name);
        ++cases;
        std::unique_ptr<KVEL::Image> image = read(path(name));
        if (kind == "refused") {
            EXPECT_EQ(image, nullptr);
            EXPECT_NE(std::string(KVEL::lastError()).find(reasons.at(name)), std::string::npos) << KVEL::lastError();
            continue;
        }
        ASSERT_NE(image, nullptr) << KVEL::lastError();
        EXPECT_EQ(KVEL::glTypeOf(image.get()), types.at(kind));
        std::ifstream probes(path(name + ".probes"));
        KVEL::Vec3 point;
        double value;
        int seen = 0, misplaced = 0, wrong = 0;
        while (probes >> point[0] >> point[1] >> point[2] >> value) {
            ++seen;
            const KVEL::Vec3 index = KVEL::continuousIndex(*image, point);
            int at[3];
            bool inside = true;
            for (int i = 0; i < 3; ++i) {
                at[i] = static_cast<int>(std::lround(index[i]));
                inside = inside && std::fabs(index[i] - at[i]) < 1e-3 && at[i] >= 0 && at[i] < image->m_dim[i];
            }
            if (!inside) {
                if (++misplaced < 4) ADD_FAILURE() << "(" << point[0] << ", " << point[1] << ", " << point[2] << ") at index " << index[0] << " " << index[1] << " " << index[2];
                continue;
            }
            const double ours = image->get(at[0], at[1], at[2], 0, 0);
            if (std::fabs(ours - value) > 1e-6 * std::fabs(value) && ++wrong < 4) {
                ADD_FAILURE() << "value " << ours << ", pydicom " << value;
            }
        }
        EXPECT_EQ(seen, image->m_image_size) << "every voxel is some pixel pydicom read";
        EXPECT_EQ(misplaced + wrong, 0);
    }
    EXPECT_EQ(cases, 17);
}

TEST_F(DicomFiles, EverySlabOfEverySeriesIsItsPartOfTheWholeRead) {
    std::ifstream manifest(path("manifest.txt"));
    std::string name, kind;
    while (manifest >> name >> kind) {
        if (kind != "refused") slabtest::expectSlabsAreTheirPartOfTheWhole(path(name));
    }
    const std::vector<KVEL::DicomSeries> series = KVEL::listDicomSeries(path("axial").c_str());
    ASSERT_EQ(series.size(), 2u);
    slabtest::expectSlabsAreTheirPartOfTheWhole(path("axial"), series[1].uid);
}

TEST_F(DicomFiles, AFolderListsEverySeriesAndReadsTheOnePicked) {
    const std::vector<KVEL::DicomSeries> series = KVEL::listDicomSeries(path("axial").c_str());
    ASSERT_EQ(series.size(), 2u);
    EXPECT_EQ(series[0].slices, 8);
    EXPECT_EQ(series[1].slices, 3);
    EXPECT_EQ(series[1].width, 8);
    EXPECT_EQ(read(path("axial"))->m_dim[2], 8);
    std::unique_ptr<KVEL::Image> picked = read(path("axial"), series[1].uid);
    ASSERT_NE(picked, nullptr) << KVEL::lastError();
    EXPECT_EQ(picked->m_dim[0], 8);
    EXPECT_EQ(picked->m_dim[2], 3);
    EXPECT_EQ(read(path("axial"), "1.2.3"), nullptr);
    EXPECT_NE(std::string(KVEL::lastError()).find("no series 1.2.3"), std::string::npos);
    EXPECT_TRUE(KVEL::listDicomSeries(path("report.dcm").c_str()).empty());
}

TEST_F(DicomFiles, BytesInMemoryReadAsTheFileEvenWithATiffHeaderInThePreamble) {
    std::ifstream in(path("multiframe.dcm"), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::memcpy(bytes.data(), "II*\0\x08\0\0\0", 8);
    EXPECT_EQ(KVEL::formatOf(bytes.data(), bytes.size()), KVEL::FileFormat::kDicom);
    std::unique_ptr<KVEL::Image> fromMemory(KVEL::readImage(bytes.data(), bytes.size()));
    std::unique_ptr<KVEL::Image> fromFile = read(path("multiframe.dcm"));
    ASSERT_NE(fromMemory, nullptr) << KVEL::lastError();
    ASSERT_EQ(fromMemory->m_image_size, fromFile->m_image_size);
    for (int i = 0; i < fromFile->m_image_size; i += 7) ASSERT_EQ(fromMemory->get(i), fromFile->get(i)) << i;
    EXPECT_EQ(KVEL::physicalPoint(*fromMemory, {3, 4, 2}), KVEL::physicalPoint(*fromFile, {3, 4, 2}));
}

// pydicom's own sample, stored in every lossless transfer syntax GDCM decodes.
TEST_F(DicomFiles, DebianSampleReadsAlikeInEveryLosslessTransferSyntax) {
    if (!std::filesystem::exists(kSamples + "MR_small.dcm")) GTEST_SKIP() << "pydicom's sample files";
    std::unique_ptr<KVEL::Image> plain = read(kSamples + "MR_small.dcm");
    ASSERT_NE(plain, nullptr) << KVEL::lastError();
    for (const char* variant : {"MR_small_implicit.dcm", "MR_small_bigendian.dcm", "MR_small_expb.dcm", "MR_small_RLE.dcm",
                                "MR_small_jpeg_ls_lossless.dcm", "MR_small_jp2klossless.dcm", "MR_small_padded.dcm"}) {
        SCOPED_TRACE(variant);
        std::unique_ptr<KVEL::Image> other = read(kSamples + variant);
        ASSERT_NE(other, nullptr) << KVEL::lastError();
        ASSERT_EQ(other->m_image_size, plain->m_image_size);
        int differ = 0;
        for (int i = 0; i < plain->m_image_size; ++i) differ += other->get(i) != plain->get(i);
        EXPECT_EQ(differ, 0);
        EXPECT_EQ(KVEL::physicalPoint(*other, {63, 63, 0}), KVEL::physicalPoint(*plain, {63, 63, 0}));
    }
}

// Every sample pydicom ships: where both read it, the same values (rescaled)
// in the same order; where this library does not, a reason and no crash.
TEST(DicomSamples, ValuesArePydicomsWhereBothReadAndTheRestIsRefusedWithAReason) {
    if (!std::filesystem::exists(kSamples + "MR_small.dcm")) GTEST_SKIP() << "pydicom's sample files";
    std::string folder = (std::filesystem::temp_directory_path() / "valley_samples_XXXXXX").string();
    ASSERT_NE(mkdtemp(&folder[0]), nullptr);
    ASSERT_EQ(std::system((kPython + " " + kFixtures + " samples " + folder + " 2>/dev/null").c_str()), 0);
    KVEL::setMessagesPrinted(false);
    std::ifstream manifest(folder + "/manifest.txt");
    std::string name, verdict;
    int compared = 0;
    while (manifest >> name >> verdict) {
        SCOPED_TRACE(name);
        std::unique_ptr<KVEL::Image> image = read(kSamples + name);
        if (!image) {
            EXPECT_STRNE(KVEL::lastError(), "");
            continue;
        }
        if (verdict != "read") continue;
        std::ifstream in(folder + "/" + name + ".values", std::ios::binary);
        std::vector<double> theirs(static_cast<std::size_t>(image->m_image_size) + 1);
        in.read(reinterpret_cast<char*>(theirs.data()), static_cast<std::streamsize>(theirs.size() * sizeof(double)));
        ASSERT_EQ(in.gcount(), static_cast<std::streamsize>(image->m_image_size * sizeof(double)));
        int differ = 0;
        for (int i = 0; i < image->m_image_size; ++i) differ += std::fabs(image->get(i) - theirs[i]) > 1e-3;
        EXPECT_EQ(differ, 0) << "of " << image->m_image_size;
        ++compared;
    }
    KVEL::setMessagesPrinted(true);
    std::filesystem::remove_all(folder);
    EXPECT_GT(compared, 0);
}

}  // namespace
