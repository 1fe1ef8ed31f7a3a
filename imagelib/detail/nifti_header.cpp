#include "imagelib/detail/nifti_header.h"

#include <cstdint>
#include <cstring>

namespace KVEL {

namespace {

// Where each field lies in one version, and how wide it is.
struct Layout {
    std::size_t size;
    std::size_t magic;
    const char* single;  // magic of a single file; "ni" instead of "n+" for a pair
    std::size_t magicBytes;
    std::size_t dim;
    int dimWidth;
    std::size_t datatype, bitpix, pixdim;
    int realWidth;
    std::size_t voxOffset, slope, inter, qformCode, sformCode;
    int codeWidth;
    std::size_t quatern, qoffset, srow, units;
    int unitsWidth;
    std::size_t intent;
    int intentWidth;
};

const Layout kNifti1 = {kNifti1Size, 344, "n+1\0", 4, 40, 2, 70, 72, 76, 4, 108, 112, 116, 252, 254, 2, 256, 268, 280, 123, 1, 68, 2};
const Layout kNifti2 = {kNifti2Size, 4, "n+2\0\r\n\032\n", 8, 16, 8, 12, 14, 104, 8, 168, 176, 184, 344, 348, 4, 352, 376, 400, 500, 4, 504, 4};

bool littleEndianMachine() {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

class Fields {
public:
    Fields(const unsigned char* bytes, bool bigEndian) : m_bytes(bytes), m_big(bigEndian) {}

    std::uint64_t bits(std::size_t at, int width) const {
        std::uint64_t v = 0;
        for (int i = 0; i < width; ++i) {
            const int shift = 8 * (m_big ? width - 1 - i : i);
            v |= static_cast<std::uint64_t>(m_bytes[at + i]) << shift;
        }
        return v;
    }
    long long integer(std::size_t at, int width) const {
        const std::uint64_t v = bits(at, width);
        // Sign-extend from width bytes.
        const std::uint64_t sign = std::uint64_t(1) << (8 * width - 1);
        return static_cast<long long>((v ^ sign) - sign);
    }
    double real(std::size_t at, int width) const {
        const std::uint64_t v = bits(at, width);
        if (width == 8) {
            double d;
            std::memcpy(&d, &v, 8);
            return d;
        }
        const auto v32 = static_cast<std::uint32_t>(v);
        float f;
        std::memcpy(&f, &v32, 4);
        return f;
    }

private:
    const unsigned char* m_bytes;
    bool m_big;
};

// In this machine's byte order, as the data that follow the header.
void put(unsigned char* out, std::size_t at, int width, std::uint64_t v) {
    const bool little = littleEndianMachine();
    for (int i = 0; i < width; ++i) out[at + (little ? i : width - 1 - i)] = static_cast<unsigned char>(v >> (8 * i));
}

void putReal(unsigned char* out, std::size_t at, int width, double value) {
    if (width == 8) {
        std::uint64_t v;
        std::memcpy(&v, &value, 8);
        put(out, at, 8, v);
    } else {
        const float f = static_cast<float>(value);
        std::uint32_t v;
        std::memcpy(&v, &f, 4);
        put(out, at, 4, v);
    }
}

}  // namespace

std::size_t niftiHeaderSize(const unsigned char* bytes, std::size_t size) {
    if (size < 4) return 0;
    for (bool big : {false, true}) {
        const long long n = Fields(bytes, big).integer(0, 4);
        if (n == static_cast<long long>(kNifti1Size) || n == static_cast<long long>(kNifti2Size)) return static_cast<std::size_t>(n);
    }
    return 0;
}

bool parseNiftiHeader(const unsigned char* bytes, std::size_t size, NiftiHeader& h) {
    const std::size_t headerSize = niftiHeaderSize(bytes, size);
    if (!headerSize || size < headerSize) return false;
    const Layout& l = headerSize == kNifti1Size ? kNifti1 : kNifti2;
    const unsigned char* magic = bytes + l.magic;
    if (magic[0] != 'n' || (magic[1] != '+' && magic[1] != 'i') || std::memcmp(magic + 2, l.single + 2, l.magicBytes - 2) != 0) {
        return false;
    }
    const bool big = Fields(bytes, true).integer(0, 4) == static_cast<long long>(headerSize);
    const Fields f(bytes, big);
    h.version = headerSize == kNifti1Size ? 1 : 2;
    h.swapped = big == littleEndianMachine();
    h.pair = magic[1] == 'i';
    for (int i = 0; i < 8; ++i) {
        h.dim[i] = f.integer(l.dim + i * l.dimWidth, l.dimWidth);
        h.pixdim[i] = f.real(l.pixdim + i * l.realWidth, l.realWidth);
    }
    h.datatype = static_cast<int>(f.integer(l.datatype, 2));
    // NIfTI-1 keeps the data's offset in a float.
    const double offset = h.version == 1 ? f.real(l.voxOffset, 4) : static_cast<double>(f.integer(l.voxOffset, 8));
    h.voxOffset = offset >= 0 && offset < 9e18 ? static_cast<long long>(offset) : -1;
    h.slope = f.real(l.slope, l.realWidth);
    h.inter = f.real(l.inter, l.realWidth);
    h.qformCode = static_cast<int>(f.integer(l.qformCode, l.codeWidth));
    h.sformCode = static_cast<int>(f.integer(l.sformCode, l.codeWidth));
    h.intent = static_cast<int>(f.integer(l.intent, l.intentWidth));
    for (int i = 0; i < 3; ++i) {
        h.quatern[i] = f.real(l.quatern + i * l.realWidth, l.realWidth);
        h.qoffset[i] = f.real(l.qoffset + i * l.realWidth, l.realWidth);
        for (int j = 0; j < 4; ++j) h.srow[i][j] = f.real(l.srow + (4 * i + j) * l.realWidth, l.realWidth);
    }
    return true;
}

std::size_t writeNiftiHeader(const NiftiHeader& h, unsigned char* out) {
    const Layout& l = h.version == 1 ? kNifti1 : kNifti2;
    std::memset(out, 0, l.size);
    put(out, 0, 4, l.size);
    std::memcpy(out + l.magic, l.single, l.magicBytes);
    for (int i = 0; i < 8; ++i) {
        put(out, l.dim + i * l.dimWidth, l.dimWidth, static_cast<std::uint64_t>(h.dim[i]));
        putReal(out, l.pixdim + i * l.realWidth, l.realWidth, h.pixdim[i]);
    }
    put(out, l.datatype, 2, static_cast<std::uint64_t>(h.datatype));
    put(out, l.bitpix, 2, static_cast<std::uint64_t>(h.bitpix));
    put(out, l.units, l.unitsWidth, static_cast<std::uint64_t>(h.units));
    if (h.version == 1) {
        putReal(out, l.voxOffset, 4, static_cast<double>(h.voxOffset));
    } else {
        put(out, l.voxOffset, 8, static_cast<std::uint64_t>(h.voxOffset));
    }
    putReal(out, l.slope, l.realWidth, h.slope);
    putReal(out, l.inter, l.realWidth, h.inter);
    put(out, l.qformCode, l.codeWidth, static_cast<std::uint64_t>(h.qformCode));
    put(out, l.sformCode, l.codeWidth, static_cast<std::uint64_t>(h.sformCode));
    put(out, l.intent, l.intentWidth, static_cast<std::uint64_t>(h.intent));
    for (int i = 0; i < 3; ++i) {
        putReal(out, l.quatern + i * l.realWidth, l.realWidth, h.quatern[i]);
        putReal(out, l.qoffset + i * l.realWidth, l.realWidth, h.qoffset[i]);
        for (int j = 0; j < 4; ++j) putReal(out, l.srow + (4 * i + j) * l.realWidth, l.realWidth, h.srow[i][j]);
    }
    return l.size;
}

}  // namespace KVEL
