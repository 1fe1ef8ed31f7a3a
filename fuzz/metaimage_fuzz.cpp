// readMetaImage on a header and its data, in memory. The input's first two
// bytes (little-endian) give the header's length; the header follows (for
// LOCAL with its data after it), and the rest stands for the data file.
#include "imagelib/metaimage.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::size_t headerSize = data[0] | (data[1] << 8);
    if (headerSize > size - 2) headerSize = size - 2;
    const std::uint8_t* header = data + 2;
    // The reader itself reads every element of an image it returns (computeRange).
    delete KVEL::readMetaImage(header, headerSize, header + headerSize, size - 2 - headerSize);
    return 0;
}
