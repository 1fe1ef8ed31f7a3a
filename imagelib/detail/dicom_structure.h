#pragma once

// A walk over a DICOM file's elements up to its pixel data, before GDCM sees
// it: Debian's GDCM asserts (and so aborts the process) on some damaged
// files, such as an element whose length runs past the end of the file.

#include "imagelib/detail/byte_source.h"

#include <string>

namespace KVEL {

// Whether every element up to the pixel data (and the pixel data's own
// length or fragments) lies within the bytes; the reason otherwise.
// [dataStart, dataEnd) is the pixel data's value (a deflated data set; the
// end of the bytes without pixel data).
bool checkDicomStructure(ByteSource& in, long long& dataStart, long long& dataEnd, std::string& why);

}  // namespace KVEL
