#include "imagelib/imagebase.h"

#include "../support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

using KVEL::Image;
using KVEL::ImageBase;

// Layout and initialisation

TEST(ImageInit, DerivedSizesFollowExtentsAndChannels) {
    ImageBase<short> image;
    EXPECT_EQ(image.init(4, 3, 1, 1, 3), 0);
    EXPECT_EQ(image.m_stride, 12);
    EXPECT_EQ(image.m_slice_size, 36);
    EXPECT_EQ(image.m_frame_size, 36);
    EXPECT_EQ(image.m_image_size, 36);
    ASSERT_NE(image.data(), nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image.data()) % 16, 0u);
    for (int i = 0; i < 36; ++i) ASSERT_EQ(image.data()[i], 0);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(image.m_channel_windows[c].low, 0);
        EXPECT_EQ(image.m_channel_windows[c].high, 0);
    }
}

TEST(ImageInit, AnyZeroExtentGivesNoBuffer) {
    ImageBase<float> image;
    image.init(4, 0, 2, 1, 1);
    EXPECT_EQ(image.m_image_size, 0);
    EXPECT_EQ(image.data(), nullptr);
}

TEST(ImageInit, OverflowingOrNegativeSizesLeaveAnEmptyImage) {
    for (auto dims : std::vector<std::vector<int>>{{70000, 70000, 1, 1, 1}, {1 << 20, 1, 1, 1, 4096},
                                                   {-4, 3, 1, 1, 1}, {100000, 100000, 0, 1, 1}}) {
        ImageBase<unsigned char> image;
        testing::internal::CaptureStdout();
        EXPECT_EQ(image.init(dims[0], dims[1], dims[2], dims[3], dims[4]), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error while initializing!\n");
        EXPECT_EQ(image.m_dim[0], 0);
        EXPECT_EQ(image.m_channels, 0);
        EXPECT_EQ(image.m_stride, 0);
        EXPECT_EQ(image.m_image_size, 0);
        EXPECT_EQ(image.data(), nullptr);
    }
}

TEST(ImageInit, CreateImageMakesEachElementTypeAndRefusesOtherCodes) {
    for (int code : {5120, 5121, 5122, 5123, 5124, 5125, 5126, 5130}) {
        std::unique_ptr<Image> image(KVEL::createImage(code));
        ASSERT_NE(image, nullptr) << code;
        EXPECT_EQ(KVEL::glTypeOf(image.get()), code);
    }
    EXPECT_EQ(KVEL::createImage(5127), nullptr);
    EXPECT_EQ(KVEL::createImage(0), nullptr);
}

TEST(ImageInit, ClearZeroesElementsAndWindows) {
    ImageBase<int> image;
    image.init(2, 2, 1, 1, 1);
    image.set(5, 3);
    image.setRange(1, 9, 0);
    image.clear();
    EXPECT_EQ(image.get(3), 0);
    EXPECT_EQ(image.m_channel_windows[0].high, 0);
}

// Channel windows

TEST(ChannelWindow, RangeAndWindowKeepAllFourValuesConsistent) {
    ImageBase<float> image;
    image.init(1, 1, 1, 1, 2);
    image.setRange(10, 30, 0);
    EXPECT_FLOAT_EQ(image.m_channel_windows[0].width, 20);
    EXPECT_FLOAT_EQ(image.m_channel_windows[0].center, 20);
    image.setWindow(20, 20, 1);
    EXPECT_FLOAT_EQ(image.m_channel_windows[1].low, 10);
    EXPECT_FLOAT_EQ(image.m_channel_windows[1].high, 30);
    image.setRange(0, 1, 2);  // no third channel: ignored, nothing written past the windows
    image.setWindow(1, 1, -1);
    EXPECT_FLOAT_EQ(image.m_channel_windows[1].high, 30);
}

// Iteration and access

TEST(ImageAccess, GetNextVisitsEveryElementInMemoryOrderThenStops) {
    ImageBase<short> image;
    image.init(3, 2, 1, 1, 1);
    image.resetIteration();
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(image.setNext(static_cast<float>(i * 10)));
    EXPECT_FALSE(image.setNext(99));
    image.resetIteration();
    float v = -1;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(image.getNext(v));
        EXPECT_EQ(v, i * 10);
    }
    EXPECT_FALSE(image.getNext(v));
}

