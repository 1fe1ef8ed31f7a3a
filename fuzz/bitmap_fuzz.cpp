// Bitmap::load on arbitrary bytes: it reads files only, so each input is
// written to one temporary file per process first.
#include "imagelib/bitmap.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// One input file per process, unique on the machine and removed at exit.
const std::string& inputPath() {
    static const struct Scratch {
        Scratch() {
            std::string pattern = (std::filesystem::temp_directory_path() / "bitmap_fuzz_XXXXXX").string();
            const int fd = mkstemp(&pattern[0]);
            if (fd >= 0) {
                close(fd);
                path = pattern;
            }
        }
        ~Scratch() {
            if (!path.empty()) std::remove(path.c_str());
        }
        std::string path;
    } scratch;
    return scratch.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(inputPath().c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    KVEL::Bitmap bitmap;
    if (bitmap.load(inputPath().c_str()) == 1) {
        // A picture that loads must be whole: touch every pixel and the palette.
        unsigned sum = 0;
        for (int i = 0; i < bitmap.m_image_size; ++i) sum += bitmap.data()[i];
        for (int i = 0; i < bitmap.m_palette_size * 4; ++i) sum += bitmap.m_palette[i];
        if (bitmap.m_image_size != bitmap.m_dim[0] * bitmap.m_dim[1] * bitmap.m_channels) __builtin_trap();
        (void)sum;
    }
    std::remove(inputPath().c_str());
    return 0;
}
