#include "imagelib/detail/raw_file.h"

#include "imagelib/detail/atomic_file.h"
#include "imagelib/detail/messages.h"

#include <cstdio>

namespace KVEL {

static int loadFailure(std::FILE* file) {
    if (file) std::fclose(file);
    reportFailure("Warning: could not load image data!");
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
    bool ok = path != nullptr;
    if (ok) {
        AtomicFile file(path);
        ok = file.write(data, bytes) && file.commit();
    }
    if (!ok) {
        reportFailure("Warning: could not save image data!");
        return 1;
    }
    return 0;
}

}  // namespace KVEL
