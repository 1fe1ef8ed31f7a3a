// Decoding image files through the entry point, KVEL::readImage(bytes, size),
// against the codec library called directly on the same bytes into a plain
// buffer, in the same run: a 4096 x 4096 RGB PNG and a 4096 x 4096 JPEG, a
// 256^3 16-bit TIFF stack (one deflated page per slice, as the library writes
// it) and a 256^3 16-bit .nii.gz.
//   build/bench/bench_imagelib_codecs
// The counter ratio_to_direct is the entry point's time over the direct
// decode's (the goal is at most 1.15: no extra copy, no per-pixel virtual
// call). Times are process CPU times, which a shared machine disturbs less
// than wall-clock times.
//
// Each format is one row of kFormats: a picture or volume written in it and a
// direct decode with its library.
#include "imagelib/errors.h"
#include "imagelib/image_file.h"
#include "imagelib/imagebase.h"

#include <benchmark/benchmark.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr int kSide = 4096;
constexpr int kVolumeSide = 256;
constexpr std::size_t kVolumeBytes = std::size_t(kVolumeSide) * kVolumeSide * kVolumeSide * sizeof(unsigned short);

// A photograph-like picture: smooth shading plus a little noise, so that
// both codecs compress it about as much as they do real pictures.
std::unique_ptr<KVEL::Image> picture() {
    auto image = std::make_unique<KVEL::ImageBase<unsigned char>>();
    image->init(kSide, kSide, 1, 1, 3);
    unsigned noise = 1;
    unsigned char* p = image->data();
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            for (int c = 0; c < 3; ++c, ++p) {
                noise = noise * 1103515245u + 12345u;
                *p = static_cast<unsigned char>(((x >> 4) + (y >> 3) * (c + 1) + (noise >> 29)) & 255);
            }
        }
    }
    return image;
}

// A smooth volume, which compresses about as well as a scan does.
std::unique_ptr<KVEL::Image> volume() {
    auto v = std::make_unique<KVEL::ImageBase<unsigned short>>();
    v->init(kVolumeSide, kVolumeSide, kVolumeSide, 1, 1);
    for (int i = 0; i < v->m_image_size; ++i) {
        const int x = i & 255, y = (i >> 8) & 255, z = i >> 16;
        v->data()[i] = static_cast<unsigned short>(2000 + 1000 * std::sin(x / 9.0) * std::cos(y / 7.0) + 4 * z);
    }
    return v;
}

// The image written through the entry point in the format of the ending, as bytes.
Bytes encoded(const KVEL::Image& image, const char* extension) {
    const std::string path = "/tmp/bench_imagelib_codecs_" + std::to_string(getpid()) + extension;
    if (KVEL::writeImage(path.c_str(), const_cast<KVEL::Image*>(&image)) != 0) std::abort();
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    return bytes;
}

struct PngInput {
    const Bytes* bytes;
    std::size_t position;
};

void pngRead(png_structp png, png_bytep out, png_size_t count) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (count > input->bytes->size() - input->position) png_error(png, "short");
    std::copy(input->bytes->data() + input->position, input->bytes->data() + input->position + count, out);
    input->position += count;
}

