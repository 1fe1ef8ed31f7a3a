// PNG through the one entry point, with libpng. Every colour type and bit
// depth reads: grey below 8 bits is scaled to 0..255, palettes are applied
// (RGB, or RGBA when the file gives entries a transparency), and 16-bit
// samples stay 16-bit. libpng reports errors by longjmp, so the functions that
// call it hold only plain data (no destructor may be skipped) and keep what
// they allocate in a struct their caller frees.
#include "imagelib/formats/codecs.h"
#include "imagelib/detail/messages.h"

#include <png.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace KVEL {

namespace {

const char* const kExtensions[] = {".png", nullptr};
const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Deflate expands no more than 1032 times: a file cannot hold more pixel bytes.
constexpr std::uint64_t kMaxInflation = 1032;

bool recognise(const unsigned char* bytes, std::size_t size) {
    return size >= sizeof kSignature && std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

// What a libpng call leaves behind, owned by the caller's frame.
struct PngState {
    const unsigned char* bytes;
    std::size_t size;
    std::size_t position;
    Image* image;
    png_bytep* rows;
    char why[200];
};

void onError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    if (state->why[0] == '\0') std::snprintf(state->why, sizeof state->why, "%s", message);
    png_longjmp(png, 1);
}

// A warning refuses nothing, and the codec must not print it.
void onWarning(png_structp, png_const_charp) {}

void readBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    if (count > state->size - state->position) png_error(png, "the file ends early");
    std::memcpy(out, state->bytes + state->position, count);
    state->position += count;
}

// Row pointers into the image's own buffer: libpng decodes in place.
bool pointRows(PngState& state, unsigned char* data, std::size_t rowBytes, int height) {
    state.rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * static_cast<std::size_t>(height)));
    if (!state.rows) return false;
    for (int y = 0; y < height; ++y) state.rows[y] = data + rowBytes * static_cast<std::size_t>(y);
    return true;
}

// Fills state.image, or leaves a reason in state.why.
void decodePng(png_structp png, png_infop info, PngState& state) {
    if (setjmp(png_jmpbuf(png))) return;
    png_set_read_fn(png, &state, readBytes);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Lets the fuzzer's mutations past the checksums, into the decoder.
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#endif
    png_set_user_limits(png, 1000000, 1000000);
    png_set_chunk_cache_max(png, 1000);
    png_set_chunk_malloc_max(png, 8u << 20);
    png_read_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int colour = png_get_color_type(png, info);
    // The file's own row size bounds what its compressed data can hold.
    const std::uint64_t packed = static_cast<std::uint64_t>(height) * (png_get_rowbytes(png, info) + 1);
    if (packed > kMaxInflation * state.size) {
        std::snprintf(state.why, sizeof state.why, "image of %u x %u pixels is larger than the file can hold",
                      static_cast<unsigned>(width), static_cast<unsigned>(height));
        return;
    }
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_swap(png);  // host order; PNG stores most significant byte first
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int channels = png_get_channels(png, info);
    const std::uint64_t elements = static_cast<std::uint64_t>(width) * height * channels;
    if (elements > static_cast<std::uint64_t>(INT_MAX)) {
        std::snprintf(state.why, sizeof state.why, "image of %u x %u pixels is too large",
                      static_cast<unsigned>(width), static_cast<unsigned>(height));
        return;
    }
    unsigned char* data = nullptr;
    if (depth == 16) {
        auto* image = new (std::nothrow) ImageBase<unsigned short>();
        state.image = image;
        if (image && image->init(width, height, 1, 1, channels) == 0) data = reinterpret_cast<unsigned char*>(image->m_data);
    } else {
        auto* image = new (std::nothrow) ImageBase<unsigned char>();
        state.image = image;
        if (image && image->init(width, height, 1, 1, channels) == 0) data = image->m_data;
    }
    if (!data || !pointRows(state, data, png_get_rowbytes(png, info), static_cast<int>(height))) {
        std::snprintf(state.why, sizeof state.why, "out of memory");
        return;
    }
    png_read_image(png, state.rows);
}

Image* decode(const unsigned char* bytes, std::size_t size, const std::string& name) {
    PngState state{bytes, size, 0, nullptr, nullptr, ""};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info) {
        decodePng(png, info, state);
    } else {
        std::snprintf(state.why, sizeof state.why, "out of memory");
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(state.rows);
    if (state.why[0] != '\0') {
        delete state.image;
        reportFailure("Error: PNG file " + name + ": " + state.why);
        return nullptr;
    }
    state.image->computeRange();
    return state.image;
}

void writeBytes(png_structp png, png_bytep bytes, png_size_t count) {
    if (std::fwrite(bytes, 1, count, static_cast<std::FILE*>(png_get_io_ptr(png))) != count) {
        png_error(png, "cannot write the file");
    }
}

void flush(png_structp) {}

void encodePng(png_structp png, png_infop info, std::FILE* out, Image& image, PngState& state) {
    if (setjmp(png_jmpbuf(png))) return;
    static const int kColourTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                       PNG_COLOR_TYPE_RGB_ALPHA};
    const bool wide = glTypeOf(&image) == kGlUnsignedShort;
    png_set_write_fn(png, out, writeBytes, flush);
    png_set_IHDR(png, info, image.m_dim[0], image.m_dim[1], wide ? 16 : 8, kColourTypes[image.m_channels - 1],
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (wide) png_set_swap(png);
    png_write_image(png, state.rows);
    png_write_end(png, nullptr);
}

bool encode(std::FILE* out, Image& image, const WriteOptions&, const std::string& name) {
    const int type = glTypeOf(&image);
    if ((type != kGlUnsignedByte && type != kGlUnsignedShort) || image.m_dim[2] != 1 || image.m_dim[3] != 1 ||
        image.m_channels < 1 || image.m_channels > 4 || image.m_dim[0] < 1 || image.m_dim[1] < 1) {
        refuseImage("PNG", "one picture of 1 to 4 channels of MET_UCHAR or MET_USHORT", image, name);
        return false;
    }
    const int elementSize = type == kGlUnsignedShort ? 2 : 1;
    auto* data = type == kGlUnsignedShort ? reinterpret_cast<unsigned char*>(static_cast<ImageBase<unsigned short>&>(image).m_data)
                                          : static_cast<ImageBase<unsigned char>&>(image).m_data;
    PngState state{nullptr, 0, 0, nullptr, nullptr, ""};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info && pointRows(state, data, static_cast<std::size_t>(image.m_stride) * elementSize, image.m_dim[1])) {
        encodePng(png, info, out, image, state);
    } else {
        std::snprintf(state.why, sizeof state.why, "out of memory");
    }
    png_destroy_write_struct(&png, &info);
    std::free(state.rows);
    if (state.why[0] != '\0') reportFailure("Error: PNG file " + name + ": " + state.why);
    return state.why[0] == '\0';
}

}  // namespace

const Codec kPngCodec = {FileFormat::kPng, "PNG", kExtensions, recognise, decode, nullptr, encode, nullptr, nullptr};

}  // namespace KVEL
