// KVEL::readImage on a DICOM file in memory: header, functional groups,
// rescaling and GDCM's decoders; what it reads, the same bytes read as a
// file must give, header and slices alone. Seeds: tests/imagelib/dicom_fixtures.py seeds.
#include "imagelib/errors.h"
#include "imagelib/image_file.h"
#include "file_check.h"

#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    KVEL::setMessagesPrinted(false);
    // The reader itself reads every element of an image it returns (computeRange).
    std::unique_ptr<KVEL::Image> image(KVEL::readImage(data, size));
    checkFileReadsAgree(data, size, image.get());
    return 0;
}
