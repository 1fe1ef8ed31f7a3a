#pragma once

// Reading a BMP file's bytes into a Bitmap, shared by Bitmap::load and the
// BMP format of the one entry point.

#include "imagelib/bitmap.h"
#include "imagelib/detail/byte_source.h"

#include <string>

namespace KVEL {

// Empty on success. Otherwise why the bytes are no BMP picture this library
// reads; the bitmap is then as it was.
std::string readBitmap(Bitmap& bitmap, ByteSource& source);

}  // namespace KVEL
