// Decoding volume files through the entry point, KVEL::readImage(bytes, size),
// against the codec library called directly on the same bytes into a plain
// buffer, in the same run: a 256^3 16-bit TIFF stack (one deflated page per
// slice, as the library writes it) and a 256^3 16-bit .nii.gz.
//   build/bench/bench_imagelib_codecs_volumes
// The counter ratio_to_direct is the entry point's time over the direct
// decode's (the goal is at most 1.15: no extra copy of the elements). Times
// are process CPU times, which a shared machine disturbs less than
// wall-clock times.
#include "imagelib/errors.h"
#include "imagelib/image_file.h"
#include "imagelib/imagebase.h"

#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr int kSide = 256;
constexpr std::size_t kVolumeBytes = std::size_t(kSide) * kSide * kSide * sizeof(unsigned short);

// A smooth volume, which compresses about as well as a scan does, in the
// format the name's ending selects.
Bytes encoded(const char* extension) {
    KVEL::ImageBase<unsigned short> v;
    v.init(kSide, kSide, kSide, 1, 1);
    for (int i = 0; i < v.m_image_size; ++i) {
        const int x = i & 255, y = (i >> 8) & 255, z = i >> 16;
        v.data()[i] = static_cast<unsigned short>(2000 + 1000 * std::sin(x / 9.0) * std::cos(y / 7.0) + 4 * z);
    }
    const std::string path = "/tmp/bench_imagelib_codecs_volumes_" + std::to_string(getpid()) + extension;
    if (KVEL::writeImage(path.c_str(), &v) != 0) std::abort();
    std::ifstream in(path, std::ios::binary);
    Bytes bytes{std::istreambuf_iterator<char>(in), {}};
    std::remove(path.c_str());
    return bytes;
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
    void (*decodeDirectly)(const Bytes& bytes);
};

const Format kFormats[] = {
    {"Tiff256CubedU16StackDecode", ".tif", decodeTiffDirectly},
    {"NiftiGz256CubedU16Decode", ".nii.gz", decodeGzipDirectly},
};

double secondsSince(std::clock_t start) { return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC; }

// Both decodes once per iteration, alternating, on the same bytes.
void compareWithDirect(benchmark::State& state, const Format& format) {
    const Bytes bytes = encoded(format.extension);
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
