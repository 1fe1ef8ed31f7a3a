#pragma once

// Rigid transforms (rotation plus translation) of 3D volumes.
//
// Parameters are six floats: translation tx, ty, tz, then the angles a, b, c
// (radians) about x, y and z. Matrices are sixteen floats in column-major
// order with the translation in m[12..14]. Note the two rotation conventions:
// rigidToMatrix builds Rz(-c) Ry(-b) Rx(-a), while applyRigidTransform and
// resampleRigid apply Rz(c) Ry(b) Rx(a); callers rely on each.

#include <kvel/imagebase.h>

namespace KVEL {

// point (3 floats) = matrix * (point, w), w = 0 for a direction, else 1.
KVEL_API void transformPoint(float* point, const float* matrix, bool isDirection);

// Translation and angles of a rigid matrix; the inverse of rigidToMatrix
// while |b| < pi/2.
KVEL_API void matrixToRigid(float* params, const float* matrix);
KVEL_API void rigidToMatrix(const float* params, float* matrix);

// a * b, stored into b when intoB, else into a.
KVEL_API void multiplyMatrices(float* a, float* b, bool intoB);

// The inverse of a rigid matrix (out may be matrix itself).
KVEL_API void invertRigid(const float* matrix, float* out);
// Negates matrix[14] in place, then inverts as invertRigid while keeping the
// input's m[3], m[7], m[11] and m[15].
KVEL_API void invertRigidFlipZ(float* matrix, float* out);

// vector (3 floats) = R * (vector + t), or R * vector for a direction.
KVEL_API void applyRigidTransform(float* vector, const float* params, bool isDirection);

// Samples the source (channel 0) under the transform about its centre into a
// one-channel image of the source's extents: a new ImageBase<float> when out
// is null. Samples outside the source are 0. Prints the share of output
// voxels the source covered. Null with a message when the source is empty or
// out does not hold W*H*D elements.
KVEL_API Image* resampleRigid(const float* params, Image* source, Image* out, bool interpolate);

}  // namespace KVEL
