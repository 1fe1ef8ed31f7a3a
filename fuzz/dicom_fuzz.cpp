// KVEL::readImage on a DICOM file in memory: header, functional groups,
// rescaling and GDCM's decoders. Seeds: tests/imagelib/dicom_fixtures.py seeds.
#include "imagelib/errors.h"
#include "imagelib/image_file.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    KVEL::setMessagesPrinted(false);
    // The reader itself reads every element of an image it returns (computeRange).
    delete KVEL::readImage(data, size);
    return 0;
}