TEST(ImageAccess, CoordinatesAddressInterleavedChannelsAndMoveTheCursor) {
    ImageBase<int> image;
    image.init(3, 2, 2, 2, 2);
    image.set(7, 1, 1, 1, 1, 1);
    const int index = 1 + 1 * 2 + 1 * 6 + 1 * 12 + 1 * 24;
    EXPECT_EQ(image.m_iteration, index + 1);
    EXPECT_EQ(image.data()[index], 7);
    image.data()[index + 1] = 8;
    EXPECT_EQ(image.get(1, 1, 1, 1, 1), 7);
    float next = 0;
    ASSERT_TRUE(image.getNext(next));
    EXPECT_EQ(next, 8);
    image.setCurrent(9);
    EXPECT_EQ(image.data()[index + 1], 9);
}

TEST(ImageAccess, ValuesTruncateTowardZeroAndWrapLikeAConversionThroughInt) {
    ImageBase<unsigned char> bytes;
    bytes.init(4, 1, 1, 1, 1);
    bytes.set(2.9f, 0);
    bytes.set(-1.5f, 1);
    bytes.set(300.0f, 2);
    bytes.set(std::nanf(""), 3);
    EXPECT_EQ(bytes.data()[0], 2);
    EXPECT_EQ(bytes.data()[1], 255);
    EXPECT_EQ(bytes.data()[2], 44);
    EXPECT_EQ(bytes.data()[3], 0);
    ImageBase<unsigned int> words;
    words.init(1, 1, 1, 1, 1);
    words.set(3e9f, 0);
    EXPECT_EQ(words.data()[0], 3000000000u);
    ImageBase<float> floats;
    floats.init(1, 1, 1, 1, 1);
    floats.set(-2.75f, 0);
    EXPECT_EQ(floats.get(0), -2.75f);
}

TEST(ImageAccess, NearestTruncatesCoordinatesAndReadsEveryChannel) {
    ImageBase<short> image;
    image.init(2, 2, 1, 1, 2);
    image.set(5, 1, 1, 0, 0, 0);
    image.set(6, 1, 1, 0, 0, 1);
    float out[2];
    image.getNearest(out, 1.9f, 1.2f, 0.5f);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[1], 6);
    EXPECT_EQ(image.getNearest(1.9f, 1.2f, 0.0f), 5);
}

// Interpolation

namespace {

// 4x4x4 volume with value x + 10y + 100z (+ 1000c): linear, so linear
// interpolation of it is exact.
std::unique_ptr<ImageBase<float>> linearVolume(int channels = 1) {
    auto image = std::make_unique<ImageBase<float>>();
    image->init(4, 4, 4, 1, channels);
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                for (int c = 0; c < channels; ++c)
                    image->set(static_cast<float>(x + 10 * y + 100 * z + 1000 * c), x, y, z, 0, c);
    return image;
}

}  // namespace

TEST(ImageInterpolation, IntegerCoordinatesGiveTheElementItself) {
    auto image = linearVolume();
    EXPECT_FLOAT_EQ(image->getTrilinear(1, 2, 1), 121);
    EXPECT_FLOAT_EQ(image->getBilinear(2, 1, 3), 312);
    EXPECT_FLOAT_EQ(image->getTricubic(1, 1, 1), 111);
    EXPECT_FLOAT_EQ(image->getCubicZ(1, 2, 2), 221);
}

