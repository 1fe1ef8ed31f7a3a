#include "imagelib/detail/registration_optimizer.h"

#include <cmath>

namespace KVEL {

namespace {

// Why this value cannot be used, or empty.
std::string refusal(const MetricValue& v, std::size_t samples, const LevelSearch& s, int iteration) {
    const std::string where = " at level " + std::to_string(s.level + 1) + " of " + std::to_string(s.levels) +
                              ", iteration " + std::to_string(iteration);
    if (v.count < kMinimumOverlap)
        return "only " + std::to_string(v.count) + " of " + std::to_string(samples) +
               " samples lie inside both images" + where;
    bool finite = std::isfinite(v.value);
    for (double g : v.gradient) finite = finite && std::isfinite(g);
    return finite ? std::string() : "the metric is not finite" + where;
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0;
    for (std::size_t k = 0; k < a.size(); ++k) sum += a[k] * b[k];
    return sum;
}

}  // namespace

// Quasi-Newton (BFGS on the inverse Hessian) with a backtracking line search
// and steps no longer than the level's `step`. Each iteration's gradient is
// taken in the parameters around the current transform; steps are small, so
// carrying the curvature estimate from one to the next is sound.
LevelOutcome descend(const MetricEvaluator& metric, const ParameterModel& model, const Transform& start,
                     const LevelSearch& s) {
    LevelOutcome out;
    out.transform = start;
    const std::size_t samples = metric.sampleCount();
    const int n = model.count();
    MetricValue v = metric.evaluate(out.transform);
    out.error = refusal(v, samples, s, 0);
    if (!out.error.empty()) return out;
    out.metric = v.value;
    std::vector<double> h(static_cast<std::size_t>(n * n), 0.0), d(n), move(n), y(n), hy(n);
    bool fresh = true;  // h still the scaled identity
    double length = s.step;
    int short_steps = 0;
    for (int iteration = 0; iteration < s.iterations; ++iteration) {
        if (s.progress && *s.progress && !(*s.progress)({s.level, s.levels, iteration, v.value, length})) {
            out.error = "stopped by the progress callback at level " + std::to_string(s.level + 1) +
                        ", iteration " + std::to_string(iteration);
            return out;
        }
        const double norm = std::sqrt(dot(v.gradient, v.gradient));
        if (norm == 0) return out;
        if (fresh) {
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) h[i * n + j] = i == j ? s.step / norm : 0;
        }
        for (int i = 0; i < n; ++i) {
            d[i] = 0;
            for (int j = 0; j < n; ++j) d[i] -= h[i * n + j] * v.gradient[j];
        }
        double slope = dot(d, v.gradient);
        if (!(slope < 0)) {  // not a descent direction: start the curvature again
            for (int i = 0; i < n; ++i) d[i] = -v.gradient[i] * s.step / norm;
            slope = dot(d, v.gradient);
            fresh = true;
        }
        double scale = std::sqrt(dot(d, d));
        double alpha = scale > s.step ? s.step / scale : 1;
        MetricValue next;
        Transform moved;
        bool accepted = false;
        for (int trial = 0; trial < 12 && !accepted; ++trial, alpha /= 2) {
            for (int i = 0; i < n; ++i) move[i] = alpha * d[i];
            moved = model.moved(out.transform, move);
            next = metric.evaluate(moved);
            out.error = refusal(next, samples, s, iteration + 1);
            if (!out.error.empty()) return out;
            accepted = next.value <= v.value + 1e-4 * alpha * slope;
        }
        length = alpha * 2 * scale;
        if (!accepted) {
            if (fresh) return out;  // no descent even along the gradient: converged
            fresh = true;
            continue;
        }
        for (int i = 0; i < n; ++i) y[i] = next.gradient[i] - v.gradient[i];
        const double sy = dot(move, y);
        if (sy > 0) {
            if (fresh) {  // the identity scaled to the curvature seen
                const double g = sy / dot(y, y);
                for (int i = 0; i < n; ++i)
                    for (int j = 0; j < n; ++j) h[i * n + j] = i == j ? g : 0;
            }
            for (int i = 0; i < n; ++i) {
                hy[i] = 0;
                for (int j = 0; j < n; ++j) hy[i] += h[i * n + j] * y[j];
            }
            const double yhy = dot(y, hy);
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j)
                    h[i * n + j] += ((sy + yhy) * move[i] * move[j]) / (sy * sy) - (hy[i] * move[j] + move[i] * hy[j]) / sy;
            fresh = false;
        }
        out.transform = moved;
        out.metric = next.value;
        out.iterations = iteration + 1;
        v = next;
        // One short step may be the line search's caution; three in a row are convergence.
        short_steps = length < s.minimumStep ? short_steps + 1 : 0;
        if (short_steps == 3) return out;
    }
    return out;
}

}  // namespace KVEL
