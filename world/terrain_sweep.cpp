#include "world/terrain_sweep.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "game/sphere_sweep.h"

namespace {

// The cells along one axis that a sphere moving from `start` by `motion` can
// reach, widened by the radius and limited to the grid's `cells` cells, in the
// direction of travel. Clipping to the grid (rather than giving up when the
// start lies off it) keeps spheres near an edge from falling through the terrain.
struct CellRange {
    int first = 0;
    int last = -1;
    int step = 1;
    int count() const { return step > 0 ? last - first + 1 : first - last + 1; }
    int at(int i) const { return first + i * step; }
};

CellRange cellRange(double start, double motion, double radius, int cells) {
    const double end = start + motion;
    const double low = std::max(std::floor(std::min(start, end) - radius), 0.0);
    const double high = std::min(std::floor(std::max(start, end) + radius), cells - 1.0);
    if (!(low <= high)) return {};
    const int lowCell = static_cast<int>(low);
    const int highCell = static_cast<int>(high);
    if (motion >= 0.0) return {lowCell, highCell, 1};
    return {highCell, lowCell, -1};
}

bool isFinite(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

Vector3 gridSphereSweep(Vector3 start, Vector3 motion, double radius,
                        const std::vector<std::vector<double>>& heights, int columns, int rows) {
    Vector3 best = start + motion;
    const double length = motion.length();
    double bestDistance = length;
    if (!isFinite(start) || !isFinite(motion) || !std::isfinite(radius) || bestDistance == 0.0) return best;
    rows = std::min(rows, static_cast<int>(heights.size()));

    // Each cell splits along its B-C diagonal into the triangles ABC and EBC,
    // both facing up.
    auto point = [&heights](int col, int row) { return Vector3(col, heights[row][col], row); };
    auto consider = [&](const std::optional<Vector3>& contact) {
        if (!contact) return;
        const double distance = (*contact - start).length();
        if (distance < bestDistance) {
            best = *contact;
            bestDistance = distance;
        }
    };
    const CellRange rowRange = cellRange(start.z, motion.z, radius, rows - 1);
    for (int i = 0; i < rowRange.count(); ++i) {
        const int row = rowRange.at(i);
        // A cell reads its own row and the next; rows shorter than `columns` limit it.
        const int rowColumns = static_cast<int>(std::min(heights[row].size(), heights[row + 1].size()));
        const CellRange colRange = cellRange(start.x, motion.x, radius, std::min(columns, rowColumns) - 1);
        for (int j = 0; j < colRange.count(); ++j) {
            const int col = colRange.at(j);
            const Vector3 a = point(col, row);
            const Vector3 b = point(col + 1, row);
            const Vector3 c = point(col, row + 1);
            const Vector3 e = point(col + 1, row + 1);
            consider(sweepToTriangle(start, motion, radius, a, c, b, bestDistance / length));
            consider(sweepToTriangle(start, motion, radius, e, b, c, bestDistance / length));
        }
    }
    return best;
}
