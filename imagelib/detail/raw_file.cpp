#include "imagelib/detail/raw_file.h"

#include <cstdio>

namespace KVEL {

static int loadFailure(std::FILE* file) {
    if (file) std::fclose(file);
    std::printf("Warning: could not load image data!\n");
    return 1;
}

int readRawFile(const char* path, void* data, std::size_t bytes, long long headerBytes) {
    std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file) return loadFailure(file);
    if (headerBytes == -1) {
        if (std::fseek(file, 0, SEEK_END) != 0) return loadFailure(file);
        const long long size = std::ftell(file);
        if (size < 0 || static_cast<unsigned long long>(size) < bytes) return loadFailure(file);
        headerBytes = size - static_cast<long long>(bytes);
    }
    if (headerBytes < 0 || std::fseek(file, static_cast<long>(headerBytes), SEEK_SET) != 0) {
        return loadFailure(file);
    }
    if (bytes > 0 && std::fread(data, 1, bytes, file) != bytes) return loadFailure(file);
    std::fclose(file);
    return 0;
}

int writeRawFile(const char* path, const void* data, std::size_t bytes) {
    std::FILE* file = path ? std::fopen(path, "wb") : nullptr;
    bool ok = file && (bytes == 0 || std::fwrite(data, 1, bytes, file) == bytes);
    if (file && std::fclose(file) != 0) ok = false;
    if (!ok) {
        std::printf("Warning: could not save image data!\n");
        return 1;
    }
    return 0;
}

}  // namespace KVEL
