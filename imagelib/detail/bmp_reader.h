#pragma once

// Reading a BMP file's bytes into a Bitmap, shared by Bitmap::load and the
// BMP format of the one entry point.

#include "imagelib/bitmap.h"
#include "imagelib/detail/byte_source.h"

#include <string>

namespace KVEL {

// Empty on success. Otherwise why the bytes are no BMP picture this library
// reads; the bitmap is then as it was. Bitmap::load reads 8 to 32 bits per
// pixel, uncompressed; with lowDepths 1 and 4-bit pictures and run-length
// coded ones (RLE8, RLE4) are read too, as one byte of palette index per pixel.
std::string readBitmap(Bitmap& bitmap, ByteSource& source, bool lowDepths = false);

}  // namespace KVEL
