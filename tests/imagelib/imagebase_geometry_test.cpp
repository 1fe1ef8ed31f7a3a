#include "imagelib/imagebase.h"
#include "imagelib/space.h"

#include "image_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

using KVEL::Image;
using KVEL::ImageBase;

namespace {

struct Extents {
    int w, h, d, t, c;
};
// Awkward sizes: single columns, odd widths, several channels and frames,
// and extents past the 32-voxel tiles of the rotation and the vector widths
// of the row loops.
const Extents kShapes[] = {{1, 1, 1, 1, 1}, {2, 3, 1, 1, 1}, {3, 2, 2, 1, 3}, {17, 5, 3, 2, 2},
                           {17, 4, 1, 1, 4}, {6, 6, 4, 1, 1}, {70, 35, 2, 1, 1}, {34, 2, 33, 1, 1},
                           {33, 3, 34, 1, 2}};

template <class T>
std::unique_ptr<ImageBase<T>> patterned(const Extents& e, unsigned seed = 1) {
    auto image = std::make_unique<ImageBase<T>>();
    image->init(e.w, e.h, e.d, e.t, e.c);
    imagetest::fillPattern(*image, seed);
    return image;
}

// Element-wise forms of the operations, through the virtual accessors.
template <class T>
std::unique_ptr<ImageBase<T>> referenceDownsample(ImageBase<T>& src, int fx, int fy, int fz, int ft) {
    auto out = std::make_unique<ImageBase<T>>();
    out->init(src.m_dim[0] / fx, src.m_dim[1] / fy, src.m_dim[2] / fz, src.m_dim[3] / ft, src.m_channels);
    for (int t = 0; t < out->m_dim[3]; ++t)
        for (int z = 0; z < out->m_dim[2]; ++z)
            for (int y = 0; y < out->m_dim[1]; ++y)
                for (int x = 0; x < out->m_dim[0]; ++x)
                    for (int c = 0; c < src.m_channels; ++c) {
                        float sum = 0;
                        for (int d = 0; d < ft; ++d)
                            for (int g = 0; g < fz; ++g)
                                for (int b = 0; b < fy; ++b)
                                    for (int a = 0; a < fx; ++a)
                                        sum += src.get(x * fx + a, y * fy + b, z * fz + g, t * ft + d, c);
                        out->set(sum / static_cast<float>(fx * fy * fz * ft), x, y, z, t, c);
                    }
    return out;
}

template <class T>
std::unique_ptr<ImageBase<T>> referenceRotate(ImageBase<T>& src, int axis) {
    const int X = src.m_dim[0], Y = src.m_dim[1], Z = src.m_dim[2];
    auto out = std::make_unique<ImageBase<T>>();
    if (axis == 0) out->init(X, Z, Y, src.m_dim[3], src.m_channels);
    if (axis == 1) out->init(Z, Y, X, src.m_dim[3], src.m_channels);
    if (axis == 2) out->init(Y, X, Z, src.m_dim[3], src.m_channels);
    for (int t = 0; t < src.m_dim[3]; ++t)
        for (int z = 0; z < Z; ++z)
            for (int y = 0; y < Y; ++y)
                for (int x = 0; x < X; ++x)
                    for (int c = 0; c < src.m_channels; ++c) {
                        // Raw copies: a rotation keeps doubles exact.
                        const T v = src.data()[c + src.m_channels * (x + X * (y + Y * (z + Z * t)))];
                        int nx = y, ny = X - 1 - x, nz = z;
                        if (axis == 0) nx = x, ny = z, nz = Y - 1 - y;
                        if (axis == 1) nx = Z - 1 - z, ny = y, nz = x;
                        out->data()[c + out->m_channels * (nx + out->m_dim[0] * (ny + out->m_dim[1] * (nz + out->m_dim[2] * t)))] = v;
                    }
    return out;
}

}  // namespace

template <class T>
class GeometryMatchesElementwise : public ::testing::Test {};
TYPED_TEST_SUITE(GeometryMatchesElementwise, imagetest::ElementTypes);

TYPED_TEST(GeometryMatchesElementwise, Downsample) {
    const int factors[][4] = {{1, 1, 1, 1}, {2, 1, 1, 1}, {1, 2, 1, 1}, {2, 2, 1, 1}, {2, 3, 1, 1}, {3, 2, 2, 1}, {1, 1, 3, 2}};
    for (const Extents& e : kShapes) {
        for (const auto& f : factors) {
            auto src = patterned<TypeParam>(e);
            src->m_verbose = 0;
            auto expected = referenceDownsample(*src, f[0], f[1], f[2], f[3]);
            std::unique_ptr<Image> copy(src->downsample(f[0], f[1], f[2], f[3], true));
            ASSERT_NE(copy, nullptr);
            EXPECT_TRUE(imagetest::sameElements(*copy, *expected)) << e.w << "x" << e.h << " by " << f[0] << f[1];
            EXPECT_EQ(src->downsample(f[0], f[1], f[2], f[3], false), nullptr);
            EXPECT_TRUE(imagetest::sameElements(*src, *expected));
        }
    }
}

