// JPEG through the one entry point, with libjpeg(-turbo): 8-bit grey, or RGB
// from YCbCr, RGB, CMYK and YCCK files. The EXIF orientation is not applied:
// the pixels come in the order they are stored. libjpeg reports errors by
// longjmp, so the functions that call it hold only plain data and keep what
// they allocate in a struct their caller frees.
#include "imagelib/formats/codecs.h"
#include "imagelib/detail/messages.h"

#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

namespace KVEL {

namespace {

const char* const kExtensions[] = {".jpg", ".jpeg", nullptr};

// Even a flat picture costs some bits per 8 x 8 block; this bound leaves
// room for arithmetic coding and still refuses a tiny file claiming a huge image.
constexpr std::uint64_t kMaxPixelsPerByte = 4096;
// Some corrupt progressive files hold thousands of scans that each take a
// pass over the whole image.
constexpr int kMaxScans = 500;
// libjpeg's own limit on a side.
constexpr int kMaxSide = JPEG_MAX_DIMENSION;

bool recognise(const unsigned char* bytes, std::size_t size) {
    return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

// libjpeg's error manager first, so that the callbacks find the rest.
struct JpegState {
    jpeg_error_mgr errors;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    Image* image;
    JSAMPROW* rows;
    JSAMPLE* cmyk;  // one row of the file's four channels
    char why[JMSG_LENGTH_MAX + 64];
};

JpegState& stateOf(j_common_ptr codec) { return *reinterpret_cast<JpegState*>(codec->err); }

void onError(j_common_ptr codec) {
    JpegState& state = stateOf(codec);
    if (state.why[0] == '\0') codec->err->format_message(codec, state.why);
    std::longjmp(state.jump, 1);
}

// Warnings (level -1) mean corrupt data that libjpeg would paper over with
// grey; a file with bytes it skips between markers is still whole. Trace
// messages are dropped: the codec prints nothing.
void onMessage(j_common_ptr codec, int level) {
    if (level == -1 && codec->err->msg_code != JWRN_EXTRANEOUS_DATA) onError(codec);
}

void onOutput(j_common_ptr) {}

void onProgress(j_common_ptr codec) {
    if (codec->is_decompressor && reinterpret_cast<j_decompress_ptr>(codec)->input_scan_number > kMaxScans) {
        std::snprintf(stateOf(codec).why, sizeof stateOf(codec).why, "more than %d scans", kMaxScans);
        std::longjmp(stateOf(codec).jump, 1);
    }
}

void setUpErrors(JpegState& state) {
    jpeg_std_error(&state.errors);
    state.errors.error_exit = onError;
    state.errors.emit_message = onMessage;
    state.errors.output_message = onOutput;
    state.progress = jpeg_progress_mgr();
    state.progress.progress_monitor = onProgress;
}

bool pointRows(JpegState& state, unsigned char* data, std::size_t rowBytes, int height) {
    state.rows = static_cast<JSAMPROW*>(std::malloc(sizeof(JSAMPROW) * static_cast<std::size_t>(height)));
    if (!state.rows) return false;
    for (int y = 0; y < height; ++y) state.rows[y] = data + rowBytes * static_cast<std::size_t>(y);
    return true;
}

// Ink to light: R = (1 - C)(1 - K). Adobe's files store the inks inverted.
void cmykToRgb(const JSAMPLE* in, unsigned char* out, int width, bool inverted) {
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
        const int k = inverted ? in[3] : 255 - in[3];
        for (int c = 0; c < 3; ++c) {
            const int paper = inverted ? in[c] : 255 - in[c];
            out[c] = static_cast<unsigned char>((paper * k + 127) / 255);
        }
    }
}

// Fills state.image, or leaves a reason in state.why.
void decodeJpeg(jpeg_decompress_struct& jpeg, const unsigned char* bytes, std::size_t size, JpegState& state) {
    if (setjmp(state.jump)) return;
    jpeg_create_decompress(&jpeg);
    jpeg.progress = &state.progress;
    jpeg_mem_src(&jpeg, bytes, static_cast<unsigned long>(size));
    jpeg_read_header(&jpeg, TRUE);
    const std::uint64_t pixels = static_cast<std::uint64_t>(jpeg.image_width) * jpeg.image_height;
    if (pixels > kMaxPixelsPerByte * size) {
        std::snprintf(state.why, sizeof state.why, "image of %u x %u pixels is larger than the file can hold",
                      jpeg.image_width, jpeg.image_height);
        return;
    }
    const bool cmyk = jpeg.jpeg_color_space == JCS_CMYK || jpeg.jpeg_color_space == JCS_YCCK;
    jpeg.out_color_space = jpeg.num_components == 1 ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&jpeg);

