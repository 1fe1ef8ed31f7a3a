// Bitmap::load on arbitrary bytes, decoded in memory, and the entry point's
// BMP reader, which also takes 1 and 4-bit and run-length coded pictures.
#include "imagelib/bitmap.h"
#include "imagelib/errors.h"
#include "imagelib/image_file.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "image_check.h"

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
    if (KVEL::formatOf(data, size) != KVEL::FileFormat::kBmp) return 0;
    KVEL::setMessagesPrinted(false);
    std::unique_ptr<KVEL::Image> image(KVEL::readImage(data, size));
    if (!image && std::strlen(KVEL::lastError()) == 0) __builtin_trap();
    if (image) checkWholePicture(*image);
    return 0;
}
