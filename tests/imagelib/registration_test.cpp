#include "imagelib/registration.h"

#include "imagelib/errors.h"
#include "imagelib/threads.h"

#include "../support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace KVEL;

namespace {

// Smooth blobs at three non-collinear places, in physical millimetres.
double scene(const Vec3& p) {
    const double centres[3][4] = {{-8, 4, 2, 8}, {9, -3, -4, 5}, {2, 10, -6, 6}};
    const double weights[3] = {100, 70, 50};
    double v = 0;
    for (int k = 0; k < 3; ++k) {
        const double dx = p[0] - centres[k][0], dy = p[1] - centres[k][1], dz = p[2] - centres[k][2];
        v += weights[k] * std::exp(-(dx * dx + dy * dy + dz * dz) / (2 * centres[k][3] * centres[k][3]));
    }
    return v;
}

// An image whose voxel at point p holds value(p).
template <class F>
std::unique_ptr<ImageBase<float>> sampled(int w, int h, int d, Vec3 spacing, Matrix3 direction, F value) {
    auto image = std::make_unique<ImageBase<float>>();
    image->m_verbose = 0;
    image->init(w, h, d, 1, 1);
    image->setSpacing(float(spacing[0]), float(spacing[1]), float(spacing[2]), 1);
    setDirection(*image, direction);
    // Centre the grid on the origin.
    const Vec3 far = physicalPoint(*image, {w - 1.0, h - 1.0, d - 1.0});
    for (int r = 0; r < 3; ++r) image->m_position[r] = float(-far[r] / 2);
    for (int z = 0, i = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) image->data()[i++] = float(value(physicalPoint(*image, {double(x), double(y), double(z)})));
    return image;
}

Transform truth3d() {
    Transform t;
    const double a = 0.15, c = std::cos(a), s = std::sin(a);  // about (1, 1, 1)/sqrt(3)
    const double k = 1 / std::sqrt(3.0), v = 1 - c;
    t.matrix = {{{c + k * k * v, k * k * v - k * s, k * k * v + k * s},
                 {k * k * v + k * s, c + k * k * v, k * k * v - k * s},
                 {k * k * v - k * s, k * k * v + k * s, c + k * k * v}}};
    t.translation = {3, -2, 2.5};
    return t;
}

double largestError(const Transform& found, const Transform& truth, const Image& grid) {
    double worst = 0;
    for (int z = 0; z < grid.m_dim[2]; z += 3)
        for (int y = 0; y < grid.m_dim[1]; y += 3)
            for (int x = 0; x < grid.m_dim[0]; x += 3) {
                const Vec3 p = physicalPoint(grid, {double(x), double(y), double(z)});
                const Vec3 a = found.apply(p), b = truth.apply(p);
                worst = std::max(worst, std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]));
            }
    return worst;
}

// Fixed: the scene moved by the truth; moving: the scene on another grid,
// spacing and orientation, its values remapped for mutual information.
struct Case {
    std::unique_ptr<ImageBase<float>> fixed, moving;
    Transform truth = truth3d();
    explicit Case(bool remap) {
        fixed = sampled(34, 32, 28, {1.2, 1.2, 1.5}, identityDirection(), [&](const Vec3& p) { return scene(truth.apply(p)); });
        const Matrix3 ras{{{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}}};
        moving = sampled(40, 36, 26, {1.1, 1.25, 1.6}, ras, [&](const Vec3& p) {
            const double v = scene(p);
            return remap ? 150 * std::exp(-v / 40) : v;
        });
    }
};

