#include "imagelib/rigid.h"

#include "random_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <string>

using KVEL::Image;
using KVEL::ImageBase;

namespace {

constexpr float kPi = 3.14159265f;

// 3x3 row-major rotations about one axis.
struct Rotation {
    float m[3][3];
    Rotation operator*(const Rotation& o) const {
        Rotation r{};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                for (int k = 0; k < 3; ++k) r.m[i][j] += m[i][k] * o.m[k][j];
            }
        }
        return r;
    }
};

Rotation rx(float a) { return {{{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}}}; }
Rotation ry(float b) { return {{{std::cos(b), 0, std::sin(b)}, {0, 1, 0}, {-std::sin(b), 0, std::cos(b)}}}; }
Rotation rz(float c) { return {{{std::cos(c), -std::sin(c), 0}, {std::sin(c), std::cos(c), 0}, {0, 0, 1}}}; }

void expectMatrixNear(const float* actual, const float* expected, float tolerance) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
const float kParams[6] = {3, -2, 5, 0.3f, -0.7f, 1.1f};

}  // namespace

TEST(RigidMatrix, RotationIsRzRyRxOfNegatedAnglesWithTranslationInLastColumn) {
    float m[16];
    KVEL::rigidToMatrix(kParams, m);
    const Rotation r = rz(-kParams[5]) * ry(-kParams[4]) * rx(-kParams[3]);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) EXPECT_NEAR(m[row + 4 * col], r.m[row][col], 1e-6) << row << col;
        EXPECT_EQ(m[4 * row + 3], 0);
        EXPECT_EQ(m[12 + row], kParams[row]);
    }
    EXPECT_EQ(m[15], 1);
}

TEST(RigidMatrix, ParametersRoundTripWhileBStaysWithinAQuarterTurn) {
    for (float b : {-1.5f, -0.7f, 0.0f, 0.4f, 1.5f}) {
        const float params[6] = {1, 2, 3, -2.5f, b, 2.9f};
        float m[16], back[6];
        KVEL::rigidToMatrix(params, m);
        KVEL::matrixToRigid(back, m);
        for (int i = 0; i < 6; ++i) EXPECT_NEAR(back[i], params[i], 2e-4) << "b " << b << " parameter " << i;
    }
}

TEST(RigidMatrix, RoundingPastUnitSineStillGivesAQuarterTurn) {
    float m[16];
    std::copy(kIdentity, kIdentity + 16, m);
    m[2] = 1.0000001f;
    float params[6];
    KVEL::matrixToRigid(params, m);
    EXPECT_FLOAT_EQ(params[4], kPi / 2);
}

TEST(RigidMatrix, InverseTimesMatrixIsIdentity) {
    float m[16], inverse[16];
    KVEL::rigidToMatrix(kParams, m);
    KVEL::invertRigid(m, inverse);
    KVEL::multiplyMatrices(inverse, m, false);
    expectMatrixNear(inverse, kIdentity, 1e-5f);
}

TEST(RigidMatrix, InvertInPlaceGivesTheSameInverse) {
    float m[16], inverse[16];
    KVEL::rigidToMatrix(kParams, m);
    KVEL::invertRigid(m, inverse);
    KVEL::invertRigid(m, m);
    expectMatrixNear(m, inverse, 0);
}

TEST(RigidMatrix, FlipZInverseNegatesInputZAndKeepsItsBottomRow) {
    float m[16], flipped[16], expected[16];
    KVEL::rigidToMatrix(kParams, m);
    m[3] = 7, m[7] = 8, m[11] = 9, m[15] = 2;
    KVEL::invertRigidFlipZ(m, flipped);
    EXPECT_EQ(m[14], -kParams[2]);
    KVEL::invertRigid(m, expected);
    expected[3] = 7, expected[7] = 8, expected[11] = 9, expected[15] = 2;
    expectMatrixNear(flipped, expected, 0);
}

TEST(RigidMatrix, ProductGoesIntoTheChosenOperandAndActsRightFactorFirst) {
    float rotation[16], translation[16];
    const float turn[6] = {0, 0, 0, 0, 0, kPi / 2};
    const float shift[6] = {10, 0, 0, 0, 0, 0};
    KVEL::rigidToMatrix(turn, rotation);
    KVEL::rigidToMatrix(shift, translation);
    float a[16], b[16];
    std::copy(rotation, rotation + 16, a);
    std::copy(translation, translation + 16, b);
    KVEL::multiplyMatrices(a, b, true);
    expectMatrixNear(a, rotation, 0);
    float p[3] = {1, 0, 0};
    KVEL::transformPoint(p, b, false);  // shift to (11, 0, 0), then turn
    float q[3] = {11, 0, 0};
    KVEL::transformPoint(q, rotation, false);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(p[i], q[i], 1e-5);

    std::copy(translation, translation + 16, b);
    KVEL::multiplyMatrices(a, b, false);
    expectMatrixNear(b, translation, 0);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], i == 12 || i == 13 ? a[i] : rotation[i], 1e-6);
}

