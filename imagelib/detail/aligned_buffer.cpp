#include "imagelib/detail/aligned_buffer.h"

#include <cstddef>
#include <cstdlib>

namespace KVEL {

// malloc's alignment is max_align_t's, which is 16 bytes on every platform we
// build for; calloc then hands back untouched zero pages for large blocks.
static_assert(alignof(std::max_align_t) >= 16, "malloc must return 16-byte aligned blocks");

void* allocateAligned(std::size_t bytes) {
    return bytes == 0 ? nullptr : std::malloc(bytes);
}

void* allocateAlignedZeroed(std::size_t bytes) {
    return bytes == 0 ? nullptr : std::calloc(bytes, 1);
}

void freeAligned(void* block) {
    std::free(block);
}

}  // namespace KVEL
