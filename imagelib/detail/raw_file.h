#pragma once

// Raw element files: the buffer as it lies in memory, no header of our own.

#include <cstddef>

namespace KVEL {

// Reads `bytes` bytes into data, after skipping headerBytes bytes (-1: the data
// are the file's last bytes). 0 on success; 1 with the usual warning when the
// file cannot be opened or holds too few bytes.
int readRawFile(const char* path, void* data, std::size_t bytes, long long headerBytes);
int writeRawFile(const char* path, const void* data, std::size_t bytes);

}  // namespace KVEL
