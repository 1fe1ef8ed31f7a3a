#include "imagelib/edges.h"

#include "imagelib/detail/edge_direction.h"

#include "random_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

using KVEL::Image;
using KVEL::ImageBase;

namespace {

std::unique_ptr<ImageBase<float>> picture(int w, int h, const std::function<float(int, int)>& value) {
    auto image = std::make_unique<ImageBase<float>>();
    image->init(w, h, 1, 1, 1);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image->set(value(x, y), x, y, 0, 0, 0);
    }
    return image;
}

std::vector<unsigned char> edges2D(Image& image, float low) {
    std::vector<unsigned char> map(static_cast<std::size_t>(image.width()) * image.height(), 77);
    EXPECT_EQ(KVEL::detectEdges2D(&image, low, map.data()), 0);
    return map;
}

// The three steps written out plainly: kernel loops, atan2 sectors, one
// hysteresis pass.
std::vector<unsigned char> referenceEdges2D(Image& image, float low) {
    const int w = image.width(), h = image.height();
    const float k[3][3] = {{1, 2, 1}, {0, 0, 0}, {-1, -2, -1}};
    std::vector<float> gA(w * h, 0), gB(w * h, 0), m(w * h, 0), s(w * h, 0);
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            float a = 0, b = 0;
            for (int row = 0; row < 3; ++row) {
                for (int col = 0; col < 3; ++col) {
                    if (k[row][col] == 0) continue;
                    a += k[row][col] * image.get(x + col - 1, y + row - 1, 0, 0, 0);
                    b += k[row][col] * image.get(x + row - 1, y + col - 1, 0, 0, 0);
                }
            }
            gA[x + w * y] = a / 9;
            gB[x + w * y] = b / 9;
            m[x + w * y] = std::sqrt(gA[x + w * y] * gA[x + w * y] + gB[x + w * y] * gB[x + w * y]);
        }
    }
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            const int i = x + w * y;
            double angle = std::atan2(static_cast<double>(gA[i]), static_cast<double>(gB[i])) * 180 /
                           3.141592653589793;
            if (angle < 0) angle += 180;
            int o;
            if (angle < 22.5 || angle >= 157.5) o = 1;
            else if (angle < 67.5) o = w + 1;
            else if (angle < 112.5) o = w;
            else o = w - 1;
            s[i] = (m[i] < m[i + o] || m[i] < m[i - o]) ? 0 : m[i];
        }
    }
    std::vector<unsigned char> map(w * h, 0);
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            const float v = s[x + w * y];
            if (v < low) continue;
            bool edge = v >= 3 * low;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if ((dx || dy) && s[x + dx + w * (y + dy)] > 3 * low) edge = true;
                }
            }
            map[x + w * y] = edge ? 255 : 0;
        }
    }
    return map;
}

// Columns (or rows) that carry an edge pixel in row (or column) `at`.
std::vector<int> edgePositions(const std::vector<unsigned char>& map, int w, int h, bool alongRow, int at) {
    std::vector<int> positions;
    const int n = alongRow ? w : h;
    for (int i = 0; i < n; ++i) {
        if (map[alongRow ? i + w * at : at + w * i] == 255) positions.push_back(i);
    }
    return positions;
}

}  // namespace

