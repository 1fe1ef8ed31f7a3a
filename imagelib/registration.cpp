// Registration over a smoothed pyramid; see <kvel/registration.h>.

#include "imagelib/registration.h"

#include "imagelib/detail/registration_optimizer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace KVEL {

namespace {

double meanSpacing(const Volume& v) {
    double sum = 0;
    int axes = 0;
    for (int c = 0; c < 3; ++c) {
        if (v.dim[c] <= 1) continue;
        sum += std::sqrt(v.toPoint[0][c] * v.toPoint[0][c] + v.toPoint[1][c] * v.toPoint[1][c] +
                         v.toPoint[2][c] * v.toPoint[2][c]);
        ++axes;
    }
    return axes ? sum / axes : 1;
}

std::string checkValues(const Volume& v, const char* name) {
    if (v.empty()) return std::string("the ") + name + " image holds no voxels";
    // One branch-free pass: NaN fails both comparisons, infinities the second.
    bool finite = true;
    float low = v.values[0], high = v.values[0];
    for (const float x : v) {
        finite &= std::fabs(x) <= std::numeric_limits<float>::max();
        low = std::min(low, x);
        high = std::max(high, x);
    }
    if (!finite) return std::string("the ") + name + " image holds values that are not finite";
    if (low == high) return std::string("the ") + name + " image is one constant value: nothing to align";
    return {};
}

std::string checkOptions(const RegistrationOptions& o) {
    if (o.shrinkFactors.empty()) return "no pyramid levels";
    for (int f : o.shrinkFactors)
        if (f < 1) return "a shrink factor below 1";
    if (o.iterations.empty()) return "no iteration counts";
    for (int n : o.iterations)
        if (n < 0) return "a negative iteration count";
    if (o.maxSamples < kMinimumOverlap) return "fewer than " + std::to_string(kMinimumOverlap) + " samples allowed";
    if (o.histogramBins < 8 || o.histogramBins > 1024) return "histogram bins outside 8 to 1024";
    if (!(o.minimumStep > 0)) return "a minimum step that is not positive";
    return {};
}

// The intensity-weighted centre above the image's minimum. Image::centerOfMass
// weighs above the display window's low end, which callers set or not: the
// start, and so the answer, would depend on it.
Vec3 startCentre(const Volume& volume, Start start) {
    if (start == Start::MassCentres) {
        const double low = *std::min_element(volume.begin(), volume.end());
        double sum = 0, sx = 0, sy = 0, sz = 0;
        long long i = 0;
        for (int z = 0; z < volume.dim[2]; ++z)
            for (int y = 0; y < volume.dim[1]; ++y)
                for (int x = 0; x < volume.dim[0]; ++x) {
                    const double w = volume.values[i++] - low;
                    sum += w;
                    sx += w * x;
                    sy += w * y;
                    sz += w * z;
                }
        if (sum > 0) return volume.point({sx / sum, sy / sum, sz / sum});
    }
    return volume.centre();
}

// A small image is shrunk less: every level keeps kLevelExtent voxels along
// each axis it had them. True when any axis shrinks.
constexpr int kLevelExtent = 16;
bool levelFactors(const Volume& v, int factor, int out[3]) {
    bool any = false;
    for (int a = 0; a < 3; ++a) {
        out[a] = std::max(1, std::min(factor, v.dim[a] / kLevelExtent));
        any = any || out[a] > 1;
    }
    return any;
}

// The level's voxels on a regular grid thinned to at most maxSamples, inside the mask.
FixedSamples fixedSamples(const Volume& level, const Volume* mask, int maxSamples) {
    int stride = 1;
    auto along = [&](int a, int s) { return (level.dim[a] + s - 1) / s; };
    while (1LL * along(0, stride) * along(1, stride) * along(2, stride) > maxSamples) ++stride;
    FixedSamples out;
    const int offset[3] = {(std::min(stride, level.dim[0]) - 1) / 2, (std::min(stride, level.dim[1]) - 1) / 2,
                           (std::min(stride, level.dim[2]) - 1) / 2};
    for (int z = offset[2]; z < level.dim[2]; z += stride)
        for (int y = offset[1]; y < level.dim[1]; y += stride)
            for (int x = offset[0]; x < level.dim[0]; x += stride) {
                const Vec3 p = level.point({double(x), double(y), double(z)});
                if (mask) {
                    const Vec3 i = mask->index(p);
                    long long at = 0, scale = 1;
                    bool inside = true;
                    for (int a = 0; a < 3; ++a) {
                        const double r = std::floor(i[a] + 0.5);
                        inside = inside && r >= 0 && r < mask->dim[a];
                        if (!inside) break;
                        at += static_cast<long long>(r) * scale;
                        scale *= mask->dim[a];
                    }
                    if (!inside || mask->values[at] == 0) continue;
                }
                out.points.push_back(p);
                out.values.push_back(level.values[x + 1LL * level.dim[0] * (y + 1LL * level.dim[1] * z)]);
            }
    return out;
}

RegistrationResult run(const Image& fixed, const Image& moving, const RegistrationOptions& options,
                       Transform::Kind kind) {
    RegistrationResult result;
    result.error = checkOptions(options);
    if (!result.error.empty()) return result;
    const Volume fixed0 = channelZero(fixed), moving0 = channelZero(moving);
    result.error = checkValues(fixed0, "fixed");
    if (result.error.empty()) result.error = checkValues(moving0, "moving");
    if (!result.error.empty()) return result;
    Volume mask;
    if (options.fixedMask) {
        mask = channelZero(*options.fixedMask);
        if (mask.empty()) {
            result.error = "the mask holds no voxels";
            return result;
        }
    }

    Transform t;
    t.kind = kind;
    t.dimension = fixed0.dim[2] == 1 && moving0.dim[2] == 1 ? 2 : 3;
    t.center = startCentre(fixed0, options.start);
    const Vec3 movingCentre = startCentre(moving0, options.start);
    for (int r = 0; r < t.dimension; ++r) t.translation[r] = movingCentre[r] - t.center[r];
    const Vec3 corner0 = fixed0.point({0, 0, 0}),
               corner1 = fixed0.point({fixed0.dim[0] - 1.0, fixed0.dim[1] - 1.0, fixed0.dim[2] - 1.0});
    const double radius = 0.5 * std::sqrt((corner1[0] - corner0[0]) * (corner1[0] - corner0[0]) +
                                          (corner1[1] - corner0[1]) * (corner1[1] - corner0[1]) +
                                          (corner1[2] - corner0[2]) * (corner1[2] - corner0[2]));
    const ParameterModel model(kind, t.dimension, radius);

    const int levels = static_cast<int>(options.shrinkFactors.size());
    const double spacingRatio = meanSpacing(fixed0) / meanSpacing(moving0);
    for (int level = 0; level < levels; ++level) {
        const int f = options.shrinkFactors[level];
        const int fm = std::max(1, static_cast<int>(std::lround(f * spacingRatio)));
        int fixedFactor[3], movingFactor[3];
        const bool shrinkFixed = levelFactors(fixed0, f, fixedFactor), shrinkMoving = levelFactors(moving0, fm, movingFactor);
        const Volume fixedLevel = shrinkFixed ? shrink(fixed0, fixedFactor) : Volume();
        const Volume movingLevel = shrinkMoving ? shrink(moving0, movingFactor) : Volume();
        const Volume& fl = shrinkFixed ? fixedLevel : fixed0;
        const FixedSamples samples = fixedSamples(fl, options.fixedMask ? &mask : nullptr, options.maxSamples);
        if (static_cast<long long>(samples.points.size()) < kMinimumOverlap) {
            result.error = "the mask leaves " + std::to_string(samples.points.size()) + " fixed samples at level " +
                           std::to_string(level + 1) + " of " + std::to_string(levels);
            return result;
        }
        const MetricEvaluator metric(options.metric, samples, shrinkMoving ? movingLevel : moving0, model,
                                     options.histogramBins);
        LevelSearch search;
        search.level = level;
        search.levels = levels;
        search.step = meanSpacing(fl);
        search.minimumStep = options.minimumStep * search.step;
        search.iterations = options.iterations[std::min<std::size_t>(level, options.iterations.size() - 1)];
        search.progress = &options.progress;
        const LevelOutcome outcome = descend(metric, model, t, search);
        if (!outcome.error.empty()) {
            result.error = outcome.error;
            return result;
        }
        t = outcome.transform;
        result.metric = outcome.metric;
        result.iterations.push_back(outcome.iterations);
    }
    if (kind == Transform::Kind::Rigid) result.parameters = t.rigidParameters();
    result.transform = t;
    return result;
}

}  // namespace

RegistrationResult registerRigid(const Image& fixed, const Image& moving, const RegistrationOptions& options) {
    return run(fixed, moving, options, Transform::Kind::Rigid);
}

RegistrationResult registerAffine(const Image& fixed, const Image& moving, const RegistrationOptions& options) {
    return run(fixed, moving, options, Transform::Kind::Affine);
}

}  // namespace KVEL