    const int width = static_cast<int>(jpeg.output_width), height = static_cast<int>(jpeg.output_height);
    const int channels = jpeg.out_color_space == JCS_GRAYSCALE ? 1 : 3;
    if (pixels * channels > static_cast<std::uint64_t>(INT_MAX)) {
        std::snprintf(state.why, sizeof state.why, "image of %d x %d pixels is too large", width, height);
        return;
    }
    auto* image = new (std::nothrow) ImageBase<unsigned char>();
    state.image = image;
    if (!image || image->init(width, height, 1, 1, channels) != 0 ||
        !pointRows(state, image->m_data, static_cast<std::size_t>(width) * channels, height) ||
        (cmyk && !(state.cmyk = static_cast<JSAMPLE*>(std::malloc(4 * static_cast<std::size_t>(width)))))) {
        std::snprintf(state.why, sizeof state.why, "out of memory");
        return;
    }
    while (jpeg.output_scanline < jpeg.output_height) {
        const int y = static_cast<int>(jpeg.output_scanline);
        if (cmyk) {
            jpeg_read_scanlines(&jpeg, &state.cmyk, 1);
            cmykToRgb(state.cmyk, state.rows[y], width, jpeg.saw_Adobe_marker);
        } else {
            jpeg_read_scanlines(&jpeg, state.rows + y, jpeg.output_height - jpeg.output_scanline);
        }
    }
    jpeg_finish_decompress(&jpeg);
}

Image* decode(const unsigned char* bytes, std::size_t size, const std::string& name) {
    JpegState state{};
    setUpErrors(state);
    jpeg_decompress_struct jpeg{};
    jpeg.err = &state.errors;
    decodeJpeg(jpeg, bytes, size, state);
    jpeg_destroy_decompress(&jpeg);
    std::free(state.rows);
    std::free(state.cmyk);
    if (state.why[0] != '\0') {
        delete state.image;
        reportFailure("Error: JPEG file " + name + ": " + state.why);
        return nullptr;
    }
    state.image->computeRange();
    return state.image;
}

void encodeJpeg(jpeg_compress_struct& jpeg, std::FILE* out, const Image& image, int quality, JpegState& state) {
    if (setjmp(state.jump)) return;
    jpeg_create_compress(&jpeg);
    jpeg_stdio_dest(&jpeg, out);
    jpeg.image_width = static_cast<JDIMENSION>(image.m_dim[0]);
    jpeg.image_height = static_cast<JDIMENSION>(image.m_dim[1]);
    jpeg.input_components = image.m_channels;
    jpeg.in_color_space = image.m_channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&jpeg);
    jpeg_set_quality(&jpeg, quality, TRUE);
    jpeg_start_compress(&jpeg, TRUE);
    jpeg_write_scanlines(&jpeg, state.rows, jpeg.image_height);
    jpeg_finish_compress(&jpeg);
}

bool encode(std::FILE* out, Image& image, const WriteOptions& options, const std::string& name) {
    if (glTypeOf(&image) != kGlUnsignedByte || image.m_dim[2] != 1 || image.m_dim[3] != 1 ||
        (image.m_channels != 1 && image.m_channels != 3) || image.m_dim[0] < 1 || image.m_dim[1] < 1 ||
        image.m_dim[0] > kMaxSide || image.m_dim[1] > kMaxSide) {
        refuseImage("JPEG", "one picture of 1 or 3 channels of MET_UCHAR, at most 65500 pixels a side", image, name);
        return false;
    }
    if (options.quality < 1 || options.quality > 100) {
        reportFailure("Error: JPEG quality must be from 1 to 100, not " + std::to_string(options.quality) + " (" +
                      name + ")");
        return false;
    }
    JpegState state{};
    setUpErrors(state);
    jpeg_compress_struct jpeg{};
    jpeg.err = &state.errors;
    if (pointRows(state, static_cast<ImageBase<unsigned char>&>(image).m_data, static_cast<std::size_t>(image.m_stride),
                  image.m_dim[1])) {
        encodeJpeg(jpeg, out, image, options.quality, state);
    } else {
        std::snprintf(state.why, sizeof state.why, "out of memory");
    }
    jpeg_destroy_compress(&jpeg);
    std::free(state.rows);
    if (state.why[0] != '\0') reportFailure("Error: JPEG file " + name + ": " + state.why);
    return state.why[0] == '\0';
}

}  // namespace

const Codec kJpegCodec = {FileFormat::kJpeg, "JPEG", kExtensions, recognise, decode, nullptr, encode, nullptr, nullptr};

}  // namespace KVEL
