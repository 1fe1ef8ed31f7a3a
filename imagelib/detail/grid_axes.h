#pragma once

// Axis vectors that carry their spacing in their length (a NIfTI affine's
// columns, NRRD's space directions), split into the image's spacing and unit
// directions, with the one orthogonality rule every reader applies.

#include "imagelib/space.h"

#include <string>

namespace KVEL {

// How far from orthonormal a stored direction may be: file headers keep
// single-precision numbers, and anything further off is a shear or a
// scaling no image of this library can hold.
constexpr double kDirectionTolerance = 1e-4;

// Column c of axes is index axis c's step. One zero column (a 2-D grid's
// unused axis) is completed to a right-handed frame with spacing 1. False,
// with the reason in why, when the axes are not finite or not at right angles.
bool splitAxes(const Matrix3& axes, Vec3& spacing, Matrix3& direction, std::string& why);

// False, with the reason in why, when direction is not orthonormal.
bool checkDirection(const Matrix3& direction, std::string& why);

}  // namespace KVEL
