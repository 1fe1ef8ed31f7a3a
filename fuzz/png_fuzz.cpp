// The entry point's PNG decoder on arbitrary bytes, in memory.
#include "imagelib/errors.h"
#include "imagelib/image_file.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "image_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Other formats have targets of their own.
    if (KVEL::formatOf(data, size) != KVEL::FileFormat::kPng) return 0;
    KVEL::setMessagesPrinted(false);
    std::unique_ptr<KVEL::Image> image(KVEL::readImage(data, size));
    // A refusal gives a reason; a picture must be whole (the decoder's
    // computeRange has read every element).
    if (!image && std::strlen(KVEL::lastError()) == 0) __builtin_trap();
    if (image) checkWholePicture(*image);
    return 0;
}
