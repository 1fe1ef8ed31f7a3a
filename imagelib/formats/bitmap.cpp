#include "imagelib/bitmap.h"

#include "imagelib/detail/aligned_buffer.h"
#include "imagelib/detail/atomic_file.h"
#include "imagelib/detail/bmp_reader.h"
#include "imagelib/detail/messages.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace KVEL {

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kPaletteEntries = 256;
// Pixels are read through a staging block of about this many bytes.
constexpr long long kReadChunk = 1 << 20;
constexpr long long kRunLengthRatio = 1024;

std::uint32_t readU32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t readU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void writeU32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void writeU16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

// The fields of the file header and of the first 40 bytes of the info header.
struct BmpHeader {
    std::uint16_t type;
    std::uint32_t offBits;
    std::uint32_t infoSize;
    std::int32_t width;
    std::int32_t height;
    std::uint16_t bitCount;
    std::uint32_t compression;
    std::int32_t xPelsPerMeter;
    std::int32_t yPelsPerMeter;
    std::uint32_t clrUsed;

    explicit BmpHeader(const unsigned char* b)
        : type(readU16(b)),
          offBits(readU32(b + 10)),
          infoSize(readU32(b + 14)),
          width(static_cast<std::int32_t>(readU32(b + 18))),
          height(static_cast<std::int32_t>(readU32(b + 22))),
          bitCount(readU16(b + 28)),
          compression(readU32(b + 30)),
          xPelsPerMeter(static_cast<std::int32_t>(readU32(b + 38))),
          yPelsPerMeter(static_cast<std::int32_t>(readU32(b + 42))),
          clrUsed(readU32(b + 46)) {}
};

long long paddedRowBytes(long long bits, long long width) {
    return ((bits * width + 31) >> 5) * 4;
}

// The bytes that hold a row's pixels, without the padding.
long long rowBytes(long long bits, long long width) { return (bits * width + 7) / 8; }

// One stored row to one index or sample byte per channel: 1 and 4-bit
// indices are packed from the high bits down.
void unpackRow(const unsigned char* in, int bits, long long bytes, unsigned char* out) {
    if (bits >= 8) {
        std::memcpy(out, in, static_cast<std::size_t>(bytes));
        return;
    }
    const int mask = (1 << bits) - 1;
    for (long long x = 0; x < bytes; ++x) {
        const long long bit = x * bits;
        out[x] = static_cast<unsigned char>((in[bit / 8] >> (8 - bits - bit % 8)) & mask);
    }
}

// Uncompressed rows of `bits` per pixel, bottom-up unless topDown. Files are
// read through a staging block; memory is copied from in place.
std::string readRows(ByteSource& source, int bits, int width, int rows, bool topDown, long long stride,
                     unsigned char* pixels) {
    const long long padded = paddedRowBytes(bits, width), last = rowBytes(bits, width);
    const long long rowsPerChunk = std::max(1LL, kReadChunk / padded);
    std::vector<unsigned char> staging;
    for (long long first = 0; first < rows; first += rowsPerChunk) {
        const long long count = std::min(rowsPerChunk, rows - first);
        const long long end = first + count;
        const std::size_t bytes = static_cast<std::size_t>(count * padded - (end == rows ? padded - last : 0));
        const unsigned char* chunk = nullptr;
        if (source.next(bytes, staging, chunk) != bytes) return "the pixels are cut short";
        for (long long j = first; j < end; ++j) {
            const long long row = topDown ? j : rows - 1 - j;
            unpackRow(chunk + (j - first) * padded, bits, bits >= 8 ? stride : width, pixels + row * stride);
        }
    }
    return "";
}

// Run-length coded indices (RLE8, or RLE4 with two to a byte) in file row
// order. Runs are cut at the row's end; what no code reaches stays index 0.
// False when the data end before the end-of-picture code or the last row.
bool decodeRunLengths(const unsigned char* in, std::size_t size, int bits, int width, int rows, bool topDown,
                      unsigned char* out) {
    long long x = 0, y = 0;
    const auto put = [&](int value) {
        if (x < width && y < rows) out[(topDown ? y : rows - 1 - y) * width + x] = static_cast<unsigned char>(value);
        ++x;
    };
    const auto nibble = [](int byte, int k) { return k % 2 ? byte & 15 : byte >> 4; };
    std::size_t i = 0;
    while (y < rows) {
        if (i + 2 > size) return false;
        const int count = in[i], code = in[i + 1];
        i += 2;
        if (count > 0) {
            for (int k = 0; k < count; ++k) put(bits == 4 ? nibble(code, k) : code);
        } else if (code == 0) {  // end of row
            x = 0;
            ++y;
        } else if (code == 1) {  // end of picture
            return true;
        } else if (code == 2) {  // skip right and up
            if (i + 2 > size) return false;
            x += in[i];
            y += in[i + 1];
            i += 2;
        } else {  // `code` indices as stored, padded to a whole 16-bit word
            const std::size_t bytes = bits == 4 ? (code + 1) / 2 : code;
            if (i + bytes > size) return false;
            for (int k = 0; k < code; ++k) put(bits == 4 ? nibble(in[i + k / 2], k) : in[i + k]);
            i += (bytes + 1) & ~std::size_t(1);
        }
    }
    return true;
}

}  // namespace

