#include "imagelib/detail/aligned_buffer.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace KVEL {

// malloc's alignment is max_align_t's, which is 16 bytes on every platform we
// build for; calloc then hands back untouched zero pages for large blocks.
static_assert(alignof(std::max_align_t) >= 16, "malloc must return 16-byte aligned blocks");

namespace {

// A new large result is written page by page, and with 4 KiB pages the
// faults cost more than the operation itself (a 2048 x 2048 gradient: 175 ms
// into a new image, 3 ms into an old one). Large blocks are therefore
// aligned to 2 MiB and offered to the kernel as huge pages.
constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kHugeFrom = std::size_t(4) << 20;

// Every block lies this far or further into what malloc gave, and the pointer
// malloc gave sits just before the block, for freeAligned. The alignment is
// done here and not by aligned_alloc: glibc gives a 2 MiB-aligned block its own
// mapping and unmaps it when freed, so each new result of the same size paid
// its page faults again (a 2048 x 2048 resampling to half size into a new
// image took twice as long as into an old one). A plain malloc block of a
// size seen before comes back from the heap with its pages in place.
constexpr std::size_t kHeader = 16;

void* place(void* raw, std::size_t offset) {
    if (!raw) return nullptr;
    void* block = static_cast<char*>(raw) + offset;
    static_cast<void**>(block)[-1] = raw;
    return block;
}

void* allocateLarge(std::size_t bytes) {
    if (bytes > SIZE_MAX - 2 * kHugePage - kHeader) return nullptr;
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* raw = std::malloc(rounded + kHugePage + kHeader);
    if (!raw) return nullptr;
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(raw) + kHeader;
    const std::size_t offset = kHeader + (kHugePage - at % kHugePage) % kHugePage;
    void* block = place(raw, offset);
    madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}

}  // namespace

void* allocateAligned(std::size_t bytes) {
    if (bytes == 0) return nullptr;
    if (bytes >= kHugeFrom) return allocateLarge(bytes);
    return bytes > SIZE_MAX - kHeader ? nullptr : place(std::malloc(bytes + kHeader), kHeader);
}

void* allocateAlignedZeroed(std::size_t bytes) {
    if (bytes == 0) return nullptr;
    if (bytes < kHugeFrom) return place(std::calloc(bytes + kHeader, 1), kHeader);
    // The block may be reused heap memory, so it is zeroed here.
    void* block = allocateLarge(bytes);
    if (block) std::memset(block, 0, bytes);
    return block;
}

void freeAligned(void* block) {
    if (block) std::free(static_cast<void**>(block)[-1]);
}

}  // namespace KVEL
