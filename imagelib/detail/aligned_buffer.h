#pragma once

// Image buffers are one 16-byte aligned block, so vector loads never split.

#include "imagelib/export.h"

#include <cstddef>

namespace KVEL {

// Null when the block cannot be allocated (or bytes is 0). Exported because
// Bitmap::createFromBuffer adopts only blocks from here.
KVEL_API void* allocateAligned(std::size_t bytes);
KVEL_API void* allocateAlignedZeroed(std::size_t bytes);
KVEL_API void freeAligned(void* block);

}  // namespace KVEL
