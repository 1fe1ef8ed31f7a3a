#include "imagelib/imagebase.h"

#include "image_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using KVEL::Image;
using KVEL::ImageBase;

namespace {

const float kSobel[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
const float kSobel3D[27] = {1, 1, 1, 1, 2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -2, -1, -1, -1, -1};
// Up to widths that run the vectorised row loops past their remainders.
const int kShapes[][3] = {{1, 1, 1}, {2, 2, 1}, {3, 3, 1}, {17, 5, 2}, {3, 17, 3}, {6, 7, 4}, {45, 6, 2}};
const int kOutputTypes[] = {KVEL::kGlFloat, KVEL::kGlShort, KVEL::kGlByte, KVEL::kGlDouble};

// Element-wise forms, reading through get(index) and writing with setNext.
std::unique_ptr<Image> referenceGradient(Image& src, int glType, bool keepSize) {
    std::unique_ptr<Image> out(KVEL::createImage(glType));
    const int W = src.m_dim[0], H = src.m_dim[1], e = keepSize ? 0 : 1;
    out->init(std::max(0, W - 2 * e), std::max(0, H - 2 * e), src.m_dim[2], 1, 2);
    auto at = [&](int x, int y, int z) { return src.get(x + (y + z * H) * W); };
    for (int z = 0; z < src.m_dim[2]; ++z)
        for (int y = e; y < H - e; ++y)
            for (int x = e; x < W - e; ++x) {
                float g0 = 0, g1 = 0;
                if (!(x == 0 || y == 0 || x == W - 1 || y == H - 1)) {
                    for (int row = 0; row < 3; ++row)
                        for (int col = 0; col < 3; ++col) {
                            g0 += kSobel[row * 3 + col] * at(x + col - 1, y + row - 1, z);
                            g1 += kSobel[row * 3 + col] * at(x + row - 1, y + col - 1, z);
                        }
                }
                out->setNext(g0);
                out->setNext(g1);
            }
    return out;
}

std::unique_ptr<Image> referenceHessianOfGradient(Image& g, int glType) {
    std::unique_ptr<Image> out(KVEL::createImage(glType));
    const int W = g.m_dim[0], H = g.m_dim[1], ch = g.m_channels;
    out->init(W, H, g.m_dim[2], 1, 3);
    auto at = [&](int c, int x, int y, int z) { return g.get(c + ch * (x + W * (y + H * z))); };
    for (int z = 0; z < g.m_dim[2]; ++z)
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                float h0 = 0, h1 = 0, h2 = 0;
                if (x >= 1 && x <= W - 2 && y >= 1 && y <= H - 2) {
                    for (int row = 0; row < 3; ++row)
                        for (int col = 0; col < 3; ++col) {
                            const float k = kSobel[row * 3 + col];
                            h0 += k * at(0, x + col - 1, y + row - 1, z);
                            h1 += k * at(0, x + row - 1, y + col - 1, z);
                            h2 += k * at(1, x + row - 1, y + col - 1, z);
                        }
                }
                out->setNext(h0);
                out->setNext(h1);
                out->setNext(h2);
            }
    return out;
}

std::unique_ptr<Image> referenceGradient3D(Image& src, int glType, bool keepSize, bool append) {
    std::unique_ptr<Image> out(KVEL::createImage(glType));
    const int W = src.m_dim[0], H = src.m_dim[1], D = src.m_dim[2], g = keepSize ? 0 : 1;
    out->init(std::max(0, W - 2 * g), std::max(0, H - 2 * g), std::max(0, D - 2 * g), 1, append ? 4 : 3);
    const float lo = glType == KVEL::kGlByte ? -128.f : -32768.f, hi = glType == KVEL::kGlByte ? 127.f : 32767.f;
    const bool clip = glType == KVEL::kGlByte || glType == KVEL::kGlShort;
    auto e = [&](int x, int y, int z) { return src.get(x + (y + z * H) * W); };
    for (int z = g; z < D - g; ++z)
        for (int y = g; y < H - g; ++y)
            for (int x = g; x < W - g; ++x) {
                float t = 0, u = 0, v = 0;
                if (!(x == 0 || y == 0 || z == 0 || x == W - 1 || y == H - 1 || z == D - 1)) {
                    for (int a = 0; a < 3; ++a)
                        for (int b = 0; b < 3; ++b)
                            for (int c = 0; c < 3; ++c) {
                                const float k = kSobel3D[(a * 3 + b) * 3 + c];
                                t += k * e(x + c - 1, y + b - 1, z + a - 1);
                                u += k * e(x + c - 1, y + a - 1, z + b - 1);
                                v += k * e(x + a - 1, y + b - 1, z + c - 1);
                            }
                }
                for (float s : {v, u, t}) out->setNext(clip ? std::min(std::max(s, lo), hi) : s);
                if (append) out->setNext(e(x, y, z));
            }
    return out;
}

template <class T>
std::unique_ptr<ImageBase<T>> patterned(int w, int h, int d) {
    auto image = std::make_unique<ImageBase<T>>();
    image->init(w, h, d, 1, 1);
    imagetest::fillPattern(*image, 7);
    image->m_verbose = 0;
    return image;
}

}  // namespace

