// KVEL::readImage on NRRD files in memory: the reader is picked by the first
// bytes, as for a file. Seeds: fuzz/corpus/nrrd (attached raw and gzip data,
// other spaces, a vector axis, a header naming a data file).
#include "imagelib/errors.h"
#include "imagelib/image_file.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    KVEL::setMessagesPrinted(false);
    // The reader itself reads every element of an image it returns (computeRange).
    delete KVEL::readImage(data, size);
    return 0;
}