// The comparison shortcut must pick the atan2 sector for every gradient,
// right up to the float values on either side of each sector limit.
TEST(EdgeDirection, ShortcutAgreesWithAngleRuleAtSectorLimitsAndSpecialValues) {
    using KVEL::directionByAngle;
    using KVEL::gradientDirection;
    for (double limit : {22.5, 67.5, 112.5, 157.5, -22.5, -67.5, -112.5, -157.5}) {
        for (double length : {1e-30, 1e-3, 1.0, 3e4, 1e30}) {
            const double a = limit * 3.141592653589793 / 180;
            float y = static_cast<float>(length * std::sin(a));
            const float x = static_cast<float>(length * std::cos(a));
            for (int i = 0; i < 40; ++i) y = std::nextafter(y, -std::numeric_limits<float>::infinity());
            for (int i = 0; i < 80; ++i, y = std::nextafter(y, std::numeric_limits<float>::infinity())) {
                ASSERT_EQ(gradientDirection(y, x), directionByAngle(y, x)) << y << " " << x;
            }
        }
    }
    const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
    const float special[] = {0.0f, -0.0f, 1.0f, -1.0f, inf, -inf, nan, 1e-45f, -1e-45f, 3e38f};
    for (float y : special) {
        for (float x : special) EXPECT_EQ(gradientDirection(y, x), directionByAngle(y, x)) << y << " " << x;
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<float> component(-100, 100);
    for (int i = 0; i < 100000; ++i) {
        const float y = component(random), x = component(random);
        ASSERT_EQ(gradientDirection(y, x), directionByAngle(y, x)) << y << " " << x;
    }
}

TEST(DetectEdges2D, StepEdgeGivesLineOnItsTwoTiedMiddlePixelsAndNothingOnTheBorder) {
    auto image = picture(8, 10, [](int x, int) { return x < 4 ? 0.0f : 100.0f; });
    const auto map = edges2D(*image, 1);
    for (int y = 0; y < 10; ++y) {
        const std::vector<int> expected = (y == 0 || y == 9) ? std::vector<int>{} : std::vector<int>{3, 4};
        EXPECT_EQ(edgePositions(map, 8, 10, true, y), expected) << "row " << y;
    }
}

TEST(DetectEdges2D, VerticalAndHorizontalEdgesOfEqualContrastGiveEqualLines) {
    auto vertical = picture(12, 12, [](int x, int) { return x < 6 ? 10.0f : 60.0f; });
    auto horizontal = picture(12, 12, [](int, int y) { return y < 6 ? 10.0f : 60.0f; });
    const auto v = edges2D(*vertical, 1);
    const auto h = edges2D(*horizontal, 1);
    for (int i = 1; i < 11; ++i) {
        EXPECT_EQ(edgePositions(v, 12, 12, true, i), (std::vector<int>{5, 6}));
        EXPECT_EQ(edgePositions(h, 12, 12, false, i), (std::vector<int>{5, 6}));
    }
}

// A soft edge (peak difference at x = 5) has one magnitude peak across it: suppression along the
// gradient keeps that pixel only, whichever way the edge runs.
TEST(DetectEdges2D, BlurredEdgeGivesOnePixelLineAcrossIt) {
    const float profile[12] = {0, 0, 0, 0, 10, 30, 80, 95, 100, 100, 100, 100};
    auto vertical = picture(12, 9, [&](int x, int) { return profile[x]; });
    auto horizontal = picture(9, 12, [&](int, int y) { return profile[y]; });
    const auto v = edges2D(*vertical, 2);
    const auto h = edges2D(*horizontal, 2);
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(edgePositions(v, 12, 9, true, i), (std::vector<int>{5})) << i;
        EXPECT_EQ(edgePositions(h, 9, 12, false, i), (std::vector<int>{5})) << i;
    }
}

TEST(DetectEdges2D, DiagonalStepGivesLineAlongTheDiagonal) {
    auto image = picture(10, 10, [](int x, int y) { return x > y ? 100.0f : 0.0f; });
    const auto map = edges2D(*image, 1);
    for (int y = 1; y < 8; ++y) EXPECT_EQ(edgePositions(map, 10, 10, true, y), (std::vector<int>{y, y + 1})) << y;
    EXPECT_EQ(edgePositions(map, 10, 10, true, 8), (std::vector<int>{8}));
}

TEST(DetectEdges2D, LowThresholdAboveEveryMagnitudeGivesEmptyMap) {
    auto image = picture(8, 8, [](int x, int) { return x < 4 ? 0.0f : 100.0f; });
    const auto map = edges2D(*image, 50);
    EXPECT_EQ(map, std::vector<unsigned char>(64, 0));
}

// Right half 100 in rows 0..5 and 40 below: magnitudes 44.4 above and 17.8
// below. With low 10 (high 30) the weak part survives only in row 7, next to
// the strong transition row 6; rows 8..10 stay empty. With low 15 nothing
// is strong, so nothing at all is an edge.
TEST(DetectEdges2D, WeakPixelsAreEdgesOnlyNextToStrongOnes) {
    auto image = picture(8, 12, [](int x, int y) { return x < 4 ? 0.0f : (y < 6 ? 100.0f : 40.0f); });
    const auto map = edges2D(*image, 10);
    EXPECT_EQ(edgePositions(map, 8, 12, true, 2), (std::vector<int>{3, 4}));
    EXPECT_EQ(edgePositions(map, 8, 12, true, 7), (std::vector<int>{3, 4}));
    for (int y = 8; y < 12; ++y) EXPECT_TRUE(edgePositions(map, 8, 12, true, y).empty()) << y;
    EXPECT_EQ(edges2D(*image, 15), std::vector<unsigned char>(96, 0));
}