// A new image keeps the source's position and axes as the in-place form
// does; only the spacing grows by the factors.
TEST(Downsample, NewImageAndInPlaceKeepPositionAndAxes) {
    ImageBase<float> src;
    src.init(7, 6, 5, 1, 1);
    src.setSpacing(0.5f, 1.5f, 2.0f, 1.0f);
    src.m_position[0] = -12.0f, src.m_position[1] = 30.5f, src.m_position[2] = 7.0f;
    const double c = std::cos(0.3), s = std::sin(0.3);
    KVEL::setDirection(src, {{{c, 0, s}, {0, 1, 0}, {-s, 0, c}}});
    ImageBase<float> inPlace;
    inPlace.init(7, 6, 5, 1, 1);
    KVEL::copyGeometry(inPlace, src);
    std::unique_ptr<Image> made(src.downsample(3, 2, 2, 1, true));
    ASSERT_NE(made, nullptr);
    ASSERT_EQ(inPlace.downsample(3, 2, 2, 1, false), nullptr);
    for (const Image* out : std::initializer_list<const Image*>{made.get(), &inPlace}) {
        EXPECT_EQ(KVEL::directionOf(*out), KVEL::directionOf(src));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(out->m_position[i], src.m_position[i]) << i;
        EXPECT_FLOAT_EQ(out->m_spacing[0], 1.5f);
        EXPECT_FLOAT_EQ(out->m_spacing[1], 3.0f);
        EXPECT_FLOAT_EQ(out->m_spacing[2], 4.0f);
    }
}

// resample2D into `out` (or a new image) against getBilinear at every output element.
template <class T, class U = T>
::testing::AssertionResult resamplesLikeLookups(ImageBase<T>& src, int width, int height,
                                               ImageBase<U>* given = nullptr) {
    std::unique_ptr<Image> created;
    Image* out = src.resample2D(width, height, given);
    if (!given) created.reset(out);
    if (!out) return ::testing::AssertionFailure() << "no result";
    ImageBase<U> expected;
    expected.init(width, height, src.m_dim[2], src.m_dim[3], 1);
    const float sx = static_cast<float>(static_cast<double>(src.m_dim[0] - 1) / (width - 1) * 0.999);
    const float sy = static_cast<float>(static_cast<double>(src.m_dim[1] - 1) / (height - 1) * 0.999);
    for (int t = 0; t < src.m_dim[3]; ++t)
        for (int z = 0; z < src.m_dim[2]; ++z)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) expected.setNext(src.getBilinear(x * sx, y * sy, z));
    return imagetest::sameElements(*out, expected) << " " << src.m_dim[0] << "x" << src.m_dim[1] << " to " << width
                                                   << "x" << height;
}

TYPED_TEST(GeometryMatchesElementwise, Resample2D) {
    const int targets[][2] = {{2, 2}, {3, 7}, {17, 2}, {5, 5}};
    for (const Extents& e : kShapes) {
        if (e.w < 2 || e.h < 2 || e.c != 1) continue;
        for (const auto& size : targets) {
            auto src = patterned<TypeParam>(e);
            EXPECT_TRUE(resamplesLikeLookups(*src, size[0], size[1]));
        }
    }
}

// Near a halving, runs of output columns lie two source elements apart and
// are blended straight from the source rows; the runs break where the step's
// excess over 2 (or shortfall) adds up to a whole element. Widths around
// twice the target give runs of every length, short ones included, and
// breaks anywhere in the row; some go into an output of another type.
TYPED_TEST(GeometryMatchesElementwise, Resample2DNearHalving) {
    for (int target = 2; target <= 140; target += target < 40 ? 1 : 7) {
        for (int width = std::max(2, 2 * target - 3); width <= 2 * target + 3; ++width) {
            auto src = patterned<TypeParam>({width, 7, 2, 2, 1}, static_cast<unsigned>(width));
            EXPECT_TRUE(resamplesLikeLookups(*src, target, 3));
            ImageBase<float> floats;
            floats.init(target, 4, 2, 2, 1);
            EXPECT_TRUE(resamplesLikeLookups(*src, target, 4, &floats));
        }
    }
}

