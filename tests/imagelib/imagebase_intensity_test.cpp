#include "imagelib/imagebase.h"

#include "image_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using KVEL::ImageBase;

namespace {

template <class T>
std::unique_ptr<ImageBase<T>> patterned(int w, int h, int d, int c) {
    auto image = std::make_unique<ImageBase<T>>();
    image->init(w, h, d, 1, c);
    imagetest::fillPattern(*image);
    for (int ch = 0; ch < c; ++ch) image->setRange(-20.5f + ch, 60.25f + 3 * ch, ch);
    return image;
}

// Widths past 64 run the vectorised row loops as well as their remainders.
const int kShapes[][4] = {{1, 1, 1, 1}, {2, 3, 1, 3}, {3, 2, 2, 2}, {17, 5, 3, 1}, {17, 2, 1, 4}, {67, 3, 2, 1}, {70, 2, 1, 2}};

long long nextPowerOfTwo(int n) {
    long long p = n & -n;
    while (p < n) p *= 2;
    return p;
}

}  // namespace

template <class T>
class IntensityMatchesElementwise : public ::testing::Test {};
TYPED_TEST_SUITE(IntensityMatchesElementwise, imagetest::ElementTypes);

TYPED_TEST(IntensityMatchesElementwise, InvertAndWindowLevel) {
    for (const auto& s : kShapes) {
        for (int mode = 0; mode < 3; ++mode) {
            auto image = patterned<TypeParam>(s[0], s[1], s[2], s[3]);
            auto expected = patterned<TypeParam>(s[0], s[1], s[2], s[3]);
            image->m_verbose = 0;
            const KVEL::ChannelWindow w0 = expected->m_channel_windows[0];
            for (int i = 0; i < expected->m_image_size; ++i) {
                const KVEL::ChannelWindow& w = expected->m_channel_windows[i % s[3]];
                float v = expected->get(i);
                if (mode == 0) {
                    expected->set(w.low + w.high - v, i);
                    continue;
                }
                v = v < w0.low ? w0.low : (v > w0.high ? w0.high : v);
                expected->set(mode == 2 ? static_cast<int>(w0.high) - v : v - static_cast<int>(w0.low), i);
            }
            if (mode == 0) image->invert();
            else image->applyWindowLevel(mode == 2);
            EXPECT_TRUE(imagetest::sameElements(*image, *expected)) << s[0] << "x" << s[1] << " mode " << mode;
        }
    }
}

// Each channel's window maps linearly onto 0..top, clamped: whatever the
// rounding, every exported value lies within 1 of that line; the padding
// is 0, and a slice is the same bytes as the whole.
TYPED_TEST(IntensityMatchesElementwise, ExportToBytesShortsAndSlices) {
    for (const auto& s : kShapes) {
        for (bool pow2 : {false, true}) {
            auto image = patterned<TypeParam>(s[0], s[1], s[2], s[3]);
            const long long W = pow2 ? nextPowerOfTwo(s[0]) : s[0], H = pow2 ? nextPowerOfTwo(s[1]) : s[1];
            const long long D = pow2 ? nextPowerOfTwo(s[2]) : s[2];
            std::unique_ptr<unsigned char[]> bytes(image->toBytes(nullptr, pow2));
            std::unique_ptr<unsigned short[]> shorts(image->toShorts(nullptr, pow2));
            std::unique_ptr<unsigned char[]> slice(image->sliceToBytes(nullptr, 1, s[3] - 1, pow2));
            for (long long z = 0; z < D; ++z)
                for (long long y = 0; y < H; ++y)
                    for (long long x = 0; x < W; ++x)
                        for (int c = 0; c < s[3]; ++c) {
                            const std::size_t at = static_cast<std::size_t>(c + (x + W * (y + H * z)) * s[3]);
                            double share = 0;  // of the window, 0..1
                            if (x < s[0] && y < s[1] && z < s[2]) {
                                const KVEL::ChannelWindow& w = image->m_channel_windows[c];
                                const double v = image->get(static_cast<int>(x), static_cast<int>(y), static_cast<int>(z), 0, c);
                                share = std::min(std::max((v - w.low) / (w.high - w.low), 0.0), 1.0);
                            }
                            EXPECT_NEAR(bytes[at], share * 255, 1) << x << "," << y << "," << z << "," << c;
                            EXPECT_NEAR(shorts[at], share * 65535, 1) << x << "," << y << "," << z << "," << c;
                            if (z == 1 % s[2] && c == s[3] - 1) {
                                EXPECT_EQ(slice[static_cast<std::size_t>(x + W * y)], bytes[at]);
                            }
                        }
        }
    }
}

