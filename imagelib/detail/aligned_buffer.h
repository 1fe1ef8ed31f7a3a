#pragma once

// Image buffers are one 16-byte aligned block, so vector loads never split.

#include <cstddef>

namespace KVEL {

// Null when the block cannot be allocated (or bytes is 0).
void* allocateAligned(std::size_t bytes);
void* allocateAlignedZeroed(std::size_t bytes);
void freeAligned(void* block);

}  // namespace KVEL
