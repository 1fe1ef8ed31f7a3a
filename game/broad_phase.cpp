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
    // Two records that both stand still never meet (the contact search skips
    // equal motions), and most records are balls lying still. So only the
    // moving boxes are swept: against each other, and against the standing
    // ones found by a search along x, the valley's long side.
    static std::vector<SweepBox> moving, still;
    static std::vector<std::uint64_t> keys;
    moving.clear();
    still.clear();
    keys.clear();
    double widestStill = 0.0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const tide::collisionTransporter& r = *records[i];
        if (!finite(r.position) || !finite(r.motion) || !std::isfinite(r.radius)) continue;
        const SweepBox box = sweepBox(r, static_cast<int>(i));
        if (r.motion.x == 0.0 && r.motion.y == 0.0 && r.motion.z == 0.0) {
            still.push_back(box);
            widestStill = std::max(widestStill, box.hi[0] - box.lo[0]);
        } else {
            moving.push_back(box);
        }
    }
    const auto byStart = [](const SweepBox& a, const SweepBox& b) { return a.lo[0] < b.lo[0]; };
    std::sort(moving.begin(), moving.end(), byStart);
    std::sort(still.begin(), still.end(), byStart);
    auto add = [](const SweepBox& a, const SweepBox& b) {
        const auto first = static_cast<std::uint64_t>(std::min(a.index, b.index));
        const auto second = static_cast<std::uint64_t>(std::max(a.index, b.index));
        keys.push_back(first << 32 | second);
    };
    for (std::size_t k = 0; k < moving.size(); ++k) {
        const SweepBox& a = moving[k];
        for (std::size_t m = k + 1; m < moving.size() && moving[m].lo[0] <= a.hi[0]; ++m) {
            if (overlapAcross(a, moving[m])) add(a, moving[m]);
        }
        SweepBox from = a;
        from.lo[0] = a.lo[0] - widestStill;
        for (auto b = std::lower_bound(still.begin(), still.end(), from, byStart);
             b != still.end() && b->lo[0] <= a.hi[0]; ++b) {
            if (a.lo[0] <= b->hi[0] && overlapAcross(a, *b)) add(a, *b);
        }
    }
    // The all-pairs order, so that ties between equal contact times fall alike.
    std::sort(keys.begin(), keys.end());
    pairs.clear();
    for (std::uint64_t key : keys) pairs.emplace_back(static_cast<int>(key >> 32), static_cast<int>(key & 0xffffffffu));
}

void setBroadPhase(bool on) { broadPhase = on; }

bool broadPhaseOn() { return broadPhase; }
