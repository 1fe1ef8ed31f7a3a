#pragma once

// How the frames of a DICOM series lie: sorted along the slice normal, with
// the spacing their positions give. No GDCM here: only the numbers.

#include <kvel/space.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace KVEL {

struct FramePlacement {
    bool placed = false;               // ImagePositionPatient and ImageOrientationPatient given
    Vec3 position{};                   // LPS, millimetres
    std::array<double, 6> orientation{};  // row direction, then column direction
};

struct Stack {
    std::vector<std::size_t> order;  // frame indices from the lowest position along the normal
    Vec3 origin{};
    Matrix3 direction = identityDirection();
    double spacing = 1;
};

// The frames sorted by their position along the normal of their common
// orientation. A single frame, or frames without placement (kept in stored
// order), take sliceSpacing. False with the reason when the frames have
// different orientations, lie at one position, are tilted against the
// normal (gantry tilt) or are unevenly spaced.
bool stackFrames(const std::vector<FramePlacement>& frames, double sliceSpacing, Stack& stack, std::string& why);

}  // namespace KVEL