TEST(TransformPoint, DirectionsIgnoreTheTranslation) {
    float m[16];
    KVEL::rigidToMatrix(kParams, m);
    float point[3] = {1, 2, 3}, direction[3] = {1, 2, 3};
    KVEL::transformPoint(point, m, false);
    KVEL::transformPoint(direction, m, true);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(point[i] - direction[i], kParams[i], 1e-5);
    EXPECT_NEAR(std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2]),
                std::sqrt(14.0f), 1e-5);
}

TEST(ApplyRigidTransform, TranslatesThenRotatesByRzRyRx) {
    const Rotation r = rz(kParams[5]) * ry(kParams[4]) * rx(kParams[3]);
    float v[3] = {1, -4, 2};
    const float moved[3] = {1 + kParams[0], -4 + kParams[1], 2 + kParams[2]};
    KVEL::applyRigidTransform(v, kParams, false);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(v[i], r.m[i][0] * moved[0] + r.m[i][1] * moved[1] + r.m[i][2] * moved[2], 1e-5) << i;
    }
    float d[3] = {1, -4, 2};
    KVEL::applyRigidTransform(d, kParams, true);
    EXPECT_NEAR(d[0], r.m[0][0] * 1 - r.m[0][1] * 4 + r.m[0][2] * 2, 1e-5);
}

// The two conventions turn opposite ways: a quarter turn about z maps x to y
// here and to -y through the matrix.
TEST(ApplyRigidTransform, TurnsOppositeToTheMatrixOfTheSameParameters) {
    const float turn[6] = {0, 0, 0, 0, 0, kPi / 2};
    float applied[3] = {1, 0, 0}, viaMatrix[3] = {1, 0, 0}, m[16];
    KVEL::applyRigidTransform(applied, turn, true);
    KVEL::rigidToMatrix(turn, m);
    KVEL::transformPoint(viaMatrix, m, true);
    EXPECT_NEAR(applied[1], 1, 1e-6);
    EXPECT_NEAR(viaMatrix[1], -1, 1e-6);
}

namespace {

std::unique_ptr<Image> resample(const float* params, Image& source, bool interpolate, std::string* report) {
    testing::internal::CaptureStdout();
    std::unique_ptr<Image> out(KVEL::resampleRigid(params, &source, nullptr, interpolate));
    *report = testing::internal::GetCapturedStdout();
    return out;
}

}  // namespace

TEST(ResampleRigid, ZeroParametersCopyAllButTheLastPlanesAndReportTheShare) {
    auto source = imagetest::randomImage(KVEL::kGlShort, 5, 4, 3, 1, 11, -500, 500);
    source->m_verbose = 1;
    source->setSpacing(0.5f, 2, 3, 9);
    const float zero[6] = {};
    std::string report;
    for (bool interpolate : {true, false}) {
        auto out = resample(zero, *source, interpolate, &report);
        ASSERT_TRUE(out);
        EXPECT_NE(dynamic_cast<ImageBase<float>*>(out.get()), nullptr);
        EXPECT_EQ(out->m_spacing[0], 0.5f);
        EXPECT_EQ(out->m_spacing[2], 3);
        EXPECT_EQ(out->m_spacing[3], 1);
        for (int z = 0; z < 3; ++z) {
            for (int y = 0; y < 4; ++y) {
                for (int x = 0; x < 5; ++x) {
                    const bool copied = x < 4 && y < 3 && z < 2;
                    EXPECT_EQ(out->get(x, y, z, 0, 0), copied ? source->get(x, y, z, 0, 0) : 0) << x << y << z;
                }
            }
        }
        EXPECT_EQ(report, "Used 40 % of voxels\n");  // 4*3*2 of 60
    }
}

TEST(ResampleRigid, HalfVoxelShiftInterpolatesOrTakesTheNearestVoxel) {
    ImageBase<float> source;
    source.m_verbose = 0;
    source.init(6, 3, 3, 1, 1);
    source.setSpacing(2, 1, 1, 1);
    for (int z = 0; z < 3; ++z) {
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 6; ++x) source.set(static_cast<float>(x * x), x, y, z, 0, 0);
        }
    }
    const float shift[6] = {1, 0, 0, 0, 0, 0};  // half a voxel of spacing 2
    std::string report;
    auto linear = resample(shift, source, true, &report);
    auto nearest = resample(shift, source, false, &report);
    EXPECT_EQ(report, "");
    for (int x = 0; x < 5; ++x) {
        EXPECT_FLOAT_EQ(linear->get(x, 1, 1, 0, 0), (x * x + (x + 1) * (x + 1)) / 2.0f) << x;
        EXPECT_FLOAT_EQ(nearest->get(x, 1, 1, 0, 0), static_cast<float>(x * x)) << x;
    }
    EXPECT_EQ(linear->get(5, 1, 1, 0, 0), 0);
}

