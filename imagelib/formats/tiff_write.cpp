// TIFF files as this library writes them: one page per slice, deflated with
// the horizontal predictor for integers, the spacing as pixels per centimetre.
#include "imagelib/detail/atomic_file.h"
#include "imagelib/formats/codecs.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/tiff_client.h"

#include <algorithm>

namespace KVEL {

namespace {

struct TiffType {
    uint16_t bits, format;
};

TiffType tiffType(int glType) {
    switch (glType) {
        case kGlUnsignedByte: return {8, SAMPLEFORMAT_UINT};
        case kGlByte: return {8, SAMPLEFORMAT_INT};
        case kGlUnsignedShort: return {16, SAMPLEFORMAT_UINT};
        case kGlShort: return {16, SAMPLEFORMAT_INT};
        case kGlUnsignedInt: return {32, SAMPLEFORMAT_UINT};
        case kGlInt: return {32, SAMPLEFORMAT_INT};
        case kGlFloat: return {32, SAMPLEFORMAT_IEEEFP};
        case kGlDouble: return {64, SAMPLEFORMAT_IEEEFP};
        default: return {0, 0};
    }
}

// Strips of about 64 KiB: small enough to decode in cache, large enough to deflate well.
constexpr std::size_t kStripBytes = 64 << 10;

bool writeTo(std::FILE* out, Image& image, const WriteOptions& options, const std::string& name) {
    const TiffType type = tiffType(glTypeOf(&image));
    const int* d = image.m_dim;
    if (!type.bits || d[0] < 1 || d[1] < 1 || d[2] < 1 || d[3] != 1 || image.m_channels < 1 || image.m_channels > 4) {
        refuseImage("TIFF", "pictures and stacks (one page per slice) of 1 to 4 channels", image, name);
        return false;
    }
    unsigned char* data = nullptr;
    withTypedImage(&image, [&](auto& typed) { data = reinterpret_cast<unsigned char*>(typed.m_data); });
    if (!data) {
        refuseImage("TIFF", "images with elements", image, name);
        return false;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(d[0]) * image.m_channels * (type.bits / 8);
    const std::size_t pageBytes = rowBytes * d[1];
    TiffClient client;
    Tiff tif = openTiffStream(client, out, pageBytes * d[2] > (std::size_t(3) << 30));
    const auto failed = [&]() {
        reportFailure("Error: cannot write TIFF file " + name +
                      (client.error.empty() ? std::string() : " (libtiff: " + client.error + ")"));
        return false;
    };
    if (!tif) return failed();
    const uint32_t rowsPerStrip = static_cast<uint32_t>(std::clamp<std::size_t>(kStripBytes / rowBytes, 1, d[1]));
    const uint16_t alpha[] = {EXTRASAMPLE_UNASSALPHA};
    for (int z = 0; z < d[2]; ++z) {
        TIFF* t = tif.get();
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(d[0]));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(d[1]));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, type.bits);
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, type.format);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(image.m_channels));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, image.m_channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        if (image.m_channels % 2 == 0) TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, alpha);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        if (options.compress) {
            TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
            // Differences of neighbours deflate better than the values.
            if (type.format != SAMPLEFORMAT_IEEEFP) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        }
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(10.0 / image.m_spacing[0]));
        TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(10.0 / image.m_spacing[1]));
        if (d[2] > 1) {
            TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(std::min(z, 65535)),
                         static_cast<uint16_t>(std::min(d[2], 65535)));
        }
        unsigned char* page = data + z * pageBytes;
        for (uint32_t y = 0, strip = 0; y < static_cast<uint32_t>(d[1]); y += rowsPerStrip, ++strip) {
            const std::size_t bytes = std::min<uint32_t>(rowsPerStrip, d[1] - y) * rowBytes;
            // The predictor works on a copy of its own: the image is left as it was.
            if (TIFFWriteEncodedStrip(t, strip, page + y * rowBytes, static_cast<tmsize_t>(bytes)) < 0) return failed();
        }
        if (!TIFFWriteDirectory(t) || client.failed) return failed();
    }
    tif.reset();
    if (client.failed) return failed();
    return true;
}

}  // namespace

int writeTiffFile(const std::string& path, Image& image, const WriteOptions& options) {
    AtomicFile target(path);
    if (!target.get()) {
        reportFailure("Error: cannot write " + path + " (" + target.why() + ")");
        return 1;
    }
    // libtiff reads back the page it wrote last to link the next one to it,
    // so it gets a stream of its own that can read as well.
    std::FILE* file = std::fopen(target.temporaryPath().c_str(), "r+b");
    if (!file) {
        reportFailure("Error: cannot write " + path);
        return 1;
    }
    const bool written = writeTo(file, image, options, path);
    if (std::fclose(file) != 0 && written) {
        reportFailure("Error: cannot write TIFF file " + path);
        return 1;
    }
    if (!written) return 1;
    if (!target.commit()) {
        reportFailure("Error: cannot write " + path + " (" + target.why() + ")");
        return 1;
    }
    return 0;
}

}  // namespace KVEL