// libpng as its manual shows it: 8-bit RGB into one malloc'd buffer.
void decodePngDirectly(const Bytes& bytes) {
    PngInput input{&bytes, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    unsigned char* pixels = nullptr;
    png_bytep* rows = nullptr;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_read_fn(png, &input, pngRead);
        png_read_info(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        const std::size_t rowBytes = png_get_rowbytes(png, info);
        pixels = static_cast<unsigned char*>(std::malloc(rowBytes * height));
        rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
        for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels + rowBytes * y;
        png_read_image(png, rows);
        benchmark::DoNotOptimize(pixels[rowBytes * height - 1]);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    std::free(pixels);
}

// libjpeg as its manual shows it: RGB scanlines into one malloc'd buffer.
void decodeJpegDirectly(const Bytes& bytes) {
    jpeg_decompress_struct jpeg;
    jpeg_error_mgr errors;
    jpeg.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&jpeg);
    jpeg_mem_src(&jpeg, bytes.data(), bytes.size());
    jpeg_read_header(&jpeg, TRUE);
    jpeg.out_color_space = JCS_RGB;
    jpeg_start_decompress(&jpeg);
    const std::size_t rowBytes = static_cast<std::size_t>(jpeg.output_width) * 3;
    auto* pixels = static_cast<unsigned char*>(std::malloc(rowBytes * jpeg.output_height));
    while (jpeg.output_scanline < jpeg.output_height) {
        JSAMPROW row = pixels + rowBytes * jpeg.output_scanline;
        jpeg_read_scanlines(&jpeg, &row, 1);
    }
    jpeg_finish_decompress(&jpeg);
    jpeg_destroy_decompress(&jpeg);
    benchmark::DoNotOptimize(pixels[rowBytes * jpeg.output_height - 1]);
    std::free(pixels);
}

// libtiff over the bytes, as any program reading TIFF from memory sets it up.
struct Memory {
    const Bytes* bytes;
    toff_t at;
};

tmsize_t readMemory(thandle_t h, void* out, tmsize_t n) {
    auto* m = static_cast<Memory*>(h);
    const toff_t count = std::min<toff_t>(static_cast<toff_t>(n), m->bytes->size() - std::min<toff_t>(m->at, m->bytes->size()));
    std::memcpy(out, m->bytes->data() + m->at, count);
    m->at += count;
    return static_cast<tmsize_t>(count);
}
tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return -1; }
toff_t seekMemory(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(h);
    m->at = (whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->bytes->size() : 0) + offset;
    return m->at;
}
int closeNothing(thandle_t) { return 0; }
toff_t sizeOfMemory(thandle_t h) { return static_cast<Memory*>(h)->bytes->size(); }
int mapMemory(thandle_t h, void** base, toff_t* size) {
    auto* m = static_cast<Memory*>(h);
    *base = const_cast<unsigned char*>(m->bytes->data());
    *size = m->bytes->size();
    return 1;
}
void unmapNothing(thandle_t, void*, toff_t) {}

void decodeTiffDirectly(const Bytes& bytes) {
    Memory memory{&bytes, 0};
    TIFF* tif = TIFFClientOpen("bench", "r", &memory, readMemory, writeNothing, seekMemory, closeNothing,
                               sizeOfMemory, mapMemory, unmapNothing);
    auto* out = static_cast<unsigned char*>(std::malloc(kVolumeBytes));
    unsigned char* next = out;
    do {
        for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
            const tmsize_t got = TIFFReadEncodedStrip(tif, s, next, -1);
            if (got < 0) std::abort();
            next += got;
        }
    } while (TIFFReadDirectory(tif));
    if (next != out + kVolumeBytes) std::abort();
    benchmark::DoNotOptimize(out);
    std::free(out);
    TIFFClose(tif);
}

void decodeGzipDirectly(const Bytes& bytes) {
    // The 352 bytes of header and extension flag, then the elements.
    auto* out = static_cast<unsigned char*>(std::malloc(kVolumeBytes + 352));
    z_stream z{};
    inflateInit2(&z, 16 + MAX_WBITS);
    z.next_in = const_cast<unsigned char*>(bytes.data());
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = out;
    z.avail_out = static_cast<uInt>(kVolumeBytes + 352);
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    inflateEnd(&z);
    benchmark::DoNotOptimize(out);
    std::free(out);
}

struct Format {
    const char* name;
    const char* extension;  // written through the entry point under this ending
    std::unique_ptr<KVEL::Image> (*make)();
    void (*decodeDirectly)(const Bytes& bytes);
};

const Format kFormats[] = {
    {"Png4096RgbDecode", ".png", picture, decodePngDirectly},
    {"Jpeg4096RgbDecode", ".jpg", picture, decodeJpegDirectly},
    {"Tiff256CubedU16StackDecode", ".tif", volume, decodeTiffDirectly},
    {"NiftiGz256CubedU16Decode", ".nii.gz", volume, decodeGzipDirectly},
};

double secondsSince(std::clock_t start) { return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC; }

// Both decodes once per iteration, alternating, on the same bytes.
void compareWithDirect(benchmark::State& state, const Format& format) {
    const Bytes bytes = encoded(*format.make(), format.extension);
    double ours = 0, direct = 0;
    for (auto _ : state) {
        std::clock_t start = std::clock();
        format.decodeDirectly(bytes);
        direct += secondsSince(start);
        start = std::clock();
        std::unique_ptr<KVEL::Image> image(KVEL::readImage(bytes.data(), bytes.size()));
        if (!image) state.SkipWithError(KVEL::lastError());
        const double seconds = secondsSince(start);
        ours += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
    state.counters["direct_ms"] = 1000 * direct / static_cast<double>(state.iterations());
    state.counters["ratio_to_direct"] = ours / direct;
}

}  // namespace

int main(int argc, char** argv) {
    for (const Format& format : kFormats) {
        benchmark::RegisterBenchmark(format.name, compareWithDirect, format)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(2.0);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
