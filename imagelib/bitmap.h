#pragma once

// BMP pictures. A loaded picture has one channel per byte of a pixel (8-bit:
// palette indices, the palette is not applied), channels in file order
// (blue, green, red[, fourth byte]), row 0 at the top and no row padding.

#include <kvel/imagebase.h>

#include <cstddef>

namespace KVEL {

class KVEL_API Bitmap : public ImageBase<unsigned char> {
public:
    Bitmap();
    ~Bitmap() override;

    // 1 on success, -1 on failure. A failed load leaves the picture as it was.
    // Loading and saving print nothing; the reason for a failure is in lastError().
    int load(const char* fileName);
    // The same from the size bytes of a BMP file in memory.
    int load(const void* bytes, std::size_t size);
    // Writes an uncompressed bottom-up BMP: 1 on success, -1 on failure. A
    // failed save leaves any previous file of that name as it was.
    int save(const char* fileName);
    // init(width, height, 1, 1, channels); a non-null buffer is adopted as the
    // pixels (allocated with allocateAligned; the bitmap then frees it).
    void createFromBuffer(int width, int height, int channels, unsigned char* buffer);

    void hookA() override {}
    void hookB() override {}

    int m_bits_per_pixel;
    int m_palette_size;
    unsigned char* m_palette;  // m_palette_size entries of blue, green, red, reserved
};

}  // namespace KVEL
