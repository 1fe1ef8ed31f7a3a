// TIFF through the one entry point, decoded by libtiff from memory. Pages of
// one shape are one 3-D image (pages along z), as microscopes write stacks;
// palettes are applied and min-is-white inverted, so a picture reads as from
// every other format. Written one page per slice (tiff_write.cpp).
#include "imagelib/formats/codecs.h"
#include "imagelib/detail/byte_source.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/tiff_client.h"
#include "imagelib/detail/zlib_stream.h"

#include <kvel/space.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace KVEL {

namespace {

const char* const kExtensions[] = {".tif", ".tiff", nullptr};

bool recognise(const unsigned char* bytes, std::size_t size) {
    if (size < 4) return false;
    const bool little = bytes[0] == 'I' && bytes[1] == 'I' && bytes[3] == 0 && (bytes[2] == 42 || bytes[2] == 43);
    const bool big = bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && (bytes[3] == 42 || bytes[3] == 43);
    return little || big;
}

// Headroom for libtiff's own buffers (codec state, a tile, tag arrays) beyond
// the file's size; its allocations past this are refused.
constexpr tmsize_t kLibtiffAllocation = 64 << 20;

// How many bytes one stored byte can become, by compression. Deflate has its
// bound; an LZW code of 9 to 12 bits stands for at most 4096 bytes; PackBits
// turns two bytes into at most 128. The others (JPEG, LZMA, Zstd, ...) are
// held to LZW's.
long long maxRatio(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE: return 1;
        case COMPRESSION_PACKBITS: return 64;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return kMaxInflateRatio;
        default: return 4096 * 8 / 9;
    }
}

// One page's layout, as far as it decides whether pages stack.
struct Page {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, format = 0, photometric = 0, planar = 0, compression = 0;
    bool operator==(const Page& o) const {
        return width == o.width && height == o.height && bits == o.bits && samples == o.samples &&
               format == o.format && photometric == o.photometric;
    }
    bool operator!=(const Page& o) const { return !(*this == o); }
};

int elementType(const Page& p) {
    if (p.photometric == PHOTOMETRIC_PALETTE) return p.bits == 8 ? kGlUnsignedByte : 0;
    switch (p.format) {
        case SAMPLEFORMAT_UINT:
            return p.bits == 8 ? kGlUnsignedByte : p.bits == 16 ? kGlUnsignedShort : p.bits == 32 ? kGlUnsignedInt : 0;
        case SAMPLEFORMAT_INT: return p.bits == 8 ? kGlByte : p.bits == 16 ? kGlShort : p.bits == 32 ? kGlInt : 0;
        case SAMPLEFORMAT_IEEEFP: return p.bits == 32 ? kGlFloat : p.bits == 64 ? kGlDouble : 0;
        default: return 0;
    }
}

const char* formatWord(uint16_t format) {
    switch (format) {
        case SAMPLEFORMAT_UINT: return "unsigned integer";
        case SAMPLEFORMAT_INT: return "signed integer";
        case SAMPLEFORMAT_IEEEFP: return "floating-point";
        default: return "complex or untyped";
    }
}

// The page's layout, or the reason this library does not read it.
std::string readPage(TIFF* tif, Page& p) {
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height) ||
        p.width == 0 || p.height == 0) {
        return "a page without width or height";
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &p.format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &p.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &p.compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric)) {
        p.photometric = p.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
    if (p.samples < 1 || p.samples > 4) return std::to_string(p.samples) + " samples per pixel (1 to 4 are read)";
    if (!elementType(p)) {
        return std::to_string(p.bits) + "-bit " + formatWord(p.format) + " samples" +
               (p.photometric == PHOTOMETRIC_PALETTE ? " in a palette picture" : "");
    }
    switch (p.photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_RGB: return "";
        case PHOTOMETRIC_MINISWHITE:
            return p.format == SAMPLEFORMAT_UINT ? "" : "min-is-white samples that are not unsigned integers";
        case PHOTOMETRIC_PALETTE: return p.samples == 1 ? "" : "a palette picture of several samples";
        case PHOTOMETRIC_YCBCR:
            if (p.compression != COMPRESSION_JPEG || p.samples != 3) return "YCbCr samples that are not JPEG compressed";
            // libjpeg converts them to RGB.
            return TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) ? "" : "JPEG data libtiff cannot decode";
        case PHOTOMETRIC_SEPARATED: return "ink separations (CMYK)";
        default: return "photometric interpretation " + std::to_string(p.photometric);
    }
}

int channelsOf(const Page& p) { return p.photometric == PHOTOMETRIC_PALETTE ? 3 : p.samples; }

