// The reason for a refusal, read from lastError() instead of standard output:
// the same line that is printed, per thread, cleared by the next call, and
// still there when printing is switched off.

#include "imagelib/bitmap.h"
#include "imagelib/edges.h"
#include "imagelib/errors.h"
#include "imagelib/image_file.h"
#include "imagelib/metaimage.h"
#include "imagelib/rigid.h"
#include "imagelib/visualise.h"
#include "random_image.h"
#include "../support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using KVEL::Image;
using KVEL::ImageBase;

namespace {

std::unique_ptr<Image> floats(int w, int h, int d, int channels = 1) {
    return imagetest::randomImage(KVEL::kGlFloat, w, h, d, channels, 3);
}

struct Refusal {
    const char* name;
    std::function<void(const std::string& folder)> call;
};

// Calls that refuse and say so on standard output.
const Refusal kPrintedRefusals[] = {
    {"filter without kernel", [](const std::string&) { delete floats(4, 4, 1)->filter(0, nullptr, 3, nullptr); }},
    {"filter of even size",
     [](const std::string&) {
         const float kernel[4] = {1, 1, 1, 1};
         delete floats(4, 4, 1)->filter(0, kernel, 2, nullptr);
     }},
    {"gradient to unsigned", [](const std::string&) { delete floats(4, 4, 1)->gradient(KVEL::kGlUnsignedByte, nullptr, true, nullptr); }},
    {"gradient into a wrong output",
     [](const std::string&) {
         auto out = floats(3, 3, 1);
         floats(4, 4, 1)->gradient(0, nullptr, true, out.get());
     }},
    {"hessian to unsigned", [](const std::string&) { delete floats(4, 4, 1)->hessian(KVEL::kGlUnsignedShort, nullptr, nullptr); }},
    {"gradient3D to unsigned",
     [](const std::string&) { delete floats(4, 4, 4)->gradient3D(KVEL::kGlUnsignedInt, nullptr, true, false, nullptr); }},
    {"downsample by 0", [](const std::string&) { delete floats(4, 4, 1)->downsample(0, 1, 1, 1, true); }},
    {"downsample without data", [](const std::string&) { ImageBase<float>().downsample(1, 1, 1, 1, true); }},
    {"resample2D of two channels", [](const std::string&) { delete floats(4, 4, 1, 2)->resample2D(3, 3, nullptr); }},
    {"resample2D to 1 column", [](const std::string&) { delete floats(4, 4, 1)->resample2D(1, 3, nullptr); }},
    {"rotate about axis 3", [](const std::string&) { floats(4, 4, 1)->rotate(3); }},
    {"sliceToBytes of a missing channel", [](const std::string&) { delete[] floats(4, 4, 1)->sliceToBytes(nullptr, 0, 1, false); }},
    {"init beyond int", [](const std::string&) { ImageBase<float>().init(65536, 65536, 1, 1, 1); }},
    {"detectEdges2D without map", [](const std::string&) { KVEL::detectEdges2D(floats(4, 4, 1).get(), 1, nullptr); }},
    {"detectEdges3D of a slice", [](const std::string&) { KVEL::detectEdges3D(floats(4, 4, 1).get(), 1); }},
    {"gaussianKernel of sigma 0", [](const std::string&) { delete[] KVEL::gaussianKernel(3, 3, 0); }},
    {"resampleRigid without parameters", [](const std::string&) { delete KVEL::resampleRigid(nullptr, floats(4, 4, 4).get(), nullptr, true); }},
    {"colour table of 0 entries",
     [](const std::string&) {
         const float values[2] = {0, 1};
         const float table[3] = {1, 0, 0};
         unsigned char rgba[8];
         KVEL::colourMapFloats(values, rgba, 2, 1, 0, 0, table, 0, false);
     }},
    {"magnitude of one channel",
     [](const std::string&) {
         unsigned char bytes[64];
         KVEL::imageMagnitudeToBytes(floats(4, 4, 1).get(), bytes);
     }},
    {"RGBA without image",
     [](const std::string&) {
         const float values[1] = {0};
         unsigned char rgba[4];
         KVEL::channelsToRGBA(values, rgba, 1, 1, nullptr, false);
     }},
    {"resampled slice beyond the volume",
     [](const std::string&) {
         unsigned char bytes[16];
         KVEL::sliceToBytesResampled(floats(4, 4, 2).get(), 4, 4, bytes, 2);
     }},
    {"loadRaw of a missing file", [](const std::string& folder) { floats(2, 2, 1)->loadRaw((folder + "/none.raw").c_str()); }},
    {"saveRaw into a missing folder", [](const std::string& folder) { floats(2, 2, 1)->saveRaw((folder + "/no/x.raw").c_str()); }},
    {"readMetaImage of a missing header", [](const std::string& folder) { delete KVEL::readMetaImage((folder + "/none.mhd").c_str()); }},
    {"readMetaImage of a header without type",
     [](const std::string&) {
         const std::string header = "NDims = 2\nDimSize = 2 2\nElementDataFile = LOCAL\n";
         delete KVEL::readMetaImage(header.data(), header.size(), nullptr, 0);
     }},
    {"readMetaImage of missing data",
     [](const std::string& folder) {
         std::ofstream(folder + "/a.mhd") << "NDims = 2\nDimSize = 2 2\nElementType = MET_UCHAR\nElementDataFile = a.raw\n";
         delete KVEL::readMetaImage((folder + "/a.mhd").c_str());
     }},
    {"writeMetaImage into a missing folder", [](const std::string& folder) { KVEL::writeMetaImage((folder + "/no/x").c_str(), floats(2, 2, 1).get()); }},
    {"writeMetaImageFile into a missing folder",
     [](const std::string& folder) { KVEL::writeMetaImageFile((folder + "/no/x.mha").c_str(), floats(2, 2, 1).get(), true); }},
    {"readImage of a text file",
     [](const std::string& folder) {
         std::ofstream(folder + "/t.txt") << "12 plain words";
         delete KVEL::readImage((folder + "/t.txt").c_str());
     }},
    {"writeImage of a volume as BMP", [](const std::string& folder) { KVEL::writeImage((folder + "/v.bmp").c_str(), floats(4, 4, 3).get()); }},
    {"writeImage of a BMP into a missing folder",
     [](const std::string& folder) {
         KVEL::writeImage((folder + "/no/v.bmp").c_str(), imagetest::randomImage(KVEL::kGlUnsignedByte, 4, 4, 1, 3, 1).get());
     }},
};

class LastError : public TempDirTest {
protected:
    void TearDown() override {
        KVEL::setMessagesPrinted(true);
        TempDirTest::TearDown();
    }
    std::string folder() const { return dir_.string(); }
};

TEST_F(LastError, EveryRefusalRecordsTheLineItPrints) {
    for (const Refusal& refusal : kPrintedRefusals) {
        testing::internal::CaptureStdout();
        refusal.call(folder());
        const std::string printed = testing::internal::GetCapturedStdout();
        const std::string reason = KVEL::lastError();
        EXPECT_FALSE(reason.empty()) << refusal.name;
        EXPECT_TRUE(reason.rfind("Error", 0) == 0 || reason.rfind("Warning", 0) == 0) << refusal.name << ": " << reason;
        // Progress notices may come first; the refusal is the last line.
        EXPECT_GE(printed.size(), reason.size() + 1) << refusal.name;
        EXPECT_EQ(printed.substr(printed.size() - std::min(printed.size(), reason.size() + 1)), reason + "\n")
            << refusal.name;
    }
}

TEST_F(LastError, WithPrintingOffRefusalsStaySilentButKeepTheirReasons) {
    KVEL::setMessagesPrinted(false);
    for (const Refusal& refusal : kPrintedRefusals) {
        testing::internal::CaptureStdout();
        refusal.call(folder());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << refusal.name;
        EXPECT_NE(std::string(KVEL::lastError()), "") << refusal.name;
    }
}

TEST_F(LastError, WithPrintingOffReadersAreQuietButVerboseProgressStays) {
    ASSERT_EQ(floats(3, 2, 1)->saveRaw(path("p.raw").c_str()), 0);
    std::ofstream(path("p.mhd")) << "NDims = 2\nDimSize = 3 2\nComment = unknown here\nElementType = MET_FLOAT\n"
                                    "ElementDataFile = p.raw\n";
    KVEL::setMessagesPrinted(false);
    testing::internal::CaptureStdout();
    std::unique_ptr<Image> back(KVEL::readMetaImage(path("p.mhd").c_str()));
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(KVEL::lastError(), "");
    back->m_verbose = 1;
    back->rotate(2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Rotated image around axis 2\n");

    KVEL::setMessagesPrinted(true);
    testing::internal::CaptureStdout();
    back.reset(KVEL::readMetaImage(path("p.mhd").c_str()));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Unknown keyword"), std::string::npos);
    EXPECT_NE(printed.find("Loading file"), std::string::npos);
    EXPECT_NE(printed.find("Loaded Image"), std::string::npos);
}

// Bitmap's load and save print nothing, but a caller still learns why.
TEST_F(LastError, BitmapRefusalsAreSilentButRecorded) {
    std::ofstream(path("four.bmp"), std::ios::binary) << std::string("BM") + std::string(52, '\0');
    KVEL::Bitmap bitmap;
    const std::vector<std::pair<std::string, std::function<int()>>> calls = {
        {"missing.bmp", [&] { return bitmap.load(path("missing.bmp").c_str()); }},
        {"four.bmp", [&] { return bitmap.load(path("four.bmp").c_str()); }},
        {"BMP", [&] { return bitmap.load("XY", 2); }},
        {"without pixels", [&] { return bitmap.save(path("empty.bmp").c_str()); }},
    };
    for (const auto& [word, call] : calls) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(call(), -1) << word;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << word;
        EXPECT_NE(std::string(KVEL::lastError()).find(word), std::string::npos) << KVEL::lastError();
    }
}

TEST_F(LastError, TheNextCallThatCanFailClearsTheReason) {
    auto image = floats(4, 4, 1);
    testing::internal::CaptureStdout();
    image->rotate(7);
    ASSERT_STRNE(KVEL::lastError(), "");
    const float kernel[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
    std::unique_ptr<Image> filtered(image->filter(0, kernel, 3, nullptr));
    EXPECT_STREQ(KVEL::lastError(), "");

    delete[] KVEL::gaussianKernel(0, 0, 1);
    ASSERT_STRNE(KVEL::lastError(), "");
    EXPECT_EQ(KVEL::writeMetaImage(path("ok").c_str(), image.get()), 0);
    EXPECT_STREQ(KVEL::lastError(), "");
    testing::internal::GetCapturedStdout();
}

TEST_F(LastError, EachThreadHasItsOwnReason) {
    auto image = floats(4, 4, 1);
    testing::internal::CaptureStdout();
    image->rotate(5);
    const std::string mine = KVEL::lastError();
    ASSERT_NE(mine, "");
    std::string seenByOther, otherAfterFailing;
    std::thread other([&] {
        seenByOther = KVEL::lastError();
        delete[] KVEL::gaussianKernel(-1, 2, 1);
        otherAfterFailing = KVEL::lastError();
    });
    other.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(seenByOther, "");
    EXPECT_NE(otherAfterFailing.find("Gaussian kernel"), std::string::npos);
    EXPECT_EQ(std::string(KVEL::lastError()), mine);
}

}  // namespace
