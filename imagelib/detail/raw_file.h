#pragma once

// Raw element files: the buffer as it lies in memory, no header of our own.

#include <cstddef>

namespace KVEL {

// Reads the first `bytes` bytes of the file into data. 0 on success; 1 with
// the usual warning when the file cannot be opened or holds too few bytes.
int readRawFile(const char* path, void* data, std::size_t bytes);
int writeRawFile(const char* path, const void* data, std::size_t bytes);

}  // namespace KVEL