TEST(Registration, RecoversAKnownMotionWithEveryMetricAcrossGridsAndOrientations) {
    for (Metric metric : {Metric::MeanSquares, Metric::Correlation, Metric::MutualInformation}) {
        Case c(metric == Metric::MutualInformation);
        RegistrationOptions options;
        options.metric = metric;
        options.shrinkFactors = {4, 2, 1};
        options.histogramBins = 64;  // this small image has few samples per level
        const RegistrationResult r = registerRigid(*c.fixed, *c.moving, options);
        ASSERT_TRUE(r.transform) << r.error;
        // A histogram of 30 000 voxels is coarse: mutual information gets a wider bound here
        // (the benchmark judges it on brain volumes).
        const double bound = metric == Metric::MutualInformation ? 0.25 : 0.1;
        EXPECT_LT(largestError(*r.transform, c.truth, *c.fixed), bound) << int(metric);
        EXPECT_EQ(r.iterations.size(), 3u);
        // The parameters are the library's reading of the matrix.
        const auto m = r.transform->matrix4();
        EXPECT_NEAR(r.parameters[4], std::asin(m[2]), 1e-12);
    }
}

TEST(Registration, AffineRecoversScaleAndShear) {
    Case c(false);
    c.truth.matrix[0][0] *= 1.06;
    c.truth.matrix[1][2] += 0.04;
    c.truth.matrix[2][2] *= 0.95;
    c.fixed = sampled(34, 32, 28, {1.2, 1.2, 1.5}, identityDirection(), [&](const Vec3& p) { return scene(c.truth.apply(p)); });
    RegistrationOptions options;
    options.shrinkFactors = {4, 2, 1};
    options.metric = Metric::MeanSquares;
    options.iterations = {300};
    const RegistrationResult r = registerAffine(*c.fixed, *c.moving, options);
    ASSERT_TRUE(r.transform) << r.error;
    EXPECT_LT(largestError(*r.transform, c.truth, *c.fixed), 0.15);
}

TEST(Registration, FlatImagesRegisterInTheirPlane) {
    Transform truth;
    truth.matrix = {{{std::cos(0.2), -std::sin(0.2), 0}, {std::sin(0.2), std::cos(0.2), 0}, {0, 0, 1}}};
    truth.translation = {2.5, -1.5, 0};
    auto flat = [](const Vec3& p) { return scene({p[0], p[1], 2}); };
    auto fixed = sampled(64, 60, 1, {0.8, 0.8, 1}, identityDirection(), [&](const Vec3& p) { return flat(truth.apply(p)); });
    auto moving = sampled(56, 70, 1, {0.9, 0.7, 1}, identityDirection(), flat);
    RegistrationOptions options;
    options.metric = Metric::MeanSquares;
    const RegistrationResult r = registerRigid(*fixed, *moving, options);
    ASSERT_TRUE(r.transform) << r.error;
    EXPECT_EQ(r.transform->dimension, 2);
    EXPECT_LT(largestError(*r.transform, truth, *fixed), 0.05);
    EXPECT_EQ(r.parameters[2], 0);
    EXPECT_EQ(r.parameters[3], 0);
    EXPECT_EQ(r.parameters[4], 0);
}

TEST(Registration, SameBitsAtEveryThreadCountAndRun) {
    for (Metric metric : {Metric::MeanSquares, Metric::Correlation, Metric::MutualInformation}) {
        Case c(metric == Metric::MutualInformation);
        RegistrationOptions options;
        options.metric = metric;
        options.shrinkFactors = {2, 1};
        options.maxSamples = 1 << 16;  // many blocks, so every thread gets some
        std::vector<RegistrationResult> runs;
        for (int threads : {1, 2, 3, 2}) {
            setThreadCount(threads);
            runs.push_back(registerRigid(*c.fixed, *c.moving, options));
            ASSERT_TRUE(runs.back().transform) << runs.back().error;
        }
        setThreadCount(0);
        for (const auto& r : runs) {
            EXPECT_EQ(0, std::memcmp(&r.transform->matrix, &runs[0].transform->matrix, sizeof(Matrix3)));
            EXPECT_EQ(0, std::memcmp(&r.transform->translation, &runs[0].transform->translation, sizeof(Vec3)));
            EXPECT_EQ(0, std::memcmp(&r.metric, &runs[0].metric, sizeof(double)));
            EXPECT_EQ(r.iterations, runs[0].iterations);
        }
    }
}

