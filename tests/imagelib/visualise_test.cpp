#include "imagelib/visualise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

using KVEL::ImageBase;

namespace {

const float kBlackToWhite[6] = {0, 0, 0, 1, 1, 1};
const unsigned char kUntouched = 0xAA;

std::vector<unsigned char> untouched(std::size_t n) { return std::vector<unsigned char>(n, kUntouched); }

}  // namespace

TEST(FloatsToBytes, PadsRowsToAPowerOfTwoAndLeavesThePaddingAlone) {
    const float values[6] = {0, 1, 2, 3, 4, 5};
    auto bytes = untouched(8);
    KVEL::floatsToBytes(values, bytes.data(), 3, 2, 0, 0, false);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{0, 51, 102, kUntouched, 153, 204, 255, kUntouched}));
}

TEST(FloatsToBytes, ClampsToTheGivenRangeAndGivesNotANumberZero) {
    const float inf = std::numeric_limits<float>::infinity();
    const float values[8] = {-5, 10, 15, 20, 99, std::nanf(""), inf, -inf};
    auto bytes = untouched(8);
    KVEL::floatsToBytes(values, bytes.data(), 8, 1, 10, 20, false);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{0, 0, 127, 255, 255, 0, 255, 0}));
}

TEST(FloatsToBytes, ConstantPictureMapsToZero) {
    const float values[4] = {7, 7, 7, 7};
    auto bytes = untouched(4);
    KVEL::floatsToBytes(values, bytes.data(), 2, 2, 0, 0, false);
    EXPECT_EQ(bytes, std::vector<unsigned char>(4, 0));
}

TEST(FloatsToBytes, HalfSizeWritesOnlyTheTopLeftQuarterWithItsOwnRange) {
    std::vector<float> values(8 * 4, 1000);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) values[x + 8 * y] = static_cast<float>(x + 4 * y);
    }
    auto bytes = untouched(32);
    KVEL::floatsToBytes(values.data(), bytes.data(), 8, 4, 0, 0, true);
    for (int i = 0; i < 32; ++i) {
        const int x = i % 8, y = i / 8;
        if (x < 4 && y < 2) {
            EXPECT_EQ(bytes[i], static_cast<unsigned char>((x + 4 * y) * 255 / 7)) << i;
        } else {
            EXPECT_EQ(bytes[i], kUntouched) << i;
        }
    }
}

TEST(ColourMap, BlackToWhiteMapsMinToZeroAndMaxTo254) {
    const float values[3] = {-2, 0, 2};
    auto rgba = untouched(12);
    KVEL::colourMapFloats(values, rgba.data(), 3, 1, 0, 0, kBlackToWhite, 2, false);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{0, 0, 0, 0, 127, 127, 127, 0, 254, 254, 254, 0}));
}

TEST(ColourMap, SignedScaleMapsZeroToTheMiddleOfEvenAndOddTables) {
    const float threeEntries[9] = {0, 0, 1, 1, 1, 1, 1, 0, 0};
    const float values[3] = {-4, 0, 8};
    auto rgba = untouched(12);
    KVEL::colourMapFloats(values, rgba.data(), 3, 1, -4, 8, threeEntries, 3, true);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{0, 0, 255, 0, 255, 255, 255, 0, 255, 0, 0, 0}));
    KVEL::colourMapFloats(values, rgba.data(), 3, 1, -4, 8, kBlackToWhite, 2, true);
    EXPECT_EQ(rgba[4], 127);  // halfway along a two-entry table
}

TEST(ColourMap, IntsMapLikeTheSameFloats) {
    const int ints[5] = {-3, 0, 1, 7, 40};
    const float floats[5] = {-3, 0, 1, 7, 40};
    const float table[9] = {0.1f, 0.2f, 0.3f, 0.9f, 0.5f, 0.0f, 0.4f, 1.0f, 0.7f};
    auto fromInts = untouched(20), fromFloats = untouched(20);
    KVEL::colourMapInts(ints, fromInts.data(), 5, 1, 0, 0, table, 3, false);
    KVEL::colourMapFloats(floats, fromFloats.data(), 5, 1, 0, 0, table, 3, false);
    EXPECT_EQ(fromInts, fromFloats);
}

