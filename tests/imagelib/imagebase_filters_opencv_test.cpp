// filter against OpenCV's filter2D (correlation about the kernel's centre):
// every element type in, float and integer types out, sparse and dense
// kernels, slice by slice. Inside the frame the kernel reaches over, the
// values agree to rounding (those an integer output type holds); the frame itself is the nearest inner row or
// column except the outermost ring, which stays 0.

#include "imagelib/imagebase.h"

#include "image_fill.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

template <class Out>
bool holds(double v) {
    return v >= std::numeric_limits<Out>::lowest() && v <= std::numeric_limits<Out>::max();
}

// Where the frame of width r takes its value from: the nearest inner index.
int inner(int i, int n, int r) { return std::min(std::max(i, r), n - 1 - r); }

}  // namespace

template <class T>
class FilterAgainstOpenCV : public ::testing::Test {};
TYPED_TEST_SUITE(FilterAgainstOpenCV, imagetest::ElementTypes);

TYPED_TEST(FilterAgainstOpenCV, InsideAndOnTheFrame) {
    std::vector<float> dense(25), sparse(25);
    for (int i = 0; i < 25; ++i) {
        dense[i] = 0.1f * static_cast<float>(i) - 1.25f;
        sparse[i] = i % 3 == 0 ? 0.0f : dense[i];
    }
    for (auto [w, h, d] : {std::tuple{3, 3, 1}, {17, 5, 2}, {3, 17, 3}, {45, 6, 2}, {70, 9, 1}}) {
        KVEL::ImageBase<TypeParam> src;
        src.m_verbose = 0;
        src.init(w, h, d, 1, 1);
        imagetest::fillPattern(src, 7);
        for (int size : {1, 3, 5}) {
            const int r = size / 2;
            if (w < size || h < size) continue;
            for (const std::vector<float>* full : {&sparse, &dense}) {
                cv::Mat kernel(size, size, CV_64F);
                std::vector<float> k;
                for (int l = 0; l < size; ++l)
                    for (int m = 0; m < size; ++m) {
                        k.push_back((*full)[l * 5 + m]);
                        kernel.at<double>(l, m) = k.back();
                    }
                for (int type : {KVEL::kGlFloat, KVEL::kGlDouble, KVEL::kGlShort, KVEL::kGlByte}) {
                    std::unique_ptr<KVEL::Image> out(src.filter(type, k.data(), size, nullptr));
                    ASSERT_TRUE(out);
                    double low = std::numeric_limits<double>::infinity(), high = -low;
                    for (int z = 0; z < d; ++z) {
                        cv::Mat slice(h, w, CV_64F), peer;
                        for (int y = 0; y < h; ++y)
                            for (int x = 0; x < w; ++x) slice.at<double>(y, x) = src.get(x, y, z, 0, 0);
                        cv::filter2D(slice, peer, CV_64F, kernel, cv::Point(-1, -1), 0, cv::BORDER_CONSTANT);
                        for (int y = 0; y < h; ++y)
                            for (int x = 0; x < w; ++x) {
                                const float got = out->get(x, y, z, 0, 0);
                                const bool edge = r > 0 && (x == 0 || y == 0 || x == w - 1 || y == h - 1);
                                const double v = peer.at<double>(inner(y, h, r), inner(x, w, r));
                                const double expected = edge ? 0 : v;
                                low = std::min(low, expected);
                                high = std::max(high, expected);
                                // How values beyond an integer type are stored is not this test's concern.
                                if (type == KVEL::kGlShort && !holds<short>(expected)) continue;
                                if (type == KVEL::kGlByte && !holds<signed char>(expected)) continue;
                                // Integer outputs also lose the fraction.
                                const bool integer = type == KVEL::kGlShort || type == KVEL::kGlByte;
                                const double tolerance = 1e-4 * (1 + std::abs(v)) + (integer ? 1 : 0);
                                EXPECT_NEAR(got, expected, tolerance)
                                    << w << "x" << h << "x" << d << " size " << size << " type " << type << " at " << x
                                    << "," << y << "," << z;
                            }
                    }
                    // The result's window is the range of the filtered values.
                    EXPECT_NEAR(out->m_channel_windows[0].low, low, 1e-4 * (1 + std::abs(low)));
                    EXPECT_NEAR(out->m_channel_windows[0].high, high, 1e-4 * (1 + std::abs(high)));
                }
            }
        }
    }
}