TYPED_TEST(GeometryMatchesElementwise, Rotate) {
    for (const Extents& e : kShapes) {
        for (int axis = 0; axis < 3; ++axis) {
            auto src = patterned<TypeParam>(e);
            src->m_verbose = 0;
            auto expected = referenceRotate(*src, axis);
            src->rotate(axis);
            EXPECT_TRUE(imagetest::sameElements(*src, *expected)) << e.w << "x" << e.h << " axis " << axis;
            EXPECT_EQ(src->m_stride, expected->m_stride);
            EXPECT_EQ(src->m_slice_size, expected->m_slice_size);
        }
    }
}

// Hand-worked cases

TEST(Downsample, FiveByFourByTwoDropsTheLastColumnAndTruncatesTheMean) {
    ImageBase<short> image;
    image.init(5, 4, 1, 1, 1);
    for (int i = 0; i < 20; ++i) image.data()[i] = static_cast<short>(i);
    image.setSpacing(0.5f, 2, 3, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.downsample(2, 2, 1, 1, false), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Image downsampled, new size 2 x 2 x 1\n");
    EXPECT_EQ(image.m_dim[0], 2);
    EXPECT_EQ(image.m_dim[1], 2);
    EXPECT_EQ(image.m_stride, 2);
    EXPECT_EQ(image.m_image_size, 4);
    // Block (0..1, 0..1) holds 0, 1, 5, 6: mean 3. Block (2..3, 0..1): 2, 3, 7, 8 -> 5.
    EXPECT_EQ(image.get(0), 3);
    EXPECT_EQ(image.get(1), 5);
    EXPECT_EQ(image.get(2), 13);
    EXPECT_FLOAT_EQ(image.m_spacing[0], 1);
    EXPECT_FLOAT_EQ(image.m_spacing[1], 4);
    EXPECT_FLOAT_EQ(image.m_spacing[2], 3);
}

// Power-of-two blocks scale by the reciprocal: the same bits as dividing,
// down to sums that end up subnormal.
TEST(Downsample, TinyMeansMatchDivisionBitForBit) {
    ImageBase<float> image;
    image.m_verbose = 0;
    image.init(8, 4, 1, 1, 1);
    const float tiny[] = {1.4e-45f, 2.8e-45f, 7e-45f, 3e-39f, 1.1754942e-38f, -4.2e-45f, 1e-40f, 5.9e-39f};
    for (int i = 0; i < image.m_image_size; ++i) image.data()[i] = tiny[i % 8] * static_cast<float>(1 + i % 3);
    for (int f : {2, 4}) {
        auto expected = referenceDownsample(image, f, f, 1, 1);
        std::unique_ptr<Image> fast(image.downsample(f, f, 1, 1, true));
        EXPECT_TRUE(imagetest::sameElements(*fast, *expected)) << f;
    }
}

// Sums start from +0: a block of -0 has the mean +0.
TEST(Downsample, BlocksOfNegativeZeroMeanPositiveZero) {
    ImageBase<float> image;
    image.m_verbose = 0;
    image.init(9, 6, 2, 1, 3);
    for (int i = 0; i < image.m_image_size; ++i) image.data()[i] = i % 7 ? -0.0f : -1.5f;
    for (const auto& f : {std::array<int, 3>{1, 1, 1}, {2, 1, 1}, {1, 2, 1}, {2, 2, 1}, {2, 2, 2}}) {
        std::unique_ptr<Image> fast(image.downsample(f[0], f[1], f[2], 1, true));
        EXPECT_TRUE(imagetest::sameElements(*fast, *referenceDownsample(image, f[0], f[1], f[2], 1))) << f[0] << f[1] << f[2];
    }
}

TEST(Downsample, RefusesFactorsBelowOneAndImagesWithoutData) {
    ImageBase<short> image;
    EXPECT_EQ(image.downsample(2, 2, 1, 1, true), nullptr);
    image.init(4, 4, 1, 1, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.downsample(0, 2, 1, 1, true), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: downsampling factors must be at least 1!\n");
    EXPECT_EQ(image.m_dim[0], 4);
}

TEST(Downsample, QuietWhenNotVerbose) {
    ImageBase<short> image;
    image.init(4, 4, 1, 1, 1);
    image.m_verbose = 0;
    testing::internal::CaptureStdout();
    image.downsample(2, 2, 1, 1, false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Resample2D, CoversTheWholePictureWithRealStepFactors) {
    ImageBase<float> image;
    image.init(5, 2, 1, 1, 1);
    for (int x = 0; x < 5; ++x) {
        image.set(static_cast<float>(x), x, 0, 0, 0, 0);
        image.set(static_cast<float>(x), x, 1, 0, 0, 0);
    }
    std::unique_ptr<Image> out(image.resample2D(3, 2, nullptr));
    ASSERT_NE(out, nullptr);
    // Step 4/2 * 0.999: the last sample lies just before the last column.
    EXPECT_FLOAT_EQ(out->get(2, 0, 0, 0, 0), 2 * 1.998f);
    EXPECT_FLOAT_EQ(out->m_spacing[0], 1.998f);
    std::unique_ptr<Image> wider(image.resample2D(9, 2, nullptr));
    EXPECT_NEAR(wider->get(8, 0, 0, 0, 0), 3.996f, 1e-5);  // (4 / 8 * 0.999) * 8
}

TEST(Resample2D, RefusesSeveralChannelsAndSizesBelowTwo) {
    ImageBase<float> image;
    image.init(4, 4, 1, 1, 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.resample2D(2, 2, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Downsampling of multiple channels not implemented yet!\n");
    ImageBase<float> single;
    single.init(4, 4, 1, 1, 1);
    for (auto size : {std::pair<int, int>{1, 4}, {4, 1}, {0, 0}}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(single.resample2D(size.first, size.second, nullptr), nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: resampling needs a width and height of at least 2!\n");
    }
    ImageBase<float> column;
    column.init(1, 4, 1, 1, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(column.resample2D(3, 3, nullptr), nullptr);
    testing::internal::GetCapturedStdout();
}

TEST(Resample2D, WritesIntoAGivenImageOfAnotherTypeOrRefusesAWrongSize) {
    ImageBase<short> image;
    image.init(3, 3, 1, 1, 1);
    imagetest::fillPattern(image);
    ImageBase<float> out;
    out.init(4, 4, 1, 1, 1);
    EXPECT_EQ(image.resample2D(4, 4, &out), &out);
    EXPECT_FLOAT_EQ(out.get(0), image.get(0));
    ImageBase<float> wrong;
    wrong.init(5, 4, 1, 1, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.resample2D(4, 4, &wrong), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: output image does not have the resampled size!\n");
}

TEST(Rotate, AxisTwoOfThreeByTwoGivesTwoByThree) {
    ImageBase<int> image;
    image.init(3, 2, 1, 1, 2);
    for (int i = 0; i < 12; ++i) image.data()[i] = i;
    image.setSpacing(1, 2, 3, 4);
    testing::internal::CaptureStdout();
    image.rotate(2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Rotated image around axis 2\n");
    EXPECT_EQ(image.m_dim[0], 2);
    EXPECT_EQ(image.m_dim[1], 3);
    EXPECT_EQ(image.m_stride, 4);
    EXPECT_FLOAT_EQ(image.m_spacing[0], 2);
    // New (x, y) holds old (2 - y, x), both channels.
    EXPECT_EQ(image.get(1, 0, 0, 0, 1), 2 * (2 + 3 * 1) + 1);
    EXPECT_EQ(image.get(0, 2, 0, 0, 0), 0);
}

TEST(Rotate, RefusesAnUnknownAxis) {
    ImageBase<int> image;
    image.init(3, 2, 1, 1, 1);
    testing::internal::CaptureStdout();
    image.rotate(3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: cannot rotate around axis 3!\n");
    EXPECT_EQ(image.m_dim[0], 3);
}

TEST(PadToPowerOfTwo, ThreeByFiveBecomesFourByEightWithThePictureAtTheOrigin) {
    ImageBase<unsigned char> image;
    image.init(3, 5, 1, 2, 1);
    for (int i = 0; i < 30; ++i) image.data()[i] = static_cast<unsigned char>(i + 1);
    testing::internal::CaptureStdout();
    image.padToPowerOfTwo2D();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Scaled to power of two, new width = 4, height = 8, depth = 1\n");
    EXPECT_EQ(image.m_dim[0], 4);
    EXPECT_EQ(image.m_dim[1], 8);
    EXPECT_EQ(image.m_image_size, 64);
    EXPECT_EQ(image.get(2, 4, 0, 0, 0), 15);
    EXPECT_EQ(image.get(3, 0, 0, 0, 0), 0);
    EXPECT_EQ(image.get(0, 5, 0, 0, 0), 0);
    EXPECT_EQ(image.get(2, 4, 0, 1, 0), 30);  // later frames keep their data too
}

TEST(PadToPowerOfTwo, PowerOfTwoImageIsUntouchedAndSilent) {
    ImageBase<unsigned char> image;
    image.init(8, 8, 3, 1, 1);
    const unsigned char* before = image.data();
    testing::internal::CaptureStdout();
    image.padToPowerOfTwo2D();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(image.data(), before);
    image.padToPowerOfTwo3D();
    EXPECT_EQ(image.m_dim[2], 4);
}
