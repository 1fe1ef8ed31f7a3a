#pragma once

// What the header of one DICOM file says, read up to its pixel data (never
// the pixels themselves), and the DICOM files a folder holds.

#include "imagelib/detail/dicom_stack.h"

#include <istream>
#include <string>
#include <vector>

namespace KVEL {

struct DicomHeader {
    std::string path;
    long long dataStart = 0;     // where the pixel data's value starts (checkDicomStructure)
    long long dataEnd = 0;       // where it ends: GDCM decodes no bytes after it
    bool compressed = false;     // pixel data or the whole data set compressed
    bool rle = false;            // pixel data in RLE Lossless fragments
    bool halfChroma = false;     // YBR_FULL_422: two samples per colour pixel stored
    std::string sopClass;     // its name when known, else the UID
    bool isImage = false;     // has rows, columns and pixel bits
    std::string seriesUid;
    std::string description;  // SeriesDescription
    int rows = 0, columns = 0, frames = 1, samples = 1;
    int bitsAllocated = 0, bitsStored = 0;
    bool isSigned = false;
    double spacingX = 1, spacingY = 1, sliceSpacing = 0;
    // One per frame; slope and intercept per frame too (they may differ).
    std::vector<FramePlacement> placements;
    std::vector<double> slopes, intercepts;
};

// From a file, or from bytes in memory read through the stream `in` over
// them (name is then only what messages call them). The elements' lengths
// are checked before GDCM parses them.
bool readDicomHeader(const std::string& path, DicomHeader& header, std::string& why);
bool readDicomHeader(std::istream& in, const unsigned char* bytes, std::size_t size, const std::string& name,
                     DicomHeader& header, std::string& why);

// Whether the first bytes carry the DICM marker after the 128-byte preamble,
// or (files without one) start with a little-endian tag of group 2 or 8.
bool looksLikeDicom(const unsigned char* bytes, std::size_t size);

// The headers of every DICOM file below folder, in path order: regular files
// that look like DICOM, sub-folders followed once each (a symlink loop ends).
// Files whose header cannot be read are passed over and counted in skipped.
bool scanDicomFolder(const std::string& folder, std::vector<DicomHeader>& headers, int& skipped, std::string& why);

// Silences GDCM's own warnings on standard error; the reasons go through the library.
void quietGdcm();

}  // namespace KVEL
