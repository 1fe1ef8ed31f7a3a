#pragma once

// The similarity of the fixed samples and the moving image under a
// transform, with its gradient in the model's scaled parameters. Lower is
// better for every metric: mean squares, the negated normalised
// cross-correlation, the negated Mattes mutual information (a joint histogram
// with a cubic B-spline window on the moving values).

#include "imagelib/detail/registration_model.h"
#include "imagelib/detail/registration_volume.h"

#include <vector>

namespace KVEL {

struct FixedSamples {
    std::vector<Vec3> points;  // physical
    std::vector<float> values;
};

struct MetricValue {
    double value = 0;
    std::vector<double> gradient;
    long long count = 0;  // samples inside the moving image
};

class MetricEvaluator {
public:
    MetricEvaluator(Metric metric, const FixedSamples& samples, const Volume& moving,
                    const ParameterModel& model, int bins);
    MetricValue evaluate(const Transform& transform) const;
    std::size_t sampleCount() const { return m_samples.points.size(); }

private:
    struct Sample {
        bool inside;
        float fixed, moving;
        Vec3 offset, gradient;  // fixed point - centre; moving physical gradient
    };
    Sample sample(const Transform& transform, long long i) const;
    MetricValue meanSquares(const Transform& transform) const;
    MetricValue correlation(const Transform& transform) const;
    MetricValue mutualInformation(const Transform& transform) const;

    Metric m_metric;
    const FixedSamples& m_samples;
    const Volume& m_moving;
    const ParameterModel& m_model;
    int m_bins;
    double m_fixedLow = 0, m_fixedBin = 1, m_movingLow = 0, m_movingBin = 1;
    // Mutual information's second pass reads each sample as its first pass
    // found it. Kept between calls so it is allocated once per level.
    mutable std::vector<Sample> m_found;
};

}  // namespace KVEL