// The stored bytes of the current page, each strip or tile counted at most
// up to the file's size, added to sum. False when a deflated strip or tile
// stores more than deflate could take for its data: a bomb, whose rest
// libtiff would quietly drop.
bool addStoredBytes(TIFF* tif, const Page& p, toff_t fileSize, unsigned long long& sum) {
    const bool tiled = TIFFIsTiled(tif);
    const uint64_t chunkBytes = tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    const bool deflated = p.compression == COMPRESSION_ADOBE_DEFLATE || p.compression == COMPRESSION_DEFLATE;
    // zlib's compressBound, and a little for a writer that rounds up.
    const uint64_t most = chunkBytes + (chunkBytes >> 12) + (chunkBytes >> 14) + (chunkBytes >> 25) + 13 + 64;
    const uint32_t chunks = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (uint32_t i = 0; i < chunks && sum < fileSize; ++i) {
        const uint64_t stored = TIFFGetStrileByteCount(tif, i);
        if (deflated && stored > most) return false;
        sum += std::min<uint64_t>(stored, fileSize);
    }
    return true;
}

// Copies a decoded rectangle (a tile, or a strip of one plane) into the page.
void place(const unsigned char* chunk, std::size_t chunkRow, unsigned char* page, std::size_t pageRow,
           uint32_t rows, uint32_t pixels, std::size_t sampleBytes, int samples, int plane, bool separate) {
    for (uint32_t r = 0; r < rows; ++r) {
        const unsigned char* in = chunk + r * chunkRow;
        unsigned char* out = page + r * pageRow;
        if (!separate) {
            std::memcpy(out, in, pixels * samples * sampleBytes);
            continue;
        }
        out += plane * sampleBytes;
        for (uint32_t x = 0; x < pixels; ++x, in += sampleBytes, out += samples * sampleBytes) std::memcpy(out, in, sampleBytes);
    }
}

// Decodes the current page as stored (samples interleaved) into page.
bool decodePage(TIFF* tif, const Page& p, unsigned char* page) {
    const std::size_t sampleBytes = p.bits / 8;
    const bool separate = p.planar == PLANARCONFIG_SEPARATE && p.samples > 1;
    const int planes = separate ? p.samples : 1;
    const int chunkSamples = separate ? 1 : p.samples;
    const std::size_t pageRow = static_cast<std::size_t>(p.width) * p.samples * sampleBytes;
    std::vector<unsigned char> scratch;
    if (TIFFIsTiled(tif)) {
        uint32_t tw = 0, th = 0;
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &th) || !tw || !th) return false;
        const tmsize_t tileBytes = TIFFTileSize(tif);
        const std::size_t tileRow = static_cast<std::size_t>(tw) * chunkSamples * sampleBytes;
        if (tileBytes <= 0 || static_cast<unsigned long long>(tileBytes) < tileRow * th ||
            tileBytes > kLibtiffAllocation) {
            return false;
        }
        scratch.resize(static_cast<std::size_t>(tileBytes));
        for (int plane = 0; plane < planes; ++plane) {
            for (uint32_t y = 0; y < p.height; y += th) {
                for (uint32_t x = 0; x < p.width; x += tw) {
                    const uint32_t tile = TIFFComputeTile(tif, x, y, 0, static_cast<uint16_t>(plane));
                    if (TIFFReadEncodedTile(tif, tile, scratch.data(), tileBytes) != tileBytes) return false;
                    place(scratch.data(), tileRow, page + y * pageRow + x * p.samples * sampleBytes, pageRow,
                          std::min(th, p.height - y), std::min(tw, p.width - x), sampleBytes, p.samples, plane, separate);
                }
            }
        }
        return true;
    }
    uint32_t rowsPerStrip = p.height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::max<uint32_t>(1, std::min(rowsPerStrip, p.height));
    const std::size_t stripRow = static_cast<std::size_t>(p.width) * chunkSamples * sampleBytes;
    if (separate) scratch.resize(stripRow * rowsPerStrip);
    for (int plane = 0; plane < planes; ++plane) {
        for (uint32_t y = 0; y < p.height; y += rowsPerStrip) {
            const uint32_t rows = std::min(rowsPerStrip, p.height - y);
            const tmsize_t bytes = static_cast<tmsize_t>(rows * stripRow);
            const uint32_t strip = TIFFComputeStrip(tif, y, static_cast<uint16_t>(plane));
            // Interleaved strips decode straight into the image.
            unsigned char* out = separate ? scratch.data() : page + y * pageRow;
            if (TIFFReadEncodedStrip(tif, strip, out, bytes) != bytes) return false;
            if (separate) place(out, stripRow, page + y * pageRow, pageRow, rows, p.width, sampleBytes, p.samples, plane, true);
        }
    }
    return true;
}

