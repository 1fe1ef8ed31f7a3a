// Bitmap::load on arbitrary bytes, decoded in memory.
#include "imagelib/bitmap.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    KVEL::Bitmap bitmap;
    if (bitmap.load(data, size) == 1) {
        // A picture that loads must be whole: touch every pixel and the palette.
        unsigned sum = 0;
        for (int i = 0; i < bitmap.m_image_size; ++i) sum += bitmap.data()[i];
        for (int i = 0; i < bitmap.m_palette_size * 4; ++i) sum += bitmap.m_palette[i];
        if (bitmap.m_image_size != bitmap.m_dim[0] * bitmap.m_dim[1] * bitmap.m_channels) __builtin_trap();
        (void)sum;
    }
    return 0;
}
