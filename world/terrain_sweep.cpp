#include "world/terrain_sweep.h"

#include <algorithm>
#include <cmath>

#include "game/collision.h"

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

// Squared distance from `point` to the infinite line through `a` and `b`.
double squaredDistanceToLine(const Vector3& point, const Vector3& a, const Vector3& b) {
    const Vector3 e = (b - a).normalized();
    const Vector3 foot = a + e * e.dot(point - a);
    const Vector3 gap = foot - point;
    return gap.dot(gap);
}

struct Sweep {
    Vector3 start;
    Vector3 motion;
    double radius;
    Vector3 best;
    double bestDistance;

    // One triangle of a cell: its right-angled corner, the corner along one
    // grid axis (`first`) and the corner along the other (`second`). The cell's
    // diagonal runs from b to c. The sphere may touch the triangle's plane over
    // the triangle, or beyond one edge within one radius of that edge's line.
    void testTriangle(const Vector3& corner, const Vector3& first, const Vector3& second, const Vector3& b,
                      const Vector3& c) {
        const Vector3 n = cross(first - corner, second - corner).normalized();
        if (n.dot(motion) > 0.0) return;  // moving away from the surface
        const Vector3 m = sweepToPlane(start, motion, radius, second, n);

        const bool withinFirstEdge = (corner - first).dot(m - corner) <= 0.0;    // not beyond corner-second
        const bool withinSecondEdge = (corner - second).dot(m - corner) <= 0.0;  // not beyond corner-first
        const bool withinDiagonal = ((b + c) / 2.0 - corner).dot(m - b) <= 0.0;

        bool candidate = false;
        if (withinFirstEdge && withinSecondEdge && withinDiagonal) {
            candidate = true;
        } else if (withinFirstEdge && withinSecondEdge) {
            candidate = squaredDistanceToLine(m, b, c) <= radius * radius;
        } else if (withinFirstEdge && withinDiagonal) {
            candidate = squaredDistanceToLine(m, corner, first) <= radius * radius;
        } else if (withinSecondEdge && withinDiagonal) {
            candidate = squaredDistanceToLine(m, corner, second) <= radius * radius;
        }
        // Beyond two edges (near a corner) the neighbouring triangles decide.
        if (candidate && (m - start).length() < bestDistance) {
            best = m;
            bestDistance = (best - start).length();
        }
    }
};

}  // namespace

Vector3 gridSphereSweep(Vector3 start, Vector3 motion, double radius,
                        const std::vector<std::vector<double>>& heights, int columns, int rows) {
    Sweep sweep{start, motion, radius, start + motion, motion.length()};
    if (!isFinite(start) || !isFinite(motion) || !std::isfinite(radius)) return sweep.best;
    rows = std::min(rows, static_cast<int>(heights.size()));

    auto point = [&heights](int col, int row) { return Vector3(col, heights[row][col], row); };
    const CellRange rowRange = cellRange(start.z, motion.z, radius, rows - 1);
    const CellRange colRange = cellRange(start.x, motion.x, radius, columns - 1);
    for (int i = 0; i < rowRange.count(); ++i) {
        const int row = rowRange.at(i);
        for (int j = 0; j < colRange.count(); ++j) {
            const int col = colRange.at(j);
            const Vector3 a = point(col, row);
            const Vector3 b = point(col + 1, row);
            const Vector3 c = point(col, row + 1);
            const Vector3 e = point(col + 1, row + 1);
            sweep.testTriangle(a, c, b, b, c);
            sweep.testTriangle(e, b, c, b, c);
        }
    }
    return sweep.best;
}
