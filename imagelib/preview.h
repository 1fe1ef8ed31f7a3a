#pragma once

// A picture to judge a scan by eye: its three middle slices in the patient's
// own axes, whatever order the voxels are stored in, each labelled with the
// letters of its edges.
//
// The panels follow the radiological convention:
//   axial     seen from the feet:  R on the left, L on the right, A on top, P below;
//   coronal   seen from the front: R on the left, L on the right, S on top, I below;
//   sagittal  seen from the left:  A on the left, P on the right, S on top, I below.
// They stand left to right in that order on a black ground, the letters in the
// margins around them. An image one voxel thick along a patient axis (a 2-D
// picture, a single slice) gives the one panel of its plane. The slices are
// resampled (trilinear, square pixels) through the direction and spacing
// (<kvel/space.h>), so an LPS-stored, RAS-stored or oblique volume of the same
// anatomy gives the same picture. Channel 0 of the first frame is drawn, grey
// from its smallest value (black) to its largest (white).

#include <kvel/imagebase.h>

#include <vector>

namespace KVEL {

// Where one panel lies in the picture, and the letters drawn at its edges.
struct PreviewPanel {
    char plane;  // 'A' axial, 'C' coronal, 'S' sagittal
    int x, y, width, height;
    char left, right, top, bottom;
};

// The preview of `base` as a new RGB picture of MET_UCHAR owned by the caller.
// With an `overlay` on the same grid (the same x, y and z sizes; no transform
// between them) the panels alternate between the two in squares of
// `checkerSize` pixels, each grey through its own range. `panels`, when
// given, receives the layout. Null with the reason in lastError() for an empty
// image, a direction matrix that cannot be inverted, an overlay of another
// grid or a checker size below 1.
KVEL_API Image* previewPicture(const Image& base, const Image* overlay = nullptr, int checkerSize = 16,
                               std::vector<PreviewPanel>* panels = nullptr);

}  // namespace KVEL
