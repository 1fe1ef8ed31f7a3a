#include "pictures.h"

#include <kvel/space.h>

#include "imagelib/detail/uncleared_image.h"

namespace kvelops {

bool needsBytes(KVEL::FileFormat format, int glType) {
    switch (format) {
        case KVEL::FileFormat::kBmp:
        case KVEL::FileFormat::kJpeg: return glType != KVEL::kGlUnsignedByte;
        case KVEL::FileFormat::kPng: return glType != KVEL::kGlUnsignedByte && glType != KVEL::kGlUnsignedShort;
        default: return false;
    }
}

ImagePtr toBytes(KVEL::Image& image) {
    auto bytes = std::make_unique<KVEL::ImageBase<unsigned char>>();
    bytes->m_verbose = 0;
    // toBytes maps one frame: the result holds exactly that, every element written.
    if (KVEL::initUncleared(*bytes, image.m_dim[0], image.m_dim[1], image.m_dim[2], 1, image.m_channels) != 0 ||
        !bytes->data()) {
        throw Refusal("to_bytes", libraryReason("out of memory"));
    }
    KVEL::copyGeometry(*bytes, image);
    image.computeRange();
    if (!image.toBytes(bytes->data(), false)) throw Refusal("to_bytes", libraryReason("out of memory"));
    return bytes;
}

}  // namespace kvelops