TEST(ColourMap, OneEntryTablePaintsItsColourAndEmptyTableWritesNothing) {
    const float orange[3] = {1, 0.5f, 0};
    const float values[2] = {-1, 1};
    auto rgba = untouched(8);
    KVEL::colourMapFloats(values, rgba.data(), 2, 1, 0, 0, orange, 1, false);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{255, 127, 0, 0, 255, 127, 0, 0}));
    auto unchanged = untouched(8);
    testing::internal::CaptureStdout();
    KVEL::colourMapFloats(values, unchanged.data(), 2, 1, 0, 0, orange, 0, false);
    KVEL::colourMapFloats(values, unchanged.data(), 2, 1, 0, 0, nullptr, 2, false);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("colour table"), std::string::npos);
    EXPECT_EQ(unchanged, untouched(8));
}

// Out-of-range entries clamp; the top of a long table, where float
// positions no longer resolve the last entry, reads no further than it.
TEST(ColourMap, NotANumberHugeValuesAndLongTablesStayInsideTheTable) {
    const int n = 100000;
    std::vector<float> table(3 * n, 0);
    table[3 * (n - 1)] = table[3 * (n - 1) + 1] = table[3 * (n - 1) + 2] = 1;
    const float values[4] = {std::nanf(""), 1e30f, -1e30f, 1};
    auto rgba = untouched(16);
    KVEL::colourMapFloats(values, rgba.data(), 4, 1, 0, 1, table.data(), n, false);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 255, 255, 255, 0}));
    const float hot[6] = {0, 0, 0, 3, -2, 0.5f};
    KVEL::colourMapFloats(values, rgba.data(), 4, 1, 0, 1, hot, 2, false);
    EXPECT_EQ(rgba[4], 255);
    EXPECT_EQ(rgba[5], 0);
    EXPECT_EQ(rgba[6], 127);
}

TEST(FieldMagnitudeToBytes, MapsLengthsOntoTheFullRangeAndReturnsTheRows) {
    const float field[8] = {3, 4, 0, 0, 0, 2.5f, 6, 8};
    auto bytes = untouched(4);
    EXPECT_EQ(KVEL::fieldMagnitudeToBytes(field, bytes.data(), 2, 2, 0, 0, false), 2);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{127, 0, 63, 255}));
}

TEST(FieldMagnitudeToBytes, ConstantFieldGivesZero) {
    const float field[6] = {1, 1, 1, 1, 1, 1};
    auto bytes = untouched(4);
    KVEL::fieldMagnitudeToBytes(field, bytes.data(), 3, 1, 0, 0, false);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{0, 0, 0, kUntouched}));
}

TEST(FieldMagnitudeToBytes, HalfSizeCoversTheTopLeftQuarterAndClampsAGivenRange) {
    std::vector<float> field(2 * 4 * 4, 0);
    field[0] = 30;                 // (0, 0): beyond the range
    field[2] = std::nanf("");      // (1, 0)
    field[2 * (1 + 4 * 1)] = 5;    // (1, 1)
    field[2 * (3 + 4 * 3)] = 100;  // outside the quarter
    auto bytes = untouched(16);
    EXPECT_EQ(KVEL::fieldMagnitudeToBytes(field.data(), bytes.data(), 4, 4, 0, 10, true), 2);
    EXPECT_EQ(bytes[0], 255);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[4], 0);
    EXPECT_EQ(bytes[5], 127);
    EXPECT_EQ(bytes[2], kUntouched);
    EXPECT_EQ(bytes[15], kUntouched);
}

