#pragma once

// A registration level: channel 0 of an image as floats, with the image's
// index-to-point mapping held as an affine map (taken from <kvel/space.h>,
// which stays the one place that mapping is written) so that millions of
// lookups need no matrix inversion each.

#include "imagelib/space.h"

#include <vector>

namespace KVEL {

struct Volume {
    int dim[3] = {0, 0, 0};
    // The voxels, x fastest: `owned`, or the elements of the single-channel
    // float image the volume was taken from, which must outlive it. Moves keep
    // `values` valid; copies would not, so there are none.
    const float* values = nullptr;
    std::vector<float> owned;
    Matrix3 toPoint{};          // point = origin + toPoint * index
    Vec3 origin{};
    Matrix3 toIndex{};          // index = toIndex * point + indexOffset
    Vec3 indexOffset{};

    Volume() = default;
    Volume(Volume&&) = default;
    Volume& operator=(Volume&&) = default;
    Volume(const Volume&) = delete;
    Volume& operator=(const Volume&) = delete;

    long long size() const { return 1LL * dim[0] * dim[1] * dim[2]; }
    bool empty() const { return !values || size() == 0; }
    const float* begin() const { return values; }
    const float* end() const { return values + size(); }
    Vec3 point(const Vec3& index) const;
    Vec3 index(const Vec3& point) const;
    // The physical centre of the grid's extent.
    Vec3 centre() const;
};

// Channel 0 of the first frame; empty when the image holds none.
Volume channelZero(const Image& image);
// The grid of an image alone, without its voxels.
Volume gridOf(const Image& image);

// Smoothed by a Gaussian of sigma factor/2 voxels along each axis and kept at
// every factor-th voxel, centred; the grid's physical extent stays.
Volume shrink(const Volume& volume, const int factor[3]);

// Trilinear value and gradient (per index unit) at a continuous index; false
// outside [0, dim - 1]. An axis of extent 1 accepts |index| <= 0.5.
bool linearAt(const Volume& volume, const Vec3& index, float& value, Vec3& gradient);

}  // namespace KVEL
