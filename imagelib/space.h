#pragma once

// Where an image's voxels lie in physical space. The library's physical space
// is LPS (x to the patient's left, y to posterior, z to superior), as DICOM,
// ITK and MetaImage use it; every file format converts to it when it reads and
// from it when it writes. A voxel's physical point is
//     position + direction * (spacing (.) index)
// where the direction's columns are the unit directions of the x, y and z
// index axes. These functions are the only place that mapping is written.

#include <kvel/imagebase.h>

#include <array>
#include <string>

namespace KVEL {

using Vec3 = std::array<double, 3>;
// Row-major: m[r][c]; column c is the direction of index axis c.
using Matrix3 = std::array<std::array<double, 3>, 3>;

KVEL_API Matrix3 identityDirection();
KVEL_API Matrix3 directionOf(const Image& image);
KVEL_API void setDirection(Image& image, const Matrix3& direction);

// The physical point of a (possibly fractional) index, and back.
KVEL_API Vec3 physicalPoint(const Image& image, const Vec3& index);
KVEL_API Vec3 continuousIndex(const Image& image, const Vec3& point);

// Position, spacing and direction of `from` given to `to`.
KVEL_API void copyGeometry(Image& to, const Image& from);

// Whether the columns are of unit length and at right angles, within `tolerance`.
KVEL_API bool isOrthonormal(const Matrix3& direction, double tolerance);

// The letters of the directions the three index axes point to most nearly,
// as ITK and nibabel name them: "LPS" for the identity, "RAS" for NIfTI's.
KVEL_API std::string orientationCode(const Matrix3& direction);

}  // namespace KVEL