TEST(ImageMagnitudeToBytes, MatchesTheFieldVersionAndRefusesOtherChannelCounts) {
    const float field[12] = {3, 4, 0, 0, 0, 2.5f, 6, 8, 1, 1, -2, 0};
    ImageBase<short> image;
    image.init(3, 2, 1, 1, 2);
    for (int i = 0; i < 12; ++i) image.set(field[i], i);
    auto fromImage = untouched(8), fromField = untouched(8);
    EXPECT_EQ(KVEL::imageMagnitudeToBytes(&image, fromImage.data()), 2);
    const float truncated[12] = {3, 4, 0, 0, 0, 2, 6, 8, 1, 1, -2, 0};
    KVEL::fieldMagnitudeToBytes(truncated, fromField.data(), 3, 2, 0, 0, false);
    EXPECT_EQ(fromImage, fromField);
    ImageBase<float> single;
    single.init(3, 2, 1, 1, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(KVEL::imageMagnitudeToBytes(&single, fromImage.data()), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("two-channel"), std::string::npos);
}

TEST(ChannelsToRGBA, ThreeChannelsMapEachWithItsOwnRange) {
    const float values[6] = {0, 10, -1, 2, 20, 1};
    ImageBase<float> image;
    image.init(2, 1, 1, 1, 3);
    auto rgba = untouched(8);
    KVEL::channelsToRGBA(values, rgba.data(), 2, 1, &image, false);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{0, 0, 0, 0, 255, 255, 255, 0}));
}

TEST(ChannelsToRGBA, MissingChannelsRepeatTheLastOne) {
    const float one[2] = {0, 4};
    ImageBase<float> single;
    single.init(2, 1, 1, 1, 1);
    auto rgba = untouched(8);
    KVEL::channelsToRGBA(one, rgba.data(), 2, 1, &single, false);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{0, 0, 0, 0, 255, 255, 255, 0}));
    const float two[4] = {0, 5, 4, 1};
    ImageBase<float> pair;
    pair.init(2, 1, 1, 1, 2);
    KVEL::channelsToRGBA(two, rgba.data(), 2, 1, &pair, false);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{0, 255, 255, 0, 255, 0, 0, 0}));
}

TEST(ChannelsToRGBA, ImageWindowsClampValuesOutsideThem) {
    const float values[3] = {-5, 5, 50};
    ImageBase<float> image;
    image.init(3, 1, 1, 1, 1);
    image.setRange(0, 10, 0);
    auto rgba = untouched(12);
    KVEL::channelsToRGBA(values, rgba.data(), 3, 1, &image, true);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{0, 0, 0, 0, 127, 127, 127, 0, 255, 255, 255, 0}));
}

TEST(ChannelsToRGBA, RefusesAnImageWithoutChannels) {
    ImageBase<float> empty;
    const float values[4] = {};
    auto rgba = untouched(4);
    testing::internal::CaptureStdout();
    KVEL::channelsToRGBA(values, rgba.data(), 1, 1, &empty, false);
    KVEL::channelsToRGBA(values, rgba.data(), 1, 1, nullptr, false);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("1 to 3 channels"), std::string::npos);
    EXPECT_EQ(rgba, untouched(4));
}

TEST(FieldDerivative3x3, RampGivesMinusEightNinthsAlongXAndZeroOnTheEdge) {
    const int w = 5, h = 4;
    std::vector<float> values(w * h);
    for (int i = 0; i < w * h; ++i) values[i] = static_cast<float>(i % w);
    std::vector<float> field(2 * w * h, 42);
    KVEL::fieldDerivative3x3(values.data(), field.data(), w, h, false);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            EXPECT_EQ(field[2 * (x + w * y)], 0) << x << y;
            EXPECT_FLOAT_EQ(field[2 * (x + w * y) + 1], edge ? 0 : -8.0f / 9) << x << y;
        }
    }
}

TEST(FieldDerivative3x3, HalfSizeTreatsTheQuarterAsThePicture) {
    const int w = 8, h = 8;
    std::vector<float> values(w * h);
    for (int i = 0; i < w * h; ++i) values[i] = static_cast<float>(i / w);  // value = y
    std::vector<float> field(2 * w * h, 42);
    KVEL::fieldDerivative3x3(values.data(), field.data(), w, h, true);
    EXPECT_FLOAT_EQ(field[2 * (1 + w * 1)], -8.0f / 9);
    EXPECT_FLOAT_EQ(field[2 * (2 + w * 2)], -8.0f / 9);
    EXPECT_EQ(field[2 * (3 + w * 2)], 0);  // edge of the quarter
    EXPECT_EQ(field[2 * (2 + w * 3)], 0);
    EXPECT_EQ(field[2 * (4 + w * 2)], 42);  // outside it
    EXPECT_EQ(field[2 * (2 + w * 4)], 42);
}