// Whatever the weighting, an image that is its own mirror image along each
// axis has its centre of mass at the middle.
TYPED_TEST(IntensityMatchesElementwise, CenterOfMassOfAMirrorSymmetricImageIsItsMiddle) {
    ImageBase<TypeParam> image;
    image.m_verbose = 0;
    image.init(17, 6, 3, 1, 1);
    for (int z = 0; z < 3; ++z)
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 17; ++x)
                image.set(static_cast<float>(3 * std::min(x, 16 - x) + 5 * std::min(y, 5 - y) + 7 * std::min(z, 2 - z) + 1),
                          x, y, z, 0, 0);
    image.computeRange();
    const std::vector<double> centre = image.centerOfMass();
    ASSERT_EQ(centre.size(), 3u);
    EXPECT_NEAR(centre[0], 8, 1e-9);
    EXPECT_NEAR(centre[1], 2.5, 1e-9);
    EXPECT_NEAR(centre[2], 1, 1e-9);
}

// Hand-worked cases

TEST(WindowLevel, ClampsToTheWindowAndShiftsToZero) {
    ImageBase<short> image;
    image.init(3, 1, 1, 1, 1);
    image.set(5, 0);
    image.set(15, 1);
    image.set(30, 2);
    image.setRange(10, 20, 0);
    testing::internal::CaptureStdout();
    image.applyWindowLevel(false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Window/Level setting applied\n");
    EXPECT_EQ(image.get(0), 0);
    EXPECT_EQ(image.get(1), 5);
    EXPECT_EQ(image.get(2), 10);
    image.set(12, 0);
    image.set(25, 1);
    image.applyWindowLevel(true);
    EXPECT_EQ(image.get(0), 8);
    EXPECT_EQ(image.get(1), 0);
    EXPECT_EQ(image.get(2), 10);  // 10 clamps to the low limit
}

TEST(Invert, MirrorsEachChannelInItsOwnWindow) {
    ImageBase<short> image;
    image.init(1, 1, 1, 1, 2);
    image.set(3, 0);
    image.set(3, 1);
    image.setRange(0, 10, 0);
    image.setRange(100, 200, 1);
    image.invert();
    EXPECT_EQ(image.get(0), 7);
    EXPECT_EQ(image.get(1), 297);
}

TEST(ToBytes, MapsLowToZeroAndHighTo255) {
    ImageBase<float> image;
    image.init(3, 1, 1, 1, 1);
    image.set(-1, 0);
    image.set(1.5f, 1);
    image.set(9, 2);
    image.setRange(-1, 9, 0);
    std::unique_ptr<unsigned char[]> bytes(image.toBytes(nullptr, false));
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 63);  // 2.5 * 255 / 10 = 63.75
    EXPECT_EQ(bytes[2], 255);
    std::unique_ptr<unsigned short[]> shorts(image.toShorts(nullptr, true));
    EXPECT_EQ(shorts[2], 65535);
    EXPECT_EQ(shorts[3], 0);  // padding column of the 4-wide export
}

TEST(ToBytes, EmptyWindowMapsNotANumberToZeroAndClampsTheRest) {
    ImageBase<float> image;
    image.init(4, 1, 1, 1, 1);
    image.set(5, 0);
    image.set(7, 1);
    image.set(2, 2);
    image.set(std::nanf(""), 3);
    image.setRange(5, 5, 0);
    std::unique_ptr<unsigned char[]> bytes(image.toBytes(nullptr, false));
    EXPECT_EQ(bytes[0], 0);  // 0 / 0
    EXPECT_EQ(bytes[1], 255);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 0);
    std::unique_ptr<unsigned short[]> shorts(image.toShorts(nullptr, false));
    EXPECT_EQ(shorts[0], 0);
    std::unique_ptr<unsigned char[]> slice(image.sliceToBytes(nullptr, 0, 0, false));
    EXPECT_EQ(slice[0], 0);
}

TEST(SliceToBytes, SliceWrapsAroundTheDepthAndBadChannelsAreRefused) {
    ImageBase<unsigned char> image;
    image.init(1, 1, 3, 1, 1);
    image.set(255, 0, 0, 2, 0, 0);
    image.setRange(0, 255, 0);
    std::unique_ptr<unsigned char[]> last(image.sliceToBytes(nullptr, -1, 0, false));
    EXPECT_EQ(last[0], 255);
    std::unique_ptr<unsigned char[]> wrapped(image.sliceToBytes(nullptr, 5, 0, false));
    EXPECT_EQ(wrapped[0], 255);
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.sliceToBytes(nullptr, 0, 1, false), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: no slice 0 of channel 1 to export!\n");
}

TEST(CenterOfMass, WeightsAreValuesAboveTheLowLimit) {
    ImageBase<float> image;
    image.init(3, 2, 1, 1, 1);
    image.set(11, 2, 1, 0, 0, 0);
    image.set(11, 0, 1, 0, 0, 0);
    image.set(10, 1, 0, 0, 0, 0);
    image.setRange(10, 11, 0);
    for (int i : {0, 2, 4}) image.set(10, i);  // weight 0 everywhere else
    const std::vector<double> centre = image.centerOfMass();
    EXPECT_DOUBLE_EQ(centre[0], 1);
    EXPECT_DOUBLE_EQ(centre[1], 1);
    EXPECT_DOUBLE_EQ(centre[2], 0);
}