TEST(Registration, FailuresNameTheirCauseAndGiveNoTransform) {
    Case c(false);
    auto constant = sampled(20, 20, 20, {1, 1, 1}, identityDirection(), [](const Vec3&) { return 7.0; });
    auto speck = sampled(3, 3, 3, {1, 1, 1}, identityDirection(), scene);
    auto notANumber = sampled(20, 20, 20, {1, 1, 1}, identityDirection(), [](const Vec3& p) { return p[0] > 5 ? NAN : 1.0; });
    // Constant wherever the fixed image reaches it: the correlation divides by zero.
    auto flatInside = sampled(80, 80, 80, {1, 1, 1}, identityDirection(), [](const Vec3& p) { return p[0] > 38 ? 5.0 : 1.0; });
    auto emptyMask = sampled(10, 10, 10, {4, 4, 4}, identityDirection(), [](const Vec3&) { return 0.0; });
    RegistrationOptions ncc, masked, stopped, badLevels;
    ncc.metric = Metric::Correlation;
    ncc.start = Start::GeometryCentres;
    ncc.shrinkFactors = {2, 1};
    masked.fixedMask = emptyMask.get();
    int calls = 0;
    stopped.progress = [&](const RegistrationProgress& p) { return ++calls < 5 && p.level == 0; };
    badLevels.shrinkFactors = {4, 0};
    const struct {
        const Image& fixed;
        const Image& moving;
        const RegistrationOptions& options;
        const char* says;
    } cases[] = {
        {*c.fixed, *constant, {}, "moving image is one constant value"},
        {*constant, *c.moving, {}, "fixed image is one constant value"},
        {*c.fixed, *notANumber, {}, "not finite"},
        {*c.fixed, *speck, {}, "samples lie inside both images at level 1 of 4, iteration 0"},
        {*c.fixed, *flatInside, ncc, "the metric is not finite at level 1 of 2, iteration 0"},
        {*c.fixed, *c.moving, masked, "the mask leaves 0 fixed samples"},
        {*c.fixed, *c.moving, stopped, "stopped by the progress callback at level 1, iteration 4"},
        {*c.fixed, *c.moving, badLevels, "shrink factor"},
    };
    for (const auto& k : cases) {
        const RegistrationResult r = registerRigid(k.fixed, k.moving, k.options);
        EXPECT_FALSE(r.transform) << k.says;
        EXPECT_NE(r.error.find(k.says), std::string::npos) << r.error;
    }
}

TEST(Registration, AMaskOnAnotherGridSelectsFixedSamples) {
    Case c(false);
    // Covers the whole fixed image: the same samples as no mask at all.
    auto everywhere = sampled(12, 12, 12, {5, 5, 5}, identityDirection(), [](const Vec3&) { return 1.0; });
    RegistrationOptions options;
    options.shrinkFactors = {2, 1};
    const RegistrationResult plain = registerRigid(*c.fixed, *c.moving, options);
    options.fixedMask = everywhere.get();
    const RegistrationResult masked = registerRigid(*c.fixed, *c.moving, options);
    ASSERT_TRUE(plain.transform && masked.transform);
    EXPECT_EQ(0, std::memcmp(&plain.transform->matrix, &masked.transform->matrix, sizeof(Matrix3)));
}

TEST(Registration, ResampleOntoLaysTheMovingImageOnTheFixedGrid) {
    Case c(false);
    for (Interpolation how : {Interpolation::Nearest, Interpolation::Linear, Interpolation::Cubic}) {
        std::unique_ptr<Image> out(resampleOnto(*c.moving, *c.fixed, c.truth, how, -1));
        ASSERT_TRUE(out);
        double worst = 0;
        int outside = 0;
        for (int i = 0; i < out->m_image_size; ++i) {
            if (out->get(i) == -1) ++outside;
            else worst = std::max(worst, double(std::fabs(out->get(i) - c.fixed->get(i))));
        }
        EXPECT_LT(worst, how == Interpolation::Nearest ? 30 : 4) << int(how);
        EXPECT_LT(outside, out->m_image_size / 4);
        EXPECT_EQ(std::memcmp(out->m_direction, c.fixed->m_direction, sizeof out->m_direction), 0);
    }
}

class TransformFile : public TempDirTest {};