TEST(CentralDifferences, TakesUnhalvedDifferencesWithZeroOutsideTheImage) {
    ImageBase<int> image;
    image.init(3, 3, 3, 1, 2);
    for (int z = 0; z < 3; ++z) {
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                image.set(static_cast<float>(1 + x + 10 * y + 100 * z), x, y, z, 0, 0);
                image.set(-1000, x, y, z, 0, 1);
            }
        }
    }
    std::vector<float> v(81, 0);
    KVEL::centralDifferences(&image, v.data());
    const float* centre = &v[3 * 13];
    EXPECT_EQ(centre[0], 2);
    EXPECT_EQ(centre[1], 20);
    EXPECT_EQ(centre[2], 200);
    EXPECT_EQ(v[0], 2);  // (0,0,0): I(1,0,0) - 0
    EXPECT_EQ(v[1], 11);
    EXPECT_EQ(v[2], 101);
    const float* last = &v[3 * 26];  // (2,2,2): 0 - I(1,2,2)
    EXPECT_EQ(last[0], -222);
    EXPECT_EQ(last[1], -213);
    EXPECT_EQ(last[2], -123);
}

TEST(SmoothField5x5, AveragesInsideNeighboursAndSeesAlreadySmoothedOnes) {
    float field[6] = {3, 30, 0, 0, 0, 0};
    KVEL::smoothField5x5(field, 3, 1);
    EXPECT_FLOAT_EQ(field[0], 1);
    EXPECT_FLOAT_EQ(field[1], 10);
    EXPECT_FLOAT_EQ(field[2], 1.0f / 3);
    EXPECT_FLOAT_EQ(field[4], (1 + 1.0f / 3) / 3);
    EXPECT_FLOAT_EQ(field[5], (10 + 10.0f / 3) / 3);
    std::vector<float> constant(2 * 7 * 6, 2.5f);
    KVEL::smoothField5x5(constant.data(), 7, 6);
    for (float v : constant) EXPECT_FLOAT_EQ(v, 2.5f);
}

TEST(SliceToBytesResampled, StretchesTheSliceOverTheNewSize) {
    ImageBase<unsigned char> image;
    image.init(2, 2, 2, 1, 1);
    const unsigned char slice1[4] = {0, 100, 200, 250};
    for (int i = 0; i < 4; ++i) image.set(slice1[i], 4 + i);
    auto bytes = untouched(9);
    KVEL::sliceToBytesResampled(&image, 3, 3, bytes.data(), 1);
    // Positions 0, 0.4995 and 0.999 along each axis.
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 49);
    EXPECT_EQ(bytes[2], 99);
    EXPECT_EQ(bytes[6], 199);
    EXPECT_EQ(bytes[8], 249);
}

TEST(SliceToBytesResampled, RefusesSizesBelowTwoAndMissingSlices) {
    ImageBase<float> image;
    image.init(4, 4, 1, 1, 1);
    auto bytes = untouched(8);
    testing::internal::CaptureStdout();
    KVEL::sliceToBytesResampled(&image, 1, 8, bytes.data(), 0);
    KVEL::sliceToBytesResampled(&image, 4, 2, bytes.data(), 1);
    KVEL::sliceToBytesResampled(&image, 4, 2, bytes.data(), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);
    EXPECT_EQ(bytes, untouched(8));
}

TEST(ColourPicture, FourChannelsGiveThePictureOfTheirFirstThree) {
    ImageBase<unsigned char> rgba, rgb;
    rgba.m_verbose = rgb.m_verbose = 0;
    rgba.init(5, 3, 1, 1, 4);
    rgb.init(5, 3, 1, 1, 3);
    for (int p = 0; p < 15; ++p) {
        for (int c = 0; c < 4; ++c) {
            const float v = static_cast<float>((p * 37 + c * 71) % 251);
            rgba.set(v, p * 4 + c);
            if (c < 3) rgb.set(v, p * 3 + c);
        }
    }
    const std::unique_ptr<KVEL::Image> fromFour(KVEL::colourPicture(&rgba)), fromThree(KVEL::colourPicture(&rgb));
    ASSERT_TRUE(fromFour && fromThree);
    ASSERT_EQ(fromFour->m_image_size, fromThree->m_image_size);
    for (int i = 0; i < fromThree->m_image_size; ++i) EXPECT_EQ(fromFour->get(i), fromThree->get(i)) << i;
}