// Output (x, y) samples the source at (8 - y, x); the first column and the
// second row fall within rounding of the source's edge and are left out.
TEST(ResampleRigid, QuarterTurnAboutZTurnsTheVolume) {
    ImageBase<float> source;
    source.m_verbose = 0;
    source.init(8, 8, 3, 1, 1);
    for (int z = 0; z < 3; ++z) {
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) source.set(static_cast<float>(x), x, y, z, 0, 0);
        }
    }
    const float turn[6] = {0, 0, 0, 0, 0, kPi / 2};
    std::string report;
    auto out = resample(turn, source, true, &report);
    for (int y = 2; y < 8; ++y) {
        for (int x = 1; x < 7; ++x) EXPECT_NEAR(out->get(x, y, 0, 0, 0), 8.0f - y, 1e-3) << x << " " << y;
    }
}

TEST(ResampleRigid, FillsAGivenOutputOfTheRightSize) {
    auto source = imagetest::randomImage(KVEL::kGlUnsignedByte, 4, 4, 4, 1, 3);
    ImageBase<short> out;
    out.init(8, 2, 4, 1, 1);
    out.data()[63] = 99;
    const float zero[6] = {};
    EXPECT_EQ(KVEL::resampleRigid(zero, source.get(), &out, false), &out);
    EXPECT_EQ(out.get(5, 0, 0, 0, 0), source->get(5, 0, 0, 0, 0));
    EXPECT_EQ(out.data()[63], 0);
}

TEST(ResampleRigid, RefusesAWrongSizedOutputOrAnEmptySource) {
    auto source = imagetest::randomImage(KVEL::kGlFloat, 4, 4, 4, 1, 5);
    ImageBase<float> small;
    small.init(4, 4, 3, 1, 1);
    ImageBase<float> empty;
    const float zero[6] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(KVEL::resampleRigid(zero, source.get(), &small, true), nullptr);
    EXPECT_EQ(KVEL::resampleRigid(zero, &empty, nullptr, true), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("holds 48 elements, not 64"), std::string::npos);
    EXPECT_NE(out.find("needs a source image with data"), std::string::npos);
}

// The resampler runs typed row loops: for every element type and awkward
// extents, a move by whole voxels carries each value over exactly, however
// it interpolates; what falls outside stays 0.
TEST(ResampleRigid, WholeVoxelMovesCarryValuesOverForEveryTypeAndShape) {
    unsigned seed = 1;
    for (int type : imagetest::kAllElementTypes) {
        for (auto [w, h, d, c] : {std::tuple{17, 3, 2, 1}, {2, 17, 3, 1}, {3, 3, 3, 1}, {6, 5, 4, 1}, {70, 7, 5, 1}}) {
            auto source = imagetest::randomImage(type, w, h, d, c, seed++, -50, 200);
            source->setSpacing(2, 1, 0.5f, 1);  // powers of two keep the sample points whole
            for (auto [kx, ky, kz] : {std::tuple{0, 0, 0}, {1, 0, 0}, {-2, 1, 1}, {1, -1, -1}}) {
                const float p[6] = {kx * 2.0f, ky * 1.0f, kz * 0.5f, 0, 0, 0};
                for (bool interpolate : {true, false}) {
                    std::string report;
                    auto out = resample(p, *source, interpolate, &report);
                    ASSERT_TRUE(out);
                    for (int z = 0; z < d; ++z) {
                        for (int y = 0; y < h; ++y) {
                            for (int x = 0; x < w; ++x) {
                                const int sx = x + kx, sy = y + ky, sz = z + kz;
                                const bool inside = sx >= 0 && sy >= 0 && sz >= 0 && sx < w - 1 && sy < h - 1 && sz < d - 1;
                                for (int k = 0; k < c; ++k) {
                                    EXPECT_EQ(out->get(x, y, z, 0, k), inside ? source->get(sx, sy, sz, 0, k) : 0)
                                        << "type " << type << " " << w << "x" << h << "x" << d << "x" << c << " at "
                                        << x << "," << y << "," << z << " moved " << kx << ky << kz;
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}