template <class T>
class FiltersMatchElementwise : public ::testing::Test {};
TYPED_TEST_SUITE(FiltersMatchElementwise, imagetest::ElementTypes);

TYPED_TEST(FiltersMatchElementwise, GradientAndHessian) {
    for (const auto& s : kShapes) {
        for (int type : kOutputTypes) {
            for (bool keepSize : {false, true}) {
                auto src = patterned<TypeParam>(s[0], s[1], s[2]);
                std::unique_ptr<Image> fast(src->gradient(type, nullptr, keepSize, nullptr));
                ASSERT_NE(fast, nullptr);
                EXPECT_TRUE(imagetest::sameElements(*fast, *referenceGradient(*src, type, keepSize)))
                    << s[0] << "x" << s[1] << " keep " << keepSize;
            }
            auto gradient = patterned<float>(s[0], s[1], s[2]);
            std::unique_ptr<Image> twoChannels(gradient->gradient(0, kSobel, true, nullptr));
            std::unique_ptr<Image> hessian(twoChannels->hessian(type, nullptr, nullptr));
            ASSERT_NE(hessian, nullptr);
            EXPECT_TRUE(imagetest::sameElements(*hessian, *referenceHessianOfGradient(*twoChannels, type)));
        }
    }
}

TYPED_TEST(FiltersMatchElementwise, Gradient3D) {
    for (const auto& s : kShapes) {
        for (int type : kOutputTypes) {
            for (bool keepSize : {false, true}) {
                for (bool append : {false, true}) {
                    auto src = patterned<TypeParam>(s[0], s[1], s[2]);
                    std::unique_ptr<Image> fast(src->gradient3D(type, nullptr, keepSize, append, nullptr));
                    ASSERT_NE(fast, nullptr);
                    EXPECT_TRUE(imagetest::sameElements(*fast, *referenceGradient3D(*src, type, keepSize, append)))
                        << s[0] << "x" << s[1] << "x" << s[2] << " keep " << keepSize << " append " << append;
                }
            }
        }
    }
}

// A given output is written in full, over whatever it held.
TEST(Filter, GivenOutputIsOverwrittenEverywhere) {
    const float kernel[25] = {0.5f, 1, 0, 2, -1, 1, 1, 1, 1, 1, 0, 0, 3, 0, 0, 1, 1, 1, 1, 1, -2, 1, 0, 1, 0.25f};
    for (const auto& s : kShapes) {
        for (int size : {3, 5}) {
            auto src = patterned<float>(s[0], s[1], s[2]);
            ImageBase<float> out;
            out.init(s[0], s[1], s[2], 1, 1);
            std::fill(out.data(), out.data() + out.m_image_size, 77.0f);
            ASSERT_EQ(src->filter(0, kernel, size, &out), &out);
            const std::unique_ptr<Image> fresh(src->filter(0, kernel, size, nullptr));
            EXPECT_TRUE(imagetest::sameElements(out, *fresh))
                << s[0] << "x" << s[1] << " size " << size;
        }
    }
}

// Hand-worked cases

TEST(Filter, BoxKernelOnAConstantImageLeavesTheOuterFrameZero) {
    ImageBase<float> image;
    image.init(7, 7, 1, 1, 1);
    for (int i = 0; i < 49; ++i) image.set(9, i);
    const std::vector<float> box3(9, 1.0f / 9);
    std::unique_ptr<Image> out(image.filter(0, box3.data(), 3, nullptr));
    EXPECT_NEAR(out->get(3, 3, 0, 0, 0), 9, 1e-5);
    EXPECT_EQ(out->get(0, 3, 0, 0, 0), 0);
    EXPECT_EQ(out->get(6, 6, 0, 0, 0), 0);
    const std::vector<float> box5(25, 1.0f / 25);
    std::unique_ptr<Image> wide(image.filter(0, box5.data(), 5, nullptr));
    EXPECT_NEAR(wide->get(1, 3, 0, 0, 0), 9, 1e-5);  // second ring copies the third
    EXPECT_NEAR(wide->get(1, 1, 0, 0, 0), 9, 1e-5);
    EXPECT_EQ(wide->get(0, 3, 0, 0, 0), 0);
    EXPECT_EQ(wide->m_channel_windows[0].low, 0);
}

TEST(Filter, RefusesEvenSizesMissingKernelsAndUnsignedTypes) {
    ImageBase<float> image;
    image.init(4, 4, 1, 1, 1);
    const float k[16] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.filter(0, k, 4, nullptr), nullptr);
    EXPECT_EQ(image.filter(0, nullptr, 3, nullptr), nullptr);
    EXPECT_EQ(image.filter(KVEL::kGlUnsignedShort, k, 3, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: Window size must be an odd number!\n"
              "Error: Cannot compute filtered image without filter!\n"
              "Error: unsigned data type, cannot compute filtered image!\n");
}

