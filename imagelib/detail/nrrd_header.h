#pragma once

// The NRRD header: a "NRRD000n" line, then "field: value" lines (and
// "key:=value" pairs, "#" comments) up to an empty line or the end of the
// text. The data follow the empty line, or lie in the file "data file" names.

#include "imagelib/space.h"

#include <cstddef>
#include <string>

namespace KVEL {

// Axes of a NRRD image: one for the channels and four of space and time.
constexpr int kNrrdMaxAxes = 5;

struct NrrdHeader {
    int dimension = 0;
    long long sizes[kNrrdMaxAxes] = {};
    int glType = 0;
    bool gzip = false;
    bool bigEndian = false;
    bool hasEndian = false;
    // Signs that turn the header's space into LPS; set by "space" (or
    // "space dimension" alone, a space without anatomical names).
    Vec3 toLps = {1, 1, 1};
    bool hasSpace = false;
    int spaceDimension = 3;  // 4 for a space with time
    // "space directions": axis i's step (zero for "none"), in LPS, and in
    // a space with time the step's time.
    Vec3 directions[kNrrdMaxAxes] = {};
    double timeSteps[kNrrdMaxAxes] = {};
    bool noDirection[kNrrdMaxAxes] = {};
    bool hasDirections = false;
    Vec3 origin = {0, 0, 0};
    double spacings[kNrrdMaxAxes] = {};  // 0: not given
    bool vectorKind[kNrrdMaxAxes] = {};  // a kind other than domain, space or time
    std::string dataFile;
    long long lineSkip = 0;
    long long byteSkip = 0;  // -1: the data are the last bytes
};

// Whether the bytes start with a NRRD magic line.
bool isNrrd(const unsigned char* bytes, std::size_t size);

// Parses the header at the start of bytes; headerBytes is where attached data
// begin. False with the reason in why.
bool parseNrrdHeader(const unsigned char* bytes, std::size_t size, NrrdHeader& header, std::size_t& headerBytes,
                     std::string& why);

// The NRRD spelling of an element type ("uint8", "float", ...); null for none.
const char* nrrdTypeName(int glType);

}  // namespace KVEL
