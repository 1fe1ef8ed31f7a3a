#pragma once

#include <vector>

#include "game/vector3.h"

// The centre of a sphere of radius `radius` that moves from `start` by `motion`
// at its first contact with the terrain surface, or start + motion when there is
// none. Works in grid space: x and z in grid steps (grid point (col, row) lies at
// (col, heights[row][col], row)), y and the heights in world units. Each cell is
// split along its B-C diagonal into two triangles. `heights` must hold at least
// `rows` rows of at least `columns` values; positions outside the grid are
// simply not tested.
Vector3 gridSphereSweep(Vector3 start, Vector3 motion, double radius,
                        const std::vector<std::vector<double>>& heights, int columns, int rows);