// Everything is checked and read before the bitmap changes, so a failed load
// leaves it as it was.
std::string readBitmap(Bitmap& b, ByteSource& source, bool lowDepths) {
    unsigned char raw[kFileHeaderSize + kInfoHeaderSize];
    if (!source.read(raw, sizeof raw)) return "shorter than a BMP header";
    const BmpHeader h(raw);
    if (h.type != 0x4D42) return "no BM at the start";
    // Larger info headers (V4, V5) begin with the same 40 bytes.
    if (h.infoSize < kInfoHeaderSize || h.infoSize > 1024) {
        return "an info header of " + std::to_string(h.infoSize) + " bytes";
    }
    if (h.width <= 0 || h.height == 0 || h.height == INT_MIN) {
        return "width " + std::to_string(h.width) + " and height " + std::to_string(h.height);
    }
    const bool packed = lowDepths && (h.bitCount == 1 || h.bitCount == 4);
    if (!packed && h.bitCount != 8 && h.bitCount != 16 && h.bitCount != 24 && h.bitCount != 32) {
        return std::to_string(h.bitCount) + " bits per pixel, not " + (lowDepths ? "1, 4, " : "") + "8, 16, 24 or 32";
    }
    const bool runLengths =
        lowDepths && ((h.compression == 1 && h.bitCount == 8) || (h.compression == 2 && h.bitCount == 4));
    // Otherwise uncompressed rows only (bit-field masks describe uncompressed pixels).
    if (!runLengths && h.compression != 0 && h.compression != 3 && h.compression != 6) {
        return "compressed pixels (method " + std::to_string(h.compression) + ")";
    }
    if (h.clrUsed > kPaletteEntries) return "a palette of " + std::to_string(h.clrUsed) + " entries";

    const int width = h.width;
    const int rows = h.height < 0 ? -h.height : h.height;
    const int channels = h.bitCount <= 8 ? 1 : h.bitCount / 8;
    const long long stride = static_cast<long long>(width) * channels;
    if (stride > INT_MAX || stride * rows > INT_MAX) return "a picture too large for one image";
    const long long padded = paddedRowBytes(h.bitCount, width);

    const long long paletteOffset = kFileHeaderSize + static_cast<long long>(h.infoSize);
    const int paletteSize = h.bitCount <= 8 ? (h.clrUsed ? static_cast<int>(h.clrUsed) : 1 << h.bitCount) : 0;
    std::unique_ptr<unsigned char[]> palette;
    if (paletteSize > 0) {
        palette.reset(new unsigned char[static_cast<std::size_t>(paletteSize) * 4]);
        if (!source.seek(paletteOffset) || !source.read(palette.get(), static_cast<std::size_t>(paletteSize) * 4)) {
            return "the palette is cut short";
        }
    }
    const long long pixelOffset = h.offBits >= paletteOffset ? h.offBits : paletteOffset + paletteSize * 4LL;
    // The last row may lack its padding; anything shorter is a truncated file.
    const long long needed =
        runLengths ? pixelOffset + 2 : pixelOffset + padded * (rows - 1) + rowBytes(h.bitCount, width);
    if (source.size() < needed || !source.seek(pixelOffset)) return "the pixels are cut short";
    // Codes that skip rows make any ratio possible; a picture beyond this
    // many pixels per coded byte is refused before anything is allocated.
    if (runLengths && stride * rows > std::max(kRunLengthRatio * source.remaining(), 1LL << 20)) {
        return "more pixels than its " + std::to_string(source.remaining()) + " coded bytes are taken to hold";
    }

    unsigned char* pixels = static_cast<unsigned char*>(allocateAligned(static_cast<std::size_t>(stride * rows)));
    if (!pixels) return "no memory for the pixels";
    std::string why;
    if (runLengths) {
        std::vector<unsigned char> staging;
        const unsigned char* coded = nullptr;
        const std::size_t size = source.next(static_cast<std::size_t>(source.remaining()), staging, coded);
        std::memset(pixels, 0, static_cast<std::size_t>(stride * rows));
        if (!decodeRunLengths(coded, size, h.bitCount, width, rows, h.height < 0, pixels)) {
            why = "the run-length codes are cut short";
        }
    } else {
        why = readRows(source, h.bitCount, width, rows, h.height < 0, stride, pixels);
    }
    if (!why.empty()) {
        freeAligned(pixels);
        return why;
    }
    if (b.Image::init(width, rows, 1, 1, channels) != 0) {
        freeAligned(pixels);
        return "no memory for the picture";
    }
    b.freeData();
    b.m_data = pixels;
    if (h.xPelsPerMeter != 0) b.m_spacing[0] = static_cast<float>(b.m_dim[0]) / static_cast<float>(h.xPelsPerMeter);
    if (h.yPelsPerMeter != 0) b.m_spacing[1] = static_cast<float>(b.m_dim[1]) / static_cast<float>(h.yPelsPerMeter);
    b.m_bits_per_pixel = channels * 8;
    delete[] b.m_palette;
    b.m_palette = palette.release();
    b.m_palette_size = paletteSize;
    return "";
}

