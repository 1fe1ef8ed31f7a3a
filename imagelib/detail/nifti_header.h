#pragma once

// The NIfTI-1 (348 bytes) and NIfTI-2 (540 bytes) headers: the fields this
// library uses, read in either byte order and written in this machine's.

#include <cstddef>
#include <string>

namespace KVEL {

struct NiftiHeader {
    int version = 1;       // 1 or 2
    bool swapped = false;  // stored in the other byte order than this machine's
    bool pair = false;     // a .hdr whose data are in the .img beside it
    long long dim[8] = {};
    double pixdim[8] = {};
    int datatype = 0;
    int bitpix = 0;
    int units = 0;  // xyzt_units
    long long voxOffset = 0;
    double slope = 0, inter = 0;
    int qformCode = 0, sformCode = 0;
    int intent = 0;          // intent_code
    double quatern[3] = {};  // quatern_b, _c, _d
    double qoffset[3] = {};
    double srow[3][4] = {};
};

constexpr std::size_t kNifti1Size = 348;
constexpr std::size_t kNifti2Size = 540;

// The header's size (348 or 540) when the bytes start with a NIfTI header's
// size field in either byte order, 0 otherwise. Needs 4 bytes.
std::size_t niftiHeaderSize(const unsigned char* bytes, std::size_t size);
// Parses a header of niftiHeaderSize bytes; false when its magic is not NIfTI's.
bool parseNiftiHeader(const unsigned char* bytes, std::size_t size, NiftiHeader& header);
// The version's whole header, in this machine's byte order, into out (kNifti2Size bytes of room).
std::size_t writeNiftiHeader(const NiftiHeader& header, unsigned char* out);

}  // namespace KVEL
