#include "imagelib/detail/tiff_client.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

namespace KVEL {

namespace {

TiffClient& clientOf(thandle_t handle) { return *static_cast<TiffClient*>(handle); }

tmsize_t readProc(thandle_t handle, void* out, tmsize_t n) {
    TiffClient& c = clientOf(handle);
    if (c.file) return static_cast<tmsize_t>(std::fread(out, 1, static_cast<std::size_t>(n), c.file));
    if (n < 0 || c.position >= c.size) return 0;
    const toff_t count = std::min<toff_t>(static_cast<toff_t>(n), c.size - c.position);
    std::memcpy(out, c.bytes + c.position, static_cast<std::size_t>(count));
    c.position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeProc(thandle_t handle, void* data, tmsize_t n) {
    TiffClient& c = clientOf(handle);
    if (!c.file || n < 0) return -1;
    const std::size_t written = std::fwrite(data, 1, static_cast<std::size_t>(n), c.file);
    if (written != static_cast<std::size_t>(n)) c.failed = true;
    return static_cast<tmsize_t>(written);
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    TiffClient& c = clientOf(handle);
    if (c.file) {
        if (fseeko(c.file, static_cast<off_t>(offset), whence) != 0) {
            c.failed = true;
            return static_cast<toff_t>(-1);
        }
        return static_cast<toff_t>(ftello(c.file));
    }
    // libtiff passes negative offsets for SEEK_CUR and SEEK_END as wrapped unsigned values.
    toff_t base = whence == SEEK_CUR ? c.position : whence == SEEK_END ? c.size : 0;
    const toff_t target = base + offset;
    if (target > c.size) return static_cast<toff_t>(-1);
    c.position = target;
    return target;
}

int closeProc(thandle_t) { return 0; }

toff_t sizeProc(thandle_t handle) {
    TiffClient& c = clientOf(handle);
    if (!c.file) return c.size;
    const off_t here = ftello(c.file);
    if (here < 0 || fseeko(c.file, 0, SEEK_END) != 0) return 0;
    const off_t end = ftello(c.file);
    if (fseeko(c.file, here, SEEK_SET) != 0) c.failed = true;
    return end < 0 ? 0 : static_cast<toff_t>(end);
}

// Memory is handed to libtiff as a mapped file, so it reads strips in place.
int mapProc(thandle_t handle, void** base, toff_t* size) {
    TiffClient& c = clientOf(handle);
    if (c.file) return 0;
    *base = const_cast<unsigned char*>(c.bytes);
    *size = c.size;
    return 1;
}

void unmapProc(thandle_t, void*, toff_t) {}

int keepError(TIFF*, void* data, const char* module, const char* format, va_list args) {
    std::string& error = static_cast<TiffClient*>(data)->error;
    if (error.empty()) {
        char line[512];
        std::vsnprintf(line, sizeof line, format, args);
        error = (module && *module ? std::string(module) + ": " : std::string()) + line;
        std::replace(error.begin(), error.end(), '\n', ' ');
    }
    return 1;
}

int dropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

Tiff open(TiffClient& client, const char* mode, tmsize_t maxAllocation) {
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) {
        client.error = "out of memory";
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), keepError, &client);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), dropWarning, &client);
    if (maxAllocation > 0) TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), maxAllocation);
    Tiff tif(TIFFClientOpenExt("TIFF", mode, &client, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                               unmapProc, options.get()));
    return tif;
}

}  // namespace

Tiff openTiffBytes(TiffClient& client, const unsigned char* bytes, std::size_t size, tmsize_t maxAllocation) {
    client.bytes = bytes;
    client.size = size;
    return open(client, "r", maxAllocation);
}

Tiff openTiffFile(TiffClient& client, std::FILE* file, tmsize_t maxAllocation) {
    client.file = file;
    return open(client, "r", maxAllocation);
}

Tiff openTiffStream(TiffClient& client, std::FILE* file, bool bigTiff) {
    client.file = file;
    return open(client, bigTiff ? "w8" : "w", 0);
}

}  // namespace KVEL