Bitmap::Bitmap() : m_bits_per_pixel(0), m_palette_size(0), m_palette(nullptr) {
    init(0, 0, 0, 0, 0);
}

Bitmap::~Bitmap() {
    delete[] m_palette;
}

// Loading and saving print nothing; their reasons go to lastError() only.
int Bitmap::load(const char* fileName) {
    clearLastError();
    if (!fileName) {
        recordFailure("Error: no BMP file name given");
        return -1;
    }
    long long size = 0;
    std::string why;
    File file = openRegularFile(fileName, size, why);
    if (!file) {
        recordFailure("Error: " + why);
        return -1;
    }
    ByteSource source(file.get(), size);
    why = readBitmap(*this, source);
    if (why.empty()) return 1;
    recordFailure("Error: " + std::string(fileName) + " is not a BMP file this library reads (" + why + ")");
    return -1;
}

int Bitmap::load(const void* bytes, std::size_t size) {
    clearLastError();
    ByteSource source(bytes, size);
    const std::string why = readBitmap(*this, source);
    if (why.empty()) return 1;
    recordFailure("Error: the bytes are not a BMP file this library reads (" + why + ")");
    return -1;
}

int Bitmap::save(const char* fileName) {
    clearLastError();
    const auto refuse = [](const std::string& line) {
        recordFailure(line);
        return -1;
    };
    if (m_palette_size != 0 && !m_palette) return refuse("Error: a bitmap with a palette size but no palette");
    if (!fileName) return refuse("Error: no BMP file name given");
    const int bits = m_bits_per_pixel ? m_bits_per_pixel : m_channels * 8;
    if (!m_data || m_dim[0] <= 0 || m_dim[1] <= 0) return refuse("Error: a bitmap without pixels");
    if (bits != m_channels * 8 || m_channels < 1 || m_channels > 4) {
        return refuse("Error: a bitmap of " + std::to_string(m_channels) + " channels and " + std::to_string(bits) +
                      " bits per pixel cannot be saved");
    }
    const long long padded = paddedRowBytes(bits, m_dim[0]);
    const long long paletteBytes = bits < 16 ? kPaletteEntries * 4 : 0;
    const long long imageBytes = padded * m_dim[1];
    const long long total = kFileHeaderSize + kInfoHeaderSize + paletteBytes + imageBytes;
    if (total > 0xffffffffLL) return refuse("Error: a picture too large for a BMP file");
    const std::string name(fileName);
    AtomicFile file(name);

    // Other tools check bfSize and biClrUsed: write the real size, and
    // announce a palette only when one follows.
    unsigned char header[kFileHeaderSize + kInfoHeaderSize] = {};
    writeU16(header, 0x4D42);
    writeU32(header + 2, static_cast<std::uint32_t>(total));
    writeU32(header + 10, static_cast<std::uint32_t>(kFileHeaderSize + kInfoHeaderSize + paletteBytes));
    writeU32(header + 14, kInfoHeaderSize);
    writeU32(header + 18, static_cast<std::uint32_t>(m_dim[0]));
    writeU32(header + 22, static_cast<std::uint32_t>(m_dim[1]));
    writeU16(header + 26, 1);
    writeU16(header + 28, static_cast<std::uint16_t>(bits));
    writeU32(header + 34, static_cast<std::uint32_t>(imageBytes));
    writeU32(header + 46, paletteBytes ? kPaletteEntries : 0);
    bool ok = file.write(header, sizeof header);

    if (paletteBytes) {
        // A shorter palette is written as far as it goes, then zero entries.
        unsigned char palette[kPaletteEntries * 4] = {};
        if (m_palette) {
            std::memcpy(palette, m_palette, static_cast<std::size_t>(std::min(m_palette_size, kPaletteEntries)) * 4);
        } else {
            for (int i = 0; i < kPaletteEntries; ++i) {
                palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<unsigned char>(i);
            }
        }
        ok = ok && file.write(palette, sizeof palette);
    }

    std::vector<unsigned char> row(static_cast<std::size_t>(padded), 0);
    for (int y = m_dim[1] - 1; y >= 0 && ok; --y) {
        std::memcpy(row.data(), m_data + static_cast<std::size_t>(y) * m_stride, static_cast<std::size_t>(m_stride));
        ok = file.write(row.data(), row.size());
    }
    if (!ok || !file.commit()) return refuse("Error: cannot write " + name + " (" + file.why() + ")");
    return 1;
}

void Bitmap::createFromBuffer(int width, int height, int channels, unsigned char* buffer) {
    m_bits_per_pixel = channels * 8;
    if (!buffer) {
        init(width, height, 1, 1, channels);
        return;
    }
    // Adopt the buffer without allocating one of our own first.
    const int status = Image::init(width, height, 1, 1, channels);
    freeData();
    if (status != 0) {
        freeAligned(buffer);
        return;
    }
    m_data = buffer;
}

}  // namespace KVEL