TEST(DetectEdges2D, PicturesSmallerThan3x3AreAllBorder) {
    for (auto [w, h] : {std::pair{1, 1}, {2, 5}, {5, 2}, {1, 7}}) {
        auto image = picture(w, h, [](int x, int y) { return static_cast<float>(x * 50 + y * 70); });
        EXPECT_EQ(edges2D(*image, 0), std::vector<unsigned char>(w * h, 0)) << w << "x" << h;
    }
}

TEST(DetectEdges2D, RefusesMissingDataOrMap) {
    ImageBase<float> empty;
    unsigned char map[4];
    testing::internal::CaptureStdout();
    EXPECT_EQ(KVEL::detectEdges2D(&empty, 1, map), 1);
    auto image = picture(4, 4, [](int, int) { return 0.0f; });
    EXPECT_EQ(KVEL::detectEdges2D(image.get(), 1, nullptr), 1);
    EXPECT_EQ(KVEL::detectEdges2D(nullptr, 1, map), 1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("edge detection needs"), std::string::npos);
}

// The detector classifies directions by comparisons and reads rows through
// typed pointers; it must agree with the plain formulation everywhere,
// including channel 0 of interleaved images and every element type.
TEST(DetectEdges2D, MatchesPlainReferenceOnRandomImagesOfEveryType) {
    unsigned seed = 1;
    for (int type : imagetest::kAllElementTypes) {
        for (auto [w, h] : {std::pair{1, 4}, {2, 3}, {3, 3}, {17, 5}, {31, 23}}) {
            for (int channels : {1, 3}) {
                auto image = imagetest::randomImage(type, w, h, 1, channels, seed++, 0, 120);
                for (float low : {0.5f, 4.0f, 0.0f, -1.0f}) {
                    EXPECT_EQ(edges2D(*image, low), referenceEdges2D(*image, low))
                        << "type " << type << " " << w << "x" << h << " channels " << channels;
                }
            }
        }
    }
}

// Values whose sums overflow, vanish or are not numbers, scattered among
// ordinary ones, on rows long enough for the vector columns and a remainder.
TEST(DetectEdges2D, MatchesReferenceWithNonFiniteHugeAndTinyValues) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const float special[] = {inf, -inf, nan, -0.0f, 3e38f, -3e38f, 1e-40f, -1e-45f, 1e-30f};
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        auto image = picture(29, 9, [&](int, int) {
            const unsigned pick = random() % 24;
            return pick < 9 ? special[pick] : static_cast<float>(random() % 200);
        });
        for (float low : {0.5f, 20.0f}) EXPECT_EQ(edges2D(*image, low), referenceEdges2D(*image, low)) << round;
    }
}

// Ridges whose gradient lies within rounding of a sector limit (22.5, 67.5,
// 112.5 and 157.5 degrees) take the exact angle rule.
TEST(DetectEdges2D, MatchesReferenceForGradientsAtSectorLimits) {
    for (double limit : {22.5, 67.5, 112.5, 157.5}) {
        for (double nudge : {-1e-4, 0.0, 1e-4}) {
            const double a = (limit + nudge) * 3.141592653589793 / 180;
            auto image = picture(24, 24, [&](int x, int y) {
                const double t = std::cos(a) * (x - 12) - std::sin(a) * (y - 12);
                return static_cast<float>(100 * std::exp(-t * t / 8));
            });
            EXPECT_EQ(edges2D(*image, 0.5f), referenceEdges2D(*image, 0.5f)) << limit << " " << nudge;
        }
    }
}

namespace {

// An 8x8x8 volume whose value rises along x as `profile` gives.
std::unique_ptr<ImageBase<unsigned short>> ramp3D(const std::vector<unsigned short>& profile) {
    const int w = static_cast<int>(profile.size());
    auto volume = std::make_unique<ImageBase<unsigned short>>();
    volume->m_verbose = 0;
    volume->init(w, 8, 8, 1, 1);
    for (int z = 0; z < 8; ++z) {
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < w; ++x) volume->set(profile[x], x, y, z, 0, 0);
        }
    }
    return volume;
}

}  // namespace

