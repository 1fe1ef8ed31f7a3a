#pragma once

// The 3x3 derivative pair shared by the edge detector and the vector-field
// functions: the kernel with rows (1, 2, 1), (0, 0, 0), (-1, -2, -1) (rows
// along y) and its transpose, each sum divided by 9. Terms are added row by
// row in kernel order, zero entries skipped, so every caller gets the same bits.

namespace KVEL {

// above, row and below are three consecutive rows; x is an interior column.
// alongY responds to changes in y, alongX to changes in x.
inline void derivativePair(const float* above, const float* row, const float* below, int x,
                           float& alongY, float& alongX) {
    float y = above[x - 1];
    y += 2 * above[x];
    y += above[x + 1];
    y -= below[x - 1];
    y -= 2 * below[x];
    y -= below[x + 1];
    float s = above[x - 1];
    s += 2 * row[x - 1];
    s += below[x - 1];
    s -= above[x + 1];
    s -= 2 * row[x + 1];
    s -= below[x + 1];
    alongY = y / 9;
    alongX = s / 9;
}

}  // namespace KVEL