// Palette indices to red, green, blue. Colour maps hold 16-bit values; some
// writers store 8-bit ones, which every entry below 256 gives away.
bool applyPalette(TIFF* tif, const unsigned char* indices, std::size_t pixels, unsigned char* rgb) {
    uint16_t *r, *g, *b;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) return false;
    bool eightBit = true;
    for (int i = 0; i < 256; ++i) eightBit = eightBit && r[i] < 256 && g[i] < 256 && b[i] < 256;
    const int shift = eightBit ? 0 : 8;
    for (std::size_t i = 0; i < pixels; ++i, rgb += 3) {
        rgb[0] = static_cast<unsigned char>(r[indices[i]] >> shift);
        rgb[1] = static_cast<unsigned char>(g[indices[i]] >> shift);
        rgb[2] = static_cast<unsigned char>(b[indices[i]] >> shift);
    }
    return true;
}

template <class T>
void invert(T* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<T>(std::numeric_limits<T>::max() - data[i]);
}

// Millimetres per pixel from the resolution tags, when a unit is given.
float spacingOf(TIFF* tif, ttag_t resolutionTag) {
    uint16_t unit = RESUNIT_NONE;
    float resolution = 0;
    if (!TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit) || !TIFFGetField(tif, resolutionTag, &resolution)) return 1;
    if (!(resolution > 0) || !std::isfinite(resolution)) return 1;
    if (unit == RESUNIT_INCH) return static_cast<float>(25.4 / resolution);
    if (unit == RESUNIT_CENTIMETER) return static_cast<float>(10.0 / resolution);
    return 1;
}

Image* refuse(const std::string& name, const std::string& why) {
    reportFailure("Error: " + name + " is a TIFF file this library does not read: " + why);
    return nullptr;
}

// The reason, with what libtiff said.
Image* refuseSaying(const TiffClient& client, const std::string& name, const std::string& what) {
    return refuse(name, what + (client.error.empty() ? "" : " (libtiff: " + client.error + ")"));
}

// The bytes a page's stored data must at least take.
unsigned long long leastStored(const Page& p) {
    const unsigned long long decoded = static_cast<unsigned long long>(p.width) * p.height * p.samples * (p.bits / 8);
    return decoded / static_cast<unsigned long long>(maxRatio(p.compression));
}

// The first page's layout and how many pages stack with it, at most limit
// elements in all; false with the reason reported.
bool countPages(TIFF* tif, std::size_t size, long long limit, const std::string& name, Page& first, int& count) {
    const std::string why = readPage(tif, first);
    if (!why.empty()) return refuse(name, why);
    // Pages stack while they have the first one's shape; a file with pages of
    // other shapes gives its first page.
    const long long pageElements = static_cast<long long>(first.width) * first.height * channelsOf(first);
    long long pages = 1;
    unsigned long long stored = 0, least = leastStored(first);
    const char* const bomb = "a page stores more deflated bytes than its data could take";
    if (!addStoredBytes(tif, first, size, stored)) return refuse(name, bomb);
    while (TIFFReadDirectory(tif)) {
        Page p;
        if (!readPage(tif, p).empty() || p != first) {
            reportNotice("Warning: " + name + " holds pages of other shapes; only the first is read");
            pages = 1;
            TIFFSetDirectory(tif, 0);
            stored = 0;
            addStoredBytes(tif, first, size, stored);
            least = leastStored(first);
            break;
        }
        if (++pages * pageElements > limit || pages > INT_MAX) {
            return refuse(name, "more than " + std::to_string(limit) + " elements");
        }
        if (!addStoredBytes(tif, p, size, stored)) return refuse(name, bomb);
        least += leastStored(p);
    }
    // Before anything is allocated: the stored bytes must be able to hold the pages.
    stored = std::min<unsigned long long>(stored, size);
    if (least > stored) {
        return refuse(name, std::to_string(stored) + " stored bytes cannot hold " + std::to_string(pages) +
                                " page(s) of " + std::to_string(first.width) + " x " + std::to_string(first.height));
    }
    count = static_cast<int>(pages);
    return true;
}

// Spacing from the first page's tags; position at slice `from` of the stack.
void placeImage(TIFF* tif, int from, Image& image) {
    TIFFSetDirectory(tif, 0);
    image.setSpacing(spacingOf(tif, TIFFTAG_XRESOLUTION), spacingOf(tif, TIFFTAG_YRESOLUTION), 1, 1);
    const Vec3 corner = physicalPoint(image, {0, 0, static_cast<double>(from)});
    for (int i = 0; i < 3; ++i) image.m_position[i] = static_cast<float>(corner[i]);
}

