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

// Whether RLE pixel data (fragments in [dataStart, dataEnd), as checked
// above) hold a fragment per frame, each with an RLE header of `segments`
// segments whose offsets rise within it: GDCM's decoder divides by the count
// and reads past its offset table otherwise.
bool checkRleFrames(ByteSource& in, long long dataStart, long long dataEnd, int frames, int segments, std::string& why);

}  // namespace KVEL
