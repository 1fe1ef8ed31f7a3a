#pragma once

// Picture formats hold 8-bit channels (PNG also 16-bit unsigned): other
// element types reach them through each channel's value range.

#include <kvel/image_file.h>

#include "operation.h"

namespace kvelops {

// Whether an image of this element type must become bytes for the format.
bool needsBytes(KVEL::FileFormat format, int glType);

// The first frame mapped through each channel's range onto 0..255, channels
// kept, with the image's position, spacing and direction. Throws Refusal.
ImagePtr toBytes(KVEL::Image& image);

}  // namespace kvelops
