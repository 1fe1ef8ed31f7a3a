#pragma once

#include <vector>

#include "game/vector3.h"

// The centre of a sphere of radius `radius` that moves from `start` by `motion`
// at its first contact with the terrain surface (a face, an edge or a corner of
// its triangles), or start + motion when there is none. Works in grid space: x
// and z in grid steps (grid point (col, row) lies at (col, heights[row][col],
// row)), y and the heights in world units. Each cell is split along its B-C
// diagonal into two triangles. The grid is `rows` rows of `columns` values,
// limited to what `heights` holds; positions outside it are simply not tested.
Vector3 gridSphereSweep(Vector3 start, Vector3 motion, double radius,
                        const std::vector<std::vector<double>>& heights, int columns, int rows);
