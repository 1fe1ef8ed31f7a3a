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
#include <map>
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

// Calls that refuse and say so on standard output, one or more from every
// part of the library that can refuse.
const Refusal kPrintedRefusals[] = {
    {"filter of even size",
     [](const std::string&) {
         const float kernel[4] = {1, 1, 1, 1};
         delete floats(4, 4, 1)->filter(0, kernel, 2, nullptr);
     }},
    {"gradient into a wrong output",
     [](const std::string&) { floats(4, 4, 1)->gradient(0, nullptr, true, floats(3, 3, 1).get()); }},
    {"hessian to unsigned",
     [](const std::string&) { delete floats(4, 4, 1)->hessian(KVEL::kGlUnsignedShort, nullptr, nullptr); }},
    {"downsample without data", [](const std::string&) { ImageBase<float>().downsample(1, 1, 1, 1, true); }},
    {"rotate about axis 3", [](const std::string&) { floats(4, 4, 1)->rotate(3); }},
    {"sliceToBytes of a missing channel",
     [](const std::string&) { delete[] floats(4, 4, 1)->sliceToBytes(nullptr, 0, 1, false); }},
    {"init beyond int", [](const std::string&) { ImageBase<float>().init(65536, 65536, 1, 1, 1); }},
    {"detectEdges3D of a slice", [](const std::string&) { KVEL::detectEdges3D(floats(4, 4, 1).get(), 1); }},
    {"gaussianKernel of sigma 0", [](const std::string&) { delete[] KVEL::gaussianKernel(3, 3, 0); }},
    {"resampleRigid without parameters",
     [](const std::string&) { delete KVEL::resampleRigid(nullptr, floats(4, 4, 4).get(), nullptr, true); }},
    {"RGBA without image",
     [](const std::string&) {
         const float values[1] = {0};
         unsigned char rgba[4];
         KVEL::channelsToRGBA(values, rgba, 1, 1, nullptr, false);
     }},
    {"loadRaw of a missing file",
     [](const std::string& dir) { floats(2, 2, 1)->loadRaw((dir + "/none.raw").c_str()); }},
    {"readMetaImage of missing data",
     [](const std::string& dir) {
         std::ofstream(dir + "/a.mhd") << "NDims = 2\nDimSize = 2 2\nElementType = MET_UCHAR\n"
                                          "ElementDataFile = a.raw\n";
         delete KVEL::readMetaImage((dir + "/a.mhd").c_str());
     }},
    {"writeMetaImage into a missing folder",
     [](const std::string& dir) { KVEL::writeMetaImage((dir + "/no/x").c_str(), floats(2, 2, 1).get()); }},
    {"writeImage of a BMP into a missing folder",
     [](const std::string& dir) {
         const auto picture = imagetest::randomImage(KVEL::kGlUnsignedByte, 4, 4, 1, 3, 1);
         KVEL::writeImage((dir + "/no/v.bmp").c_str(), picture.get());
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

// Printed, the reason is the last line (progress notices may come first);
// with printing off nothing is printed and the reason is the same.
TEST_F(LastError, EveryRefusalRecordsTheLineItPrints) {
    std::map<std::string, std::string> reasons;
    for (const bool printing : {true, false}) {
        KVEL::setMessagesPrinted(printing);
        for (const Refusal& refusal : kPrintedRefusals) {
            testing::internal::CaptureStdout();
            refusal.call(folder());
            const std::string printed = testing::internal::GetCapturedStdout();
            const std::string reason = KVEL::lastError();
            EXPECT_NE(reason, "") << refusal.name;
            if (printing) {
                reasons[refusal.name] = reason;
                const std::size_t tail = std::min(printed.size(), reason.size() + 1);
                EXPECT_EQ(printed.substr(printed.size() - tail), reason + "\n") << refusal.name;
            } else {
                EXPECT_EQ(printed, "") << refusal.name;
                EXPECT_EQ(reason, reasons[refusal.name]);
            }
        }
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
        {"without pixels", [&] { return bitmap.save(path("empty.bmp").c_str()); }},
    };
    for (const auto& [word, call] : calls) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(call(), -1) << word;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << word;
        EXPECT_NE(std::string(KVEL::lastError()).find(word), std::string::npos) << KVEL::lastError();
    }
}

// The next call that can fail clears the reason; another thread neither sees
// nor changes this thread's reason.
TEST_F(LastError, TheReasonLastsUntilTheThreadsNextCall) {
    KVEL::setMessagesPrinted(false);
    auto image = floats(4, 4, 1);
    image->rotate(7);
    const std::string mine = KVEL::lastError();
    ASSERT_NE(mine, "");
    std::string seenByOther, otherAfterFailing;
    std::thread other([&] {
        seenByOther = KVEL::lastError();
        delete[] KVEL::gaussianKernel(-1, 2, 1);
        otherAfterFailing = KVEL::lastError();
    });
    other.join();
    EXPECT_EQ(seenByOther, "");
    EXPECT_NE(otherAfterFailing.find("Gaussian kernel"), std::string::npos);
    EXPECT_EQ(KVEL::lastError(), mine);

    EXPECT_EQ(KVEL::writeMetaImage(path("ok").c_str(), image.get()), 0);
    EXPECT_STREQ(KVEL::lastError(), "");
}

}  // namespace