TEST(ExtendBorder, CopiesInnerRowsOutwardButKeepsTheOutermost) {
    ImageBase<int> image;
    image.init(6, 6, 1, 1, 1);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) image.set(static_cast<float>(x + 10 * y), x, y, 0, 0, 0);
    image.extendBorder(2);
    EXPECT_EQ(image.get(1, 3, 0, 0, 0), 32);
    EXPECT_EQ(image.get(4, 3, 0, 0, 0), 33);
    EXPECT_EQ(image.get(3, 1, 0, 0, 0), 23);
    EXPECT_EQ(image.get(1, 1, 0, 0, 0), 22);
    EXPECT_EQ(image.get(0, 3, 0, 0, 0), 30);
    ImageBase<int> tiny;
    tiny.init(2, 2, 1, 1, 1);
    tiny.extendBorder(5);  // wider than the image: nothing outside it is touched
}

TEST(Gradient, RampInXGivesMinusEightInChannelOne) {
    ImageBase<float> image;
    image.init(10, 10, 1, 1, 1);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) image.set(static_cast<float>(x), x, y, 0, 0, 0);
    std::unique_ptr<Image> g(image.gradient(0, nullptr, false, nullptr));
    EXPECT_EQ(g->m_dim[0], 8);
    EXPECT_EQ(g->m_dim[1], 8);
    EXPECT_EQ(g->m_channels, 2);
    EXPECT_EQ(g->get(3, 3, 0, 0, 0), 0);
    EXPECT_EQ(g->get(3, 3, 0, 0, 1), -8);
    EXPECT_EQ(g->m_channel_windows[1].low, -8);
    EXPECT_EQ(g->m_channel_windows[0].high, 0);
}

TEST(Gradient, UnsignedSourceRefusesItsOwnTypeButWorksIntoFloat) {
    ImageBase<unsigned char> image;
    image.init(5, 5, 1, 1, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(image.gradient(0, nullptr, true, nullptr), nullptr);
    EXPECT_EQ(image.hessian(0, nullptr, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: unsigned data type, cannot compute gradient!\n"
              "Error: unsigned data type, cannot compute hessian!\n");
    std::unique_ptr<Image> g(image.gradient(KVEL::kGlFloat, nullptr, true, nullptr));
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(KVEL::glTypeOf(g.get()), KVEL::kGlFloat);
}

TEST(Hessian, OneChannelSourceGivesThreeChannelsWithZeroBorder) {
    ImageBase<float> image;
    image.init(6, 5, 1, 1, 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) image.set(static_cast<float>(x * x), x, y, 0, 0, 0);
    image.setSpacing(2, 3, 1, 1);
    std::unique_ptr<Image> h(image.hessian(0, nullptr, nullptr));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->m_channels, 3);
    EXPECT_EQ(h->m_dim[0], 6);
    EXPECT_EQ(h->m_spacing[1], 3);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(h->get(0, 2, 0, 0, c), 0);
    // The transposed kernel turns x*x into -16x, and that into +128.
    EXPECT_EQ(h->get(2, 2, 0, 0, 2), 128);
}

TEST(Gradient3D, RampInXGivesMinusTwentyInV) {
    ImageBase<float> image;
    image.init(10, 10, 10, 1, 1);
    for (int i = 0; i < 1000; ++i) image.set(static_cast<float>(i % 10), i);
    image.setRange(0, 9, 0);
    testing::internal::CaptureStdout();
    std::unique_ptr<Image> g(image.gradient3D(0, nullptr, false, true, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Computing 3D gradient...\nDone. Range = [-20..0]\n");
    EXPECT_EQ(g->m_dim[0], 8);
    EXPECT_EQ(g->m_dim[2], 8);
    EXPECT_EQ(g->m_channels, 4);
    EXPECT_EQ(g->get(4, 4, 4, 0, 0), -20);
    EXPECT_EQ(g->get(4, 4, 4, 0, 1), 0);
    EXPECT_EQ(g->get(4, 4, 4, 0, 2), 0);
    EXPECT_EQ(g->get(4, 4, 4, 0, 3), 5);  // the source value at x = 5
    EXPECT_EQ(g->m_channel_windows[3].high, 9);
}

TEST(Gradient3D, ByteOutputClipsSteepRampsAndCountsThem) {
    ImageBase<float> image;
    image.init(4, 3, 3, 1, 1);
    for (int i = 0; i < 36; ++i) image.set(static_cast<float>((i % 4) * 100), i);
    testing::internal::CaptureStdout();
    std::unique_ptr<Image> g(image.gradient3D(KVEL::kGlByte, nullptr, false, false, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Computing 3D gradient...\nDone. Range = [-128..0]\nWarning: 2 values exceeded.\n");
    EXPECT_EQ(g->get(0), -128);
}
