#pragma once

// The bytes as a file (in memory, no disk): read from there, its header and
// its first and last slices alone must agree with the whole image the same
// bytes give from memory, and elements the header names for mapping must be
// that image's.
#include "imagelib/image_file.h"
#include "../tests/support/element_bytes.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

inline void checkFileReadsAgree(const std::uint8_t* data, std::size_t size, KVEL::Image* whole) {
    if (!whole) return;
    const int fd = memfd_create("image", 0);
    if (fd < 0) return;
    const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    KVEL::ImageHeader header;
    if (!written || KVEL::readHeader(path.c_str(), header) != 0 || header.glType != KVEL::glTypeOf(whole) ||
        header.channels != whole->m_channels || std::memcmp(header.dim, whole->m_dim, sizeof header.dim) != 0) {
        __builtin_trap();
    }
    std::size_t width = 0;
    const unsigned char* all = elementBytes(*whole, width);
    const std::size_t bytes = static_cast<std::size_t>(whole->m_image_size) * width;
    const std::uint16_t one = 1;
    if (header.dataFile == path && header.bigEndian == (*reinterpret_cast<const unsigned char*>(&one) == 0) &&
        (header.dataOffset < 0 || static_cast<std::size_t>(header.dataOffset) > size ||
         bytes > size - static_cast<std::size_t>(header.dataOffset) || std::memcmp(data + header.dataOffset, all, bytes) != 0)) {
        __builtin_trap();
    }
    // Slices of a single frame lie one after the other.
    for (const int z : {0, whole->m_dim[2] - 1}) {
        if (whole->m_dim[3] != 1) break;
        std::unique_ptr<KVEL::Image> slice(KVEL::readImage(path.c_str(), KVEL::ReadOptions{"", z, 1}));
        std::size_t sliceWidth = 0;
        if (!slice || slice->m_image_size != whole->m_slice_size || KVEL::glTypeOf(slice.get()) != KVEL::glTypeOf(whole) ||
            std::memcmp(elementBytes(*slice, sliceWidth), all + static_cast<std::size_t>(z) * whole->m_slice_size * width,
                        static_cast<std::size_t>(whole->m_slice_size) * width) != 0) {
            __builtin_trap();
        }
    }
    close(fd);
}