// One transform of each kind a file holds, centres off the origin.
std::vector<Transform> everyKind() {
    Transform rigid3 = truth3d(), affine3 = truth3d(), rigid2, affine2;
    rigid3.center = {4, -7, 12};
    affine3.kind = affine2.kind = Transform::Kind::Affine;
    affine3.matrix[0][1] += 0.1;
    rigid2.dimension = affine2.dimension = 2;
    rigid2.matrix = {{{std::cos(1.0), -std::sin(1.0), 0}, {std::sin(1.0), std::cos(1.0), 0}, {0, 0, 1}}};
    rigid2.translation = {3, 4, 0};
    rigid2.center = {1, 2, 0};
    affine2.matrix = {{{1.1, 0.2, 0}, {-0.1, 0.9, 0}, {0, 0, 1}}};
    affine2.translation = {-5, 6, 0};
    return {rigid3, affine3, rigid2, affine2};
}

const Vec3 kPoints[] = {{0, 0, 0}, {30, -20, 10}, {-50, 40, -60}};

TEST_F(TransformFile, EveryKindMapsPointsTheSameAfterARoundTrip) {
    for (const Transform& t : everyKind()) {
        ASSERT_TRUE(writeTransform(t, path("t.tfm").c_str())) << lastError();
        const auto back = readTransform(path("t.tfm").c_str());
        ASSERT_TRUE(back) << lastError();
        EXPECT_EQ(back->kind, t.kind);
        EXPECT_EQ(back->dimension, t.dimension);
        for (const Vec3& p : kPoints) {
            const Vec3 a = t.apply(p), b = back->apply(p);
            for (int r = 0; r < 3; ++r) EXPECT_NEAR(a[r], b[r], 1e-9);
        }
    }
}

#ifdef ITK_TRANSFORM_PROGRAM
TEST_F(TransformFile, ItkMapsPointsAsThisLibraryDoes) {
    for (const Transform& t : everyKind()) {
        ASSERT_TRUE(writeTransform(t, path("t.tfm").c_str())) << lastError();
        std::string command = std::string(ITK_TRANSFORM_PROGRAM) + " " + path("t.tfm");
        for (const Vec3& p : kPoints)
            for (int r = 0; r < t.dimension; ++r) command += " " + std::to_string(p[r]);
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_TRUE(pipe);
        for (const Vec3& p : kPoints) {
            const Vec3 ours = t.apply(p);
            for (int r = 0; r < t.dimension; ++r) {
                double itk = NAN;
                ASSERT_EQ(fscanf(pipe, "%lf", &itk), 1) << command;
                EXPECT_NEAR(itk, ours[r], 1e-9) << command;
            }
        }
        EXPECT_EQ(pclose(pipe), 0) << command;
    }
}
#endif

TEST_F(TransformFile, RefusesWhatItCannotRead) {
    const char* bodies[] = {
        "",
        "#Insight Transform File V1.0\nTransform: BSplineTransform_double_3_3\nParameters: 1\nFixedParameters: 0\n",
        "#Insight Transform File V1.0\nTransform: Euler3DTransform_double_3_3\nParameters: 1 2 3\nFixedParameters: 0 0 0\n",
        "#Insight Transform File V1.0\nTransform: Euler2DTransform_double_2_2\nParameters: 1 2 x\nFixedParameters: 0 0\n",
        "#Insight Transform File V1.0\nTransform: Euler2DTransform_double_2_2\nParameters: 1 2 nan\nFixedParameters: 0 0\n",
        "#Insight Transform File V1.0\nTransform: AffineTransform_double_2_2\nParameters: 1e300 0 0 1 0 0\nFixedParameters: 0 0\n",
    };
    for (const char* body : bodies) {
        std::ofstream(path("bad.tfm")) << body;
        EXPECT_FALSE(readTransform(path("bad.tfm").c_str())) << body;
        EXPECT_NE(std::string(lastError()), "");
    }
    EXPECT_FALSE(writeTransform(Transform(), path("no/such/dir/t.tfm").c_str()));
}

}  // namespace
