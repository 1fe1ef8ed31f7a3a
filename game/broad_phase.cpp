#include "game/broad_phase.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

bool broadPhase = true;

// A sweep's box: the start and end spheres and all between, widened so that
// rounding and the earliest-contact search's tolerances (a grazing pass counts
// within sqrt(1e-7) of the motion, a contact from 1e-7 of it before the start)
// can never choose a pair whose boxes stay apart.
struct SweepBox {
    double lo[3];
    double hi[3];
    int index;
};

bool finite(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

SweepBox sweepBox(const tide::collisionTransporter& r, int index) {
    const double start[3] = {r.position.x, r.position.y, r.position.z};
    const double end[3] = {r.position.x + r.motion.x, r.position.y + r.motion.y, r.position.z + r.motion.z};
    const double farthest = std::max({std::fabs(start[0]), std::fabs(start[1]), std::fabs(start[2])});
    const double reach = r.radius + 1e-3 * (1.0 + r.motion.length()) + 1e-6 * farthest;
    SweepBox box{};
    for (int axis = 0; axis < 3; ++axis) {
        box.lo[axis] = std::min(start[axis], end[axis]) - reach;
        box.hi[axis] = std::max(start[axis], end[axis]) + reach;
    }
    box.index = index;
    return box;
}

bool overlapAcross(const SweepBox& a, const SweepBox& b) {
    return a.lo[1] <= b.hi[1] && b.lo[1] <= a.hi[1] && a.lo[2] <= b.hi[2] && b.lo[2] <= a.hi[2];
}

}  // namespace

void nearbyPairs(const std::deque<tide::collisionTransporter*>& records, std::vector<std::pair<int, int>>& pairs) {
    // Sort and sweep along x, the valley's long side.
    static std::vector<SweepBox> boxes;
    static std::vector<std::uint64_t> keys;
    boxes.clear();
    keys.clear();
    for (std::size_t i = 0; i < records.size(); ++i) {
        const tide::collisionTransporter& r = *records[i];
        if (finite(r.position) && finite(r.motion) && std::isfinite(r.radius)) {
            boxes.push_back(sweepBox(r, static_cast<int>(i)));
        }
    }
    std::sort(boxes.begin(), boxes.end(), [](const SweepBox& a, const SweepBox& b) { return a.lo[0] < b.lo[0]; });
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const SweepBox& a = boxes[k];
        for (std::size_t m = k + 1; m < boxes.size() && boxes[m].lo[0] <= a.hi[0]; ++m) {
            const SweepBox& b = boxes[m];
            if (!overlapAcross(a, b)) continue;
            const auto first = static_cast<std::uint64_t>(std::min(a.index, b.index));
            const auto second = static_cast<std::uint64_t>(std::max(a.index, b.index));
            keys.push_back(first << 32 | second);
        }
    }
    // The all-pairs order, so that ties between equal contact times fall alike.
    std::sort(keys.begin(), keys.end());
    pairs.clear();
    for (std::uint64_t key : keys) pairs.emplace_back(static_cast<int>(key >> 32), static_cast<int>(key & 0xffffffffu));
}

void setBroadPhase(bool on) { broadPhase = on; }

bool broadPhaseOn() { return broadPhase; }
