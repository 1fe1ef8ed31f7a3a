// BMP through the one entry point: the palette applied and the channels red
// first, so a picture reads the same from every format.
#include "imagelib/bitmap.h"

#include "imagelib/errors.h"

#include "imagelib/detail/bmp_reader.h"
#include "imagelib/formats/codecs.h"
#include "imagelib/detail/messages.h"

#include <memory>

namespace KVEL {

namespace {

const char* const kExtensions[] = {".bmp", nullptr};

bool recognise(const unsigned char* bytes, std::size_t size) {
    return size >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

// Grey when every used palette entry is; indices without an entry are black.
std::unique_ptr<ImageBase<unsigned char>> applyPalette(const Bitmap& bitmap) {
    const int entries = bitmap.m_palette_size;
    bool grey = true, ramp = true;
    for (int i = 0; i < entries; ++i) {
        const unsigned char* e = bitmap.m_palette + 4 * i;
        grey = grey && e[0] == e[1] && e[1] == e[2];
        ramp = ramp && e[0] == i;
    }
    if (ramp && grey && entries == 256) return nullptr;
    auto image = std::make_unique<ImageBase<unsigned char>>();
    const int channels = grey ? 1 : 3;
    if (image->init(bitmap.m_dim[0], bitmap.m_dim[1], 1, 1, channels) != 0) return nullptr;
    unsigned char* out = image->m_data;
    for (int i = 0; i < bitmap.m_image_size; ++i, out += channels) {
        const int index = bitmap.m_data[i];
        const unsigned char* e = bitmap.m_palette + 4 * index;
        for (int c = 0; c < channels; ++c) out[c] = index < entries ? e[2 - c] : 0;
        if (grey && index < entries) out[0] = e[0];
    }
    return image;
}

Image* decode(const unsigned char* bytes, std::size_t size, const std::string& name) {
    Bitmap bitmap;
    ByteSource source(bytes, size);
    const std::string why = readBitmap(bitmap, source, true);
    if (!why.empty()) {
        reportFailure("Error: " + name + " is not a BMP file this library reads (" + why + ")");
        return nullptr;
    }
    std::unique_ptr<ImageBase<unsigned char>> image;
    if (bitmap.m_channels == 1 && bitmap.m_palette) image = applyPalette(bitmap);
    if (!image) {
        // The pixels change hands; the geometry is set without a buffer of its own.
        image = std::make_unique<ImageBase<unsigned char>>();
        if (image->Image::init(bitmap.m_dim[0], bitmap.m_dim[1], 1, 1, bitmap.m_channels) != 0) return nullptr;
        image->m_data = bitmap.m_data;
        bitmap.m_data = nullptr;
        swapRedBlue(image->m_data, static_cast<std::size_t>(image->m_dim[0]) * image->m_dim[1], image->m_channels);
    }
    image->setSpacing(bitmap.m_spacing[0], bitmap.m_spacing[1], 1, 1);
    image->computeRange();
    return image.release();
}

int writeFile(const std::string& path, Image& image, const WriteOptions&) {
    if (glTypeOf(&image) != kGlUnsignedByte || image.m_dim[2] != 1 || image.m_dim[3] != 1 || image.m_channels < 1 ||
        image.m_channels > 4 || image.m_dim[0] < 1 || image.m_dim[1] < 1) {
        refuseImage("BMP", "one picture of 1 to 4 channels of MET_UCHAR", image, path);
        return 1;
    }
    Bitmap bitmap;
    bitmap.createFromBuffer(image.m_dim[0], image.m_dim[1], image.m_channels, nullptr);
    if (!bitmap.m_data) {
        reportFailure("Error: out of memory for image file " + path);
        return 1;
    }
    const auto& bytes = static_cast<ImageBase<unsigned char>&>(image);
    std::copy(bytes.m_data, bytes.m_data + image.m_image_size, bitmap.m_data);
    swapRedBlue(bitmap.m_data, static_cast<std::size_t>(image.m_dim[0]) * image.m_dim[1], image.m_channels);
    if (bitmap.save(path.c_str()) == 1) return 0;
    // Bitmap::save only records its reason; through here it is printed too.
    reportFailure(lastError());
    return 1;
}

}  // namespace

const Codec kBmpCodec = {FileFormat::kBmp, "BMP", kExtensions, recognise, decode, nullptr, nullptr, writeFile, nullptr};

}  // namespace KVEL