TEST(ImageInterpolation, FractionalCoordinatesBlendLinearly) {
    auto image = linearVolume(2);
    float out[2];
    image->getTrilinear(out, 0.5f, 1.25f, 2.75f);
    EXPECT_FLOAT_EQ(out[0], 0.5f + 12.5f + 275);
    EXPECT_FLOAT_EQ(out[1], 1000 + 0.5f + 12.5f + 275);
    // The a = -1 kernel reproduces a linear ramp only at half-way points.
    image->getTricubic(out, 1.5f, 1.5f, 1.5f);
    EXPECT_NEAR(out[1], 1000 + 1.5f + 15 + 150, 1e-3);
    image->getCubicZ(out, 1.5f, 1.25f, 1.5f);
    EXPECT_NEAR(out[0], 1.5f + 12.5f + 150, 1e-3);
    auto single = linearVolume();
    EXPECT_FLOAT_EQ(single->getBilinear(2.5f, 0.5f, 1), 107.5f);
}

TEST(ImageInterpolation, CubicWeightsOfAnIsolatedPeak) {
    ImageBase<float> image;
    image.init(4, 4, 4, 1, 1);
    image.set(1, 1, 1, 1, 0, 0);
    // At f = 0.5 the sample at i has weight w1 = 0.625 in each axis.
    EXPECT_FLOAT_EQ(image.getTricubic(1.5f, 1, 1), 0.625f);
    EXPECT_FLOAT_EQ(image.getTricubic(1.5f, 1.5f, 1.5f), 0.625f * 0.625f * 0.625f);
    EXPECT_FLOAT_EQ(image.getTricubic(0.5f, 1, 1), 0.625f);  // sample at i + 1: w2 = 0.625
}

// Far outside the image every lookup reads the edge voxels; the coordinates
// must not overflow on the way (UBSan checks this in the sanitizer build).
// Trilinear and bilinear lookups assert there, so they are swept only in the
// build that ships, where the assertions are off.
TEST(ImageInterpolation, FarCoordinatesReadTheEdgeVoxels) {
    auto image = linearVolume();
    const float far[] = {-1e30f, -3e9f, -2147483648.0f, 2147483648.0f, 3e9f, 1e30f, INFINITY, -INFINITY};
    for (float p : far) {
        const int edge = p < 0 ? 0 : 3;
        const float expected = image->get(edge, edge, edge, 0, 0);
        EXPECT_EQ(image->getTricubic(p, p, p), expected) << p;
        EXPECT_EQ(image->getCubicZ(p, p, p), expected) << p;
        EXPECT_EQ(image->getNearest(p, p, p), 0) << p;
#ifdef NDEBUG
        EXPECT_EQ(image->getTrilinear(p, p, p), expected) << p;
        EXPECT_EQ(image->getBilinear(p, p, edge), expected) << p;
#endif
    }
}

#ifndef NDEBUG
TEST(ImageInterpolationDeathTest, TrilinearAtTheLastColumnAsserts) {
    auto image = linearVolume();
    EXPECT_DEATH(image->getTrilinear(3, 1, 1), "xx < m_dim\\[0\\]-1");
}
#endif

// Range and byte order

TEST(ImageRange, ComputeRangeSetsEveryChannelAndReturnsTheMaximum) {
    ImageBase<short> image;
    image.init(3, 1, 1, 1, 2);
    const short values[6] = {4, -7, 12, 0, 3, 3};
    std::memcpy(image.data(), values, sizeof values);
    EXPECT_EQ(image.computeRange(), 12);
    EXPECT_EQ(image.m_min, -7);
    EXPECT_EQ(image.m_channel_windows[1].low, -7);
    EXPECT_EQ(image.m_channel_windows[1].high, 12);
    ImageBase<short> empty;
    EXPECT_EQ(empty.computeRange(), 0);
}

// The range a single pass from the first number finds: not-a-number is
// passed over, and of extremes that compare equal (+0 and -0) the first one
// seen is kept.
template <class T>
void expectRangeOfOnePass(const std::vector<T>& values) {
    std::size_t first = 0;
    while (std::isnan(values[first])) ++first;
    T low = values[first], high = values[first];
    for (T v : values) {
        if (v < low) low = v;
        if (v > high) high = v;
    }
    ImageBase<T> image;
    image.init(static_cast<int>(values.size()), 1, 1, 1, 1);
    std::memcpy(image.data(), values.data(), values.size() * sizeof(T));
    image.computeRange();
    const float expected[2] = {static_cast<float>(low), static_cast<float>(high)};
    const float found[2] = {image.m_min, image.m_max};
    EXPECT_EQ(std::memcmp(expected, found, sizeof found), 0)
        << values.size() << " values: " << found[0] << ".." << found[1] << ", expected " << expected[0] << ".."
        << expected[1];
}

