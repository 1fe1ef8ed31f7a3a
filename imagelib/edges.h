#pragma once

// Edge detection in three steps (gradient magnitude, non-maximum suppression
// across the edge, hysteresis with a high threshold of three times the low
// one), plus the eigen-analysis of symmetric 2x2 matrix fields and Gaussian
// kernels for Image::filter.

#include <kvel/imagebase.h>

namespace KVEL {

// Edges of slice 0, channel 0: edgeMap (width*height bytes, caller-owned)
// receives 255 on an edge and 0 elsewhere; the outer border is never an edge.
// Returns 0, or 1 when the image has no data or edgeMap is null.
KVEL_API int detectEdges2D(Image* image, float lowThreshold, unsigned char* edgeMap);

// Edges of a one-channel volume: edge voxels of the image are overwritten
// with 4095 (converted to its element type). Returns 0, or 1 when the volume
// is refused (no data, several channels, or smaller than 3x3x3).
KVEL_API int detectEdges3D(Image* image, float lowThreshold);

// For every voxel of a three-channel tensor image (p, q, r) = ((p q) (q r)):
// appends both eigenvalues (larger first) to eigenvalues and, when given, the
// unit eigenvector of the larger one ((0, 0) where both are equal) to
// eigenvectors and its perpendicular to normals; then computes each given
// output's range. The outputs need two channels and the tensor's voxel count. Returns the last output's
// computeRange(), or the tensor's channel count when it is not 3.
KVEL_API float eigenDecompose2x2(Image* tensor, Image* eigenvalues, Image* eigenvectors, Image* normals);

// A normalised rows x cols Gaussian (row-major, centred), allocated with
// new[] for the caller; null with a message when the size or sigma is unusable.
KVEL_API float* gaussianKernel(int rows, int cols, float sigma);

}  // namespace KVEL