// The pages the options ask for, of a file of size bytes open in tif.
Image* readPages(TIFF* tif, const TiffClient& client, std::size_t size, const ReadOptions& options,
                 const std::string& name) {
    const auto libtiffSays = [&](const std::string& what) { return refuseSaying(client, name, what); };
    Page first;
    int pages = 0, from = 0, count = 0;
    // The whole stack may be larger than an image; the pages read may not.
    if (!countPages(tif, size, kMaxDescribedElements, name, first, pages) ||
        !slabWithin(options, pages, name, from, count)) {
        return nullptr;
    }
    const long long pageElements = static_cast<long long>(first.width) * first.height * channelsOf(first);
    if (pageElements * count > INT_MAX) return refuse(name, "more than 2^31 - 1 elements");
    std::unique_ptr<Image> image(createImage(elementType(first)));
    if (!image || image->init(first.width, first.height, count, 1, channelsOf(first)) != 0) {
        return refuse(name, "no memory for the image");
    }
    unsigned char* data = nullptr;
    withTypedImage(image.get(), [&](auto& typed) { data = reinterpret_cast<unsigned char*>(typed.m_data); });
    const std::size_t pageBytes = static_cast<std::size_t>(pageElements) * (first.bits / 8);
    const bool palette = first.photometric == PHOTOMETRIC_PALETTE;
    std::vector<unsigned char> indices(palette ? pageBytes / 3 : 0);
    for (int z = 0; z < count; ++z) {
        Page p;
        const std::string page = "page " + std::to_string(from + z);
        if (!(z == 0 ? TIFFSetDirectory(tif, static_cast<tdir_t>(from)) : TIFFReadDirectory(tif)) ||
            !readPage(tif, p).empty()) {
            return libtiffSays(page + " cannot be read");
        }
        unsigned char* out = data + z * pageBytes;
        if (!decodePage(tif, p, palette ? indices.data() : out)) return libtiffSays(page + " cannot be decoded");
        if (palette && !applyPalette(tif, indices.data(), indices.size(), out)) {
            return refuse(name, "a palette picture without a colour map");
        }
    }
    if (first.photometric == PHOTOMETRIC_MINISWHITE) {
        withTypedImage(image.get(), [&](auto& typed) {
            using T = std::remove_reference_t<decltype(*typed.m_data)>;
            if constexpr (std::is_integral_v<T>) invert(typed.m_data, static_cast<std::size_t>(typed.m_image_size));
        });
    }
    placeImage(tif, from, *image);
    image->computeRange();
    return image.release();
}

Image* decode(const unsigned char* bytes, std::size_t size, const std::string& name) {
    TiffClient client;
    Tiff tif = openTiffBytes(client, bytes, size, static_cast<tmsize_t>(size) + kLibtiffAllocation);
    if (!tif) return refuseSaying(client, name, "libtiff cannot open it");
    return readPages(tif.get(), client, size, ReadOptions(), name);
}

// A file read in place: libtiff reads the directories and the strips it is asked for.
struct OpenFile {
    File file;
    long long size = 0;
    TiffClient client;
    Tiff tif;
    // False with the reason reported.
    bool open(const std::string& path) {
        std::string why;
        file = openRegularFile(path, size, why);
        if (!file) return refuse(path, why);
        tif = openTiffFile(client, file.get(), static_cast<tmsize_t>(size) + kLibtiffAllocation);
        return tif || refuseSaying(client, path, "libtiff cannot open it");
    }
};

Image* readSlab(const std::string& path, const ReadOptions& options) {
    OpenFile in;
    if (!in.open(path)) return nullptr;
    return readPages(in.tif.get(), in.client, static_cast<std::size_t>(in.size), options, path);
}

}  // namespace

bool readTiffFileHeader(const std::string& path, ImageHeader& header) {
    OpenFile in;
    Page first;
    int pages = 0;
    if (!in.open(path) ||
        !countPages(in.tif.get(), static_cast<std::size_t>(in.size), kMaxDescribedElements, path, first, pages)) {
        return false;
    }
    std::unique_ptr<Image> image(createImage(elementType(first)));
    placeImage(in.tif.get(), 0, *image);
    describeImage(*image, header);
    const int dims[4] = {static_cast<int>(first.width), static_cast<int>(first.height), pages, 1};
    for (int i = 0; i < 4; ++i) header.dim[i] = dims[i];
    header.channels = channelsOf(first);
    return true;
}

const Codec kTiffCodec = {FileFormat::kTiff, "TIFF", kExtensions, recognise, decode, nullptr, nullptr, writeTiffFile,
                          readSlab};

}  // namespace KVEL
