#include "imagelib/detail/dicom_stack.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace KVEL {

namespace {

Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

double length(const Vec3& a) { return std::sqrt(dot(a, a)); }

// Direction cosines are written with a few decimals; positions to about 1e-5 mm.
constexpr double kCosineTolerance = 1e-4;
// Steps may differ by this share of the mean step, and lean off the normal by as much.
constexpr double kStepTolerance = 1e-2;

bool directionFrom(const std::array<double, 6>& o, Matrix3& direction, std::string& why) {
    Vec3 row{o[0], o[1], o[2]}, column{o[3], o[4], o[5]};
    const double r = length(row), c = length(column);
    if (!(r > 0.5 && r < 1.5 && c > 0.5 && c < 1.5)) {
        why = "its ImageOrientationPatient holds no two unit directions";
        return false;
    }
    for (double& v : row) v /= r;
    for (double& v : column) v /= c;
    if (std::fabs(dot(row, column)) > kCosineTolerance * 10) {
        why = "its ImageOrientationPatient's row and column directions are not at right angles";
        return false;
    }
    const Vec3 normal = cross(row, column);
    for (int i = 0; i < 3; ++i) direction[i] = {row[i], column[i], normal[i]};
    return true;
}

}  // namespace

bool stackFrames(const std::vector<FramePlacement>& frames, double sliceSpacing, Stack& stack, std::string& why) {
    stack = Stack();
    stack.order.resize(frames.size());
    std::iota(stack.order.begin(), stack.order.end(), std::size_t{0});
    stack.spacing = std::isfinite(sliceSpacing) && sliceSpacing > 0 ? sliceSpacing : 1;
    if (frames.empty()) return true;
    const bool allPlaced = std::all_of(frames.begin(), frames.end(), [](const FramePlacement& f) { return f.placed; });
    if (frames[0].placed && !directionFrom(frames[0].orientation, stack.direction, why)) return false;
    if (frames[0].placed) stack.origin = frames[0].position;
    if (frames.size() == 1 || !allPlaced) return true;
    for (const FramePlacement& f : frames) {
        for (int i = 0; i < 6; ++i) {
            if (std::fabs(f.orientation[i] - frames[0].orientation[i]) > kCosineTolerance) {
                why = "its slices have mixed orientations";
                return false;
            }
        }
    }
    const Vec3 normal{stack.direction[0][2], stack.direction[1][2], stack.direction[2][2]};
    std::vector<double> along(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) along[i] = dot(frames[i].position, normal);
    std::stable_sort(stack.order.begin(), stack.order.end(), [&](std::size_t a, std::size_t b) { return along[a] < along[b]; });
    const FramePlacement& first = frames[stack.order.front()];
    const double extent = along[stack.order.back()] - along[stack.order.front()];
    const double mean = extent / static_cast<double>(frames.size() - 1);
    if (!(mean > 0)) {
        why = "its slices all lie at one position";
        return false;
    }
    for (std::size_t k = 1; k < frames.size(); ++k) {
        if (along[stack.order[k]] - along[stack.order[k - 1]] <= kStepTolerance * mean) {
            why = "two of its slices lie at one position (" + std::to_string(along[stack.order[k]]) +
                  " mm along the normal): a series of several volumes is not read";
            return false;
        }
    }
    for (std::size_t k = 1; k < frames.size(); ++k) {
        const FramePlacement& a = frames[stack.order[k - 1]];
        const FramePlacement& b = frames[stack.order[k]];
        const double step = along[stack.order[k]] - along[stack.order[k - 1]];
        if (std::fabs(step - mean) > kStepTolerance * mean) {
            why = "its slices are unevenly spaced (steps of " + std::to_string(step) + " and " + std::to_string(mean) +
                  " mm on average)";
            return false;
        }
        Vec3 off;
        for (int i = 0; i < 3; ++i) off[i] = b.position[i] - a.position[i] - step * normal[i];
        if (length(off) > kStepTolerance * mean) {
            why = "its slices are shifted across the normal from one to the next (a gantry tilt of " +
                  std::to_string(std::atan2(length(off), step) * 180 / M_PI) + " degrees)";
            return false;
        }
    }
    stack.origin = first.position;
    stack.spacing = mean;
    return true;
}

}  // namespace KVEL