TEST(ImageRange, SignedZerosAndNotANumberAsOnePassFindsThem) {
    for (std::size_t n : {3u, 31u, 32u, 33u, 100u, 1000u}) {
        for (std::size_t at : {std::size_t(0), std::size_t(1), n / 2, n - 1}) {
            for (float background : {1.0f, -1.0f}) {
                for (float zero : {0.0f, -0.0f}) {
                    // One zero at `at`, then zeros of the other sign after it: an extreme either way.
                    std::vector<float> values(n, background);
                    for (std::size_t i = at; i < n; i += 3) values[i] = i == at ? zero : -zero;
                    expectRangeOfOnePass(values);
                    expectRangeOfOnePass(std::vector<double>(values.begin(), values.end()));
                }
                std::vector<float> values(n);
                for (std::size_t i = 0; i < n; ++i) values[i] = background * static_cast<float>((i * 7) % 23);
                values[at] = std::nanf("");
                expectRangeOfOnePass(values);
                expectRangeOfOnePass(std::vector<double>(values.begin(), values.end()));
            }
        }
    }
}

TEST(ImageByteOrder, SwapReversesTheBytesOfEveryElementSize) {
    ImageBase<unsigned char> bytes;
    bytes.init(1, 1, 1, 1, 1);
    bytes.data()[0] = 0x12;
    bytes.swapByteOrder();
    EXPECT_EQ(bytes.data()[0], 0x12);
    ImageBase<unsigned short> shorts;
    shorts.init(1, 1, 1, 1, 1);
    shorts.data()[0] = 0x1234;
    shorts.swapByteOrder();
    EXPECT_EQ(shorts.data()[0], 0x3412);
    ImageBase<int> ints;
    ints.init(1, 1, 1, 1, 1);
    ints.data()[0] = 0x12345678;
    ints.swapByteOrder();
    EXPECT_EQ(static_cast<unsigned>(ints.data()[0]), 0x78563412u);
    ImageBase<double> doubles;
    doubles.init(1, 1, 1, 1, 1);
    const unsigned char bigEndianOne[8] = {0x3f, 0xf0, 0, 0, 0, 0, 0, 0};
    std::memcpy(doubles.data(), bigEndianOne, 8);
    doubles.swapByteOrder();
    EXPECT_EQ(doubles.data()[0], 1.0);
}

// Raw files

class ImageRaw : public TempDirTest {};

TEST_F(ImageRaw, SaveAndLoadRoundTripTheBufferAsInMemory) {
    ImageBase<short> image;
    image.init(3, 2, 1, 1, 1);
    for (int i = 0; i < 6; ++i) image.data()[i] = static_cast<short>(i * 1000 - 2000);
    ASSERT_EQ(image.saveRaw(path("a.raw").c_str()), 0);
    ImageBase<short> back;
    back.init(3, 2, 1, 1, 1);
    ASSERT_EQ(back.loadRaw(path("a.raw").c_str()), 0);
    EXPECT_EQ(std::memcmp(back.data(), image.data(), 12), 0);
}

TEST_F(ImageRaw, MissingOrShortFileWarnsAndFails) {
    ImageBase<short> image;
    image.init(3, 2, 1, 1, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.loadRaw(path("none.raw").c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: could not load image data!\n");
    ImageBase<short> small;
    small.init(2, 1, 1, 1, 1);
    small.saveRaw(path("short.raw").c_str());
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.loadRaw(path("short.raw").c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: could not load image data!\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.saveRaw(path("no/such/dir.raw").c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: could not save image data!\n");
}