// x-derivatives: 1000 at x = 3 (strong, a clear peak) and 300 at x = 8
// (weak, with no strong neighbour). Only the interior of plane x = 3 becomes
// 4095, on an unsigned volume; the border never does.
TEST(DetectEdges3D, MarksStrongPeakPlaneOnlyAndKeepsOtherVoxels) {
    const std::vector<unsigned short> profile = {0, 0, 0, 50, 100, 100, 100, 100, 115, 130, 130, 130};
    auto volume = ramp3D(profile);
    EXPECT_EQ(KVEL::detectEdges3D(volume.get(), 200), 0);
    for (int z = 0; z < 8; ++z) {
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 12; ++x) {
                const bool edge = x == 3 && y > 0 && y < 7 && z > 0 && z < 7;
                EXPECT_EQ(volume->get(x, y, z, 0, 0), edge ? 4095.0f : profile[x]) << x << " " << y << " " << z;
            }
        }
    }
}

TEST(DetectEdges3D, PrintsItsStepsWhileVerbose) {
    auto volume = ramp3D({0, 0, 0, 100, 100, 100});
    volume->m_verbose = 1;
    testing::internal::CaptureStdout();
    KVEL::detectEdges3D(volume.get(), 10);
    const std::string out = testing::internal::GetCapturedStdout();
    const auto magnitude = out.find("computing Gradient Magnitude...\n");
    const auto suppression = out.find("computing Suppression...\n");
    const auto hysteresis = out.find("computing Hysteresis...\n");
    ASSERT_NE(magnitude, std::string::npos);
    ASSERT_NE(suppression, std::string::npos);
    ASSERT_NE(hysteresis, std::string::npos);
    EXPECT_LT(magnitude, suppression);
    EXPECT_LT(suppression, hysteresis);
}

TEST(DetectEdges3D, RefusesVolumesSmallerThan3x3x3OrWithSeveralChannels) {
    testing::internal::CaptureStdout();
    for (auto [w, h, d, c] : {std::tuple{2, 8, 8, 1}, {8, 8, 2, 1}, {8, 1, 8, 1}, {4, 4, 4, 2}}) {
        ImageBase<short> volume;
        volume.init(w, h, d, 1, c);
        EXPECT_EQ(KVEL::detectEdges3D(&volume, 1), 1);
    }
    ImageBase<short> empty;
    EXPECT_EQ(KVEL::detectEdges3D(&empty, 1), 1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("at least 3x3x3"), std::string::npos);
}

namespace {

std::unique_ptr<ImageBase<float>> tensorOf(const std::vector<float>& entries) {
    auto tensor = std::make_unique<ImageBase<float>>();
    tensor->init(static_cast<int>(entries.size() / 3), 1, 1, 1, 3);
    tensor->resetIteration();
    for (float e : entries) tensor->setNext(e);
    return tensor;
}

std::unique_ptr<ImageBase<float>> pairs(int n) {
    auto image = std::make_unique<ImageBase<float>>();
    image->init(n, 1, 1, 1, 2);
    return image;
}

std::vector<float> valuesOf(ImageBase<float>& image) {
    return std::vector<float>(image.data(), image.data() + image.m_image_size);
}

}  // namespace

TEST(EigenDecompose2x2, GivesEigenvaluesLargerFirstWithUnitVectorAndNormal) {
    auto tensor = tensorOf({2, 0, 1, 1, 0, 1, 3, 1, 3});
    auto values = pairs(3), vectors = pairs(3), normals = pairs(3);
    KVEL::eigenDecompose2x2(tensor.get(), values.get(), vectors.get(), normals.get());
    const std::vector<float> v = valuesOf(*values);
    EXPECT_FLOAT_EQ(v[0], 2);
    EXPECT_FLOAT_EQ(v[1], 1);
    EXPECT_FLOAT_EQ(v[2], 1);
    EXPECT_FLOAT_EQ(v[3], 1);
    EXPECT_FLOAT_EQ(v[4], 4);
    EXPECT_FLOAT_EQ(v[5], 2);
    const std::vector<float> e = valuesOf(*vectors), n = valuesOf(*normals);
    EXPECT_EQ(e[0], -1);  // (2, 0, 1): the x axis belongs to eigenvalue 2
    EXPECT_EQ(e[1], 0);
    EXPECT_EQ(e[2], 0);  // (1, 0, 1): equal eigenvalues, no direction
    EXPECT_EQ(e[3], 0);
    EXPECT_FLOAT_EQ(e[4], -std::sqrt(0.5f));  // (3, 1, 3): the diagonal belongs to 4
    EXPECT_FLOAT_EQ(e[5], -std::sqrt(0.5f));
    EXPECT_EQ(n[0], 0);
    EXPECT_EQ(n[1], 1);
    EXPECT_FLOAT_EQ(n[4], -std::sqrt(0.5f));
    EXPECT_FLOAT_EQ(n[5], std::sqrt(0.5f));
}

