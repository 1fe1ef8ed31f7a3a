#pragma once

// Where a NIfTI header places its voxels. NIfTI's world is RAS (x to the
// patient's right, y to anterior); the library's is LPS, so x and y change
// sign here, in both directions, and nowhere else.

#include "imagelib/detail/nifti_header.h"
#include "imagelib/space.h"

#include <string>

namespace KVEL {

struct NiftiPlacement {
    Vec3 position;
    Vec3 spacing;
    Matrix3 direction;
};

// From the sform when its code is set, else the qform (quaternion and
// qfac), else pixdim alone. False with why for a grid no image holds.
bool niftiPlacement(const NiftiHeader& header, NiftiPlacement& placement, std::string& why);

// The image's placement as both sform and qform (codes "scanner"), with
// qfac and pixdim[1..3]; pixdim[4] and above are left as they are.
void setNiftiPlacement(const Image& image, NiftiHeader& header);

}  // namespace KVEL
