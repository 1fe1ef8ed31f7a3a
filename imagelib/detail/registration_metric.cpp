#include "imagelib/detail/registration_metric.h"

#include "imagelib/detail/thread_pool.h"

#include <algorithm>
#include <cmath>

namespace KVEL {

namespace {

// Samples per block. Blocks, not threads, bound every partial sum, and the
// partial sums are added in block order: the totals are the same at any
// thread count.
constexpr long long kBlock = 1024;

template <class PerSample>
std::vector<double> blockSum(long long count, int length, PerSample perSample) {
    const long long blocks = (count + kBlock - 1) / kBlock;
    std::vector<double> partial(static_cast<std::size_t>(blocks * length), 0.0);
    RowParts(blocks, kBlock * 64).forEachRange([&](long long first, long long last) {
        for (long long b = first; b < last; ++b) {
            double* sums = partial.data() + b * length;
            for (long long i = b * kBlock, end = std::min(count, i + kBlock); i < end; ++i) perSample(i, sums);
        }
    });
    std::vector<double> total(static_cast<std::size_t>(length), 0.0);
    for (long long b = 0; b < blocks; ++b)
        for (int k = 0; k < length; ++k) total[k] += partial[b * length + k];
    return total;
}

double bspline3(double x) {
    x = std::fabs(x);
    if (x < 1) return (4 - 6 * x * x + 3 * x * x * x) / 6;
    if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
    return 0;
}

double bspline3Derivative(double x) {
    const double a = std::fabs(x);
    if (a < 1) return -2 * x + 1.5 * x * a;
    if (a < 2) return (x < 0 ? 0.5 : -0.5) * (2 - a) * (2 - a);
    return 0;
}

}  // namespace

MetricEvaluator::MetricEvaluator(Metric metric, const FixedSamples& samples, const Volume& moving,
                                 const ParameterModel& model, int bins)
    : m_metric(metric), m_samples(samples), m_moving(moving), m_model(model), m_bins(std::max(bins, 8)) {
    if (metric != Metric::MutualInformation) return;
    const auto f = std::minmax_element(samples.values.begin(), samples.values.end());
    const auto m = std::minmax_element(moving.begin(), moving.end());
    m_fixedLow = *f.first;
    m_fixedBin = std::max(1e-30, (double(*f.second) - *f.first) / m_bins);
    m_movingLow = *m.first;
    // Two bins of margin each side for the window; the top value's window ends in the last bin.
    m_movingBin = std::max(1e-30, (double(*m.second) - *m.first) / (m_bins - 5));
}

MetricEvaluator::Sample MetricEvaluator::sample(const Transform& t, long long i) const {
    Sample s;
    const Vec3& p = m_samples.points[i];
    Vec3 gi;
    s.inside = linearAt(m_moving, m_moving.index(t.apply(p)), s.moving, gi);
    if (!s.inside) return s;
    s.fixed = m_samples.values[i];
    const Matrix3& m = m_moving.toIndex;
    for (int c = 0; c < 3; ++c) {
        s.gradient[c] = m[0][c] * gi[0] + m[1][c] * gi[1] + m[2][c] * gi[2];
        s.offset[c] = p[c] - t.center[c];
    }
    return s;
}

MetricValue MetricEvaluator::evaluate(const Transform& t) const {
    switch (m_metric) {
        case Metric::MeanSquares: return meanSquares(t);
        case Metric::Correlation: return correlation(t);
        case Metric::MutualInformation: break;
    }
    return mutualInformation(t);
}

MetricValue MetricEvaluator::meanSquares(const Transform& t) const {
    const int np = m_model.count();
    const auto sums = blockSum(static_cast<long long>(m_samples.points.size()), 2 + np, [&](long long i, double* s) {
        const Sample x = sample(t, i);
        if (!x.inside) return;
        const double e = double(x.moving) - x.fixed;
        s[0] += 1;
        s[1] += e * e;
        m_model.accumulate(t, x.offset, x.gradient, 2 * e, s + 2);
    });
    MetricValue out;
    out.count = static_cast<long long>(sums[0]);
    out.value = sums[1] / sums[0];
    for (int k = 0; k < np; ++k) out.gradient.push_back(sums[2 + k] / sums[0]);
    return out;
}

MetricValue MetricEvaluator::correlation(const Transform& t) const {
    const int np = m_model.count();
    const auto sums = blockSum(static_cast<long long>(m_samples.points.size()), 6 + 3 * np, [&](long long i, double* s) {
        const Sample x = sample(t, i);
        if (!x.inside) return;
        const double f = x.fixed, m = x.moving;
        s[0] += 1;
        s[1] += f;
        s[2] += m;
        s[3] += f * f;
        s[4] += m * m;
        s[5] += f * m;
        m_model.accumulate(t, x.offset, x.gradient, 1, s + 6);
        m_model.accumulate(t, x.offset, x.gradient, f, s + 6 + np);
        m_model.accumulate(t, x.offset, x.gradient, m, s + 6 + 2 * np);
    });
    const double n = sums[0];
    const double cov = sums[5] - sums[1] * sums[2] / n;
    const double vf = sums[3] - sums[1] * sums[1] / n, vm = sums[4] - sums[2] * sums[2] / n;
    const double scale = std::sqrt(vf * vm);
    MetricValue out;
    out.count = static_cast<long long>(n);
    out.value = -cov / scale;
    for (int k = 0; k < np; ++k) {
        const double g1 = sums[6 + k], gf = sums[6 + np + k], gm = sums[6 + 2 * np + k];
        const double dcov = gf - sums[1] / n * g1, dvm = 2 * gm - 2 * sums[2] / n * g1;
        out.gradient.push_back(-(dcov - cov * dvm / (2 * vm)) / scale);
    }
    return out;
}

MetricValue MetricEvaluator::mutualInformation(const Transform& t) const {
    const int bins = m_bins, np = m_model.count();
    const long long count = static_cast<long long>(m_samples.points.size());
    auto fixedBin = [&](float f) {
        return std::clamp(static_cast<int>((f - m_fixedLow) / m_fixedBin), 0, bins - 1);
    };
    auto movingPosition = [&](float m) { return (m - m_movingLow) / m_movingBin + 2; };
    m_found.resize(static_cast<std::size_t>(count));
    const auto joint = blockSum(count, 1 + bins * bins, [&](long long i, double* s) {
        const Sample& x = m_found[i] = sample(t, i);
        if (!x.inside) return;
        s[0] += 1;
        double* row = s + 1 + fixedBin(x.fixed) * bins;
        const double u = movingPosition(x.moving);
        const int k0 = static_cast<int>(u);
        for (int k = k0 - 1; k <= k0 + 2; ++k) row[k] += bspline3(k - u);
    });
    MetricValue out;
    const double n = joint[0];
    out.count = static_cast<long long>(n);
    std::vector<double> fixedMarginal(bins, 0.0), movingMarginal(bins, 0.0);
    for (int a = 0; a < bins; ++a)
        for (int k = 0; k < bins; ++k) {
            const double p = joint[1 + a * bins + k] / n;
            fixedMarginal[a] += p;
            movingMarginal[k] += p;
        }
    // The gradient weighs each bin by log(p / p_moving); the marginal terms sum to zero.
    std::vector<double> weight(static_cast<std::size_t>(bins * bins), 0.0);
    double information = 0;
    for (int a = 0; a < bins; ++a)
        for (int k = 0; k < bins; ++k) {
            const double p = joint[1 + a * bins + k] / n;
            if (p <= 0) continue;
            information += p * std::log(p / (fixedMarginal[a] * movingMarginal[k]));
            weight[a * bins + k] = std::log(p / movingMarginal[k]);
        }
    out.value = -information;
    const auto gradient = blockSum(count, np, [&](long long i, double* s) {
        const Sample& x = m_found[i];
        if (!x.inside) return;
        const double* row = weight.data() + fixedBin(x.fixed) * bins;
        const double u = movingPosition(x.moving);
        const int k0 = static_cast<int>(u);
        double d = 0;
        for (int k = k0 - 1; k <= k0 + 2; ++k) d += row[k] * bspline3Derivative(k - u);
        m_model.accumulate(t, x.offset, x.gradient, d / m_movingBin / n, s);
    });
    out.gradient = gradient;
    return out;
}

}  // namespace KVEL