TEST(EigenDecompose2x2, SetsRangesAndReturnsTheLastOutputsMaximum) {
    auto tensor = tensorOf({2, 0, 1, 5, 0, -1});
    auto values = pairs(2), vectors = pairs(2);
    EXPECT_FLOAT_EQ(KVEL::eigenDecompose2x2(tensor.get(), values.get(), nullptr, nullptr), 5);
    EXPECT_FLOAT_EQ(values->m_channel_windows[1].low, -1);
    EXPECT_FLOAT_EQ(values->m_channel_windows[1].high, 5);
    EXPECT_FLOAT_EQ(KVEL::eigenDecompose2x2(tensor.get(), values.get(), vectors.get(), nullptr), 0);
}

TEST(EigenDecompose2x2, TensorWithoutThreeChannelsIsLeftAloneAndGivesItsChannelCount) {
    auto notTensor = pairs(2);
    auto values = pairs(2);
    values->data()[0] = 42;
    EXPECT_EQ(KVEL::eigenDecompose2x2(notTensor.get(), values.get(), nullptr, nullptr), 2);
    EXPECT_EQ(values->data()[0], 42);
}

TEST(EigenDecompose2x2, StopsAtTheEndOfASmallerOutput) {
    auto tensor = tensorOf({2, 0, 1, 1, 0, 1, 3, 1, 3});
    auto values = pairs(1);
    KVEL::eigenDecompose2x2(tensor.get(), values.get(), nullptr, nullptr);
    EXPECT_FLOAT_EQ(values->data()[0], 2);
    EXPECT_FLOAT_EQ(values->data()[1], 1);
}

TEST(GaussianKernel, IsNormalisedSymmetricAndPeaksInTheCentre) {
    std::unique_ptr<float[]> k(KVEL::gaussianKernel(3, 3, 1));
    ASSERT_TRUE(k);
    float sum = 0;
    for (int i = 0; i < 9; ++i) sum += k[i];
    EXPECT_NEAR(sum, 1, 1e-6);
    for (int i = 0; i < 9; ++i) {
        EXPECT_FLOAT_EQ(k[i], k[8 - i]);
        if (i != 4) {
            EXPECT_LT(k[i], k[4]);
        }
    }
    EXPECT_FLOAT_EQ(k[1], k[3]);
    EXPECT_NEAR(k[4] / k[1], std::exp(0.5f), 1e-5);
}

TEST(GaussianKernel, EvenSizesCentreBetweenEntries) {
    std::unique_ptr<float[]> k(KVEL::gaussianKernel(2, 4, 1.5f));
    ASSERT_TRUE(k);
    for (int j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(k[j], k[4 + j]);
    EXPECT_FLOAT_EQ(k[0], k[3]);
    EXPECT_FLOAT_EQ(k[1], k[2]);
    EXPECT_LT(k[0], k[1]);
}

TEST(GaussianKernel, RefusesEmptySizesAndZeroSigma) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(KVEL::gaussianKernel(0, 3, 1), nullptr);
    EXPECT_EQ(KVEL::gaussianKernel(3, -1, 1), nullptr);
    EXPECT_EQ(KVEL::gaussianKernel(3, 3, 0), nullptr);
    EXPECT_EQ(KVEL::gaussianKernel(2, 2, 1e-30f), nullptr);  // every entry underflows
    EXPECT_EQ(KVEL::gaussianKernel(3, 3, std::nanf("")), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Gaussian kernel"), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 5);
}
