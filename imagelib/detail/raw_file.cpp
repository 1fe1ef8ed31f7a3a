#include "imagelib/detail/raw_file.h"

#include <cstdio>

namespace KVEL {

static int loadFailure(std::FILE* file) {
    if (file) std::fclose(file);
    std::printf("Warning: could not load image data!\n");
    return 1;
}

int readRawFile(const char* path, void* data, std::size_t bytes) {
    std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file) return loadFailure(file);
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
