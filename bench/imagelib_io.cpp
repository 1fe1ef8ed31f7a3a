// Loading a 4096x4096 24-bit BMP and a 256^3 MET_SHORT volume (split .mhd +
// .raw, single-file .mha, and compressed .mha), each against its limit: one
// plain fread of the same bytes into a fresh buffer, plus for the compressed
// file one zlib uncompress of its stream.
//   build/bench/bench_imagelib_io
// The counter ratio_to_limit is the loader's time over the limit's (1.0 is
// as fast as reading, and inflating, the bytes at all). Times are process CPU
// times, which a shared machine disturbs less than wall-clock times.
#include "imagelib/bitmap.h"
#include "imagelib/imagebase.h"
#include "imagelib/metaimage.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string kDir = "/tmp/bench_imagelib_io_" + std::to_string(getpid());
constexpr std::size_t kVolumeBytes = 256 * 256 * 256 * sizeof(short);

const std::string& bmpPath() {
    static const std::string path = [] {
        KVEL::Bitmap b;
        b.createFromBuffer(4096, 4096, 3, nullptr);
        for (int i = 0; i < b.m_image_size; ++i) b.data()[i] = static_cast<unsigned char>(i * 31);
        const std::string p = kDir + ".bmp";
        b.save(p.c_str());
        return p;
    }();
    return path;
}

std::vector<char> readWhole(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    std::vector<char> bytes(static_cast<std::size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    benchmark::DoNotOptimize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    return bytes;
}

// A smooth volume, which compresses about as well as a scan does. Written as
// kDir.mhd + kDir.raw, kDir.mha, kDir.z.mha and (its stream alone) kDir.zraw.
const std::string& volumeBase() {
    static const std::string base = [] {
        KVEL::ImageBase<short> v;
        v.init(256, 256, 256, 1, 1);
        for (int i = 0; i < v.m_image_size; ++i) {
            const int x = i & 255, y = (i >> 8) & 255, z = i >> 16;
            v.data()[i] = static_cast<short>(1000 * std::sin(x / 9.0) * std::cos(y / 7.0) + 4 * z);
        }
        KVEL::writeMetaImage(kDir.c_str(), &v);
        KVEL::writeMetaImageFile((kDir + ".mha").c_str(), &v, false);
        KVEL::writeMetaImageFile((kDir + ".z.mha").c_str(), &v, true);
        const std::vector<char> mha = readWhole(kDir + ".z.mha");
        const std::string marker = "ElementDataFile = LOCAL\n";
        const std::size_t start = std::string(mha.begin(), mha.end()).find(marker) + marker.size();
        std::FILE* f = std::fopen((kDir + ".zraw").c_str(), "wb");
        std::fwrite(mha.data() + start, 1, mha.size() - start, f);
        std::fclose(f);
        return kDir;
    }();
    return base;
}

double secondsSince(std::clock_t start) {
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

double freadSeconds(const std::string& path) {
    const std::clock_t start = std::clock();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    void* buffer = std::malloc(static_cast<std::size_t>(size));
    benchmark::DoNotOptimize(std::fread(buffer, 1, static_cast<std::size_t>(size), f));
    std::fclose(f);
    std::free(buffer);
    return secondsSince(start);
}

double freadAndUncompressSeconds(const std::string& path) {
    const std::clock_t start = std::clock();
    const std::vector<char> stream = readWhole(path);
    void* out = std::malloc(kVolumeBytes);
    uLongf size = kVolumeBytes;
    benchmark::DoNotOptimize(uncompress(static_cast<Bytef*>(out), &size,
                                        reinterpret_cast<const Bytef*>(stream.data()), stream.size()));
    std::free(out);
    return secondsSince(start);
}

// Runs load once per iteration beside the limit and reports both.
template <class Limit, class Load>
void compareWithLimit(benchmark::State& state, Limit limitSeconds, Load load) {
    double ours = 0, limit = 0;
    for (auto _ : state) {
        limit += limitSeconds();
        const std::clock_t start = std::clock();
        load();
        const double seconds = secondsSince(start);
        ours += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["limit_ms"] = 1000 * limit / static_cast<double>(state.iterations());
    state.counters["ratio_to_limit"] = ours / limit;
}

void BM_BitmapLoad4096x4096x24(benchmark::State& state) {
    const std::string& path = bmpPath();
    compareWithLimit(state, [&] { return freadSeconds(path); }, [&] {
        KVEL::Bitmap b;
        benchmark::DoNotOptimize(b.load(path.c_str()));
    });
}

// Reads the volume from header; the reader's progress lines go to /dev/null,
// not into the report.
template <class Limit>
void readVolume(benchmark::State& state, const std::string& header, Limit limit) {
    const int console = dup(STDOUT_FILENO);
    const int devnull = open("/dev/null", O_WRONLY);
    compareWithLimit(state, limit, [&] {
        std::fflush(stdout);
        dup2(devnull, STDOUT_FILENO);
        delete KVEL::readMetaImage(header.c_str());
        std::fflush(stdout);
        dup2(console, STDOUT_FILENO);
    });
    close(devnull);
    close(console);
}

void BM_ReadMetaImageShortVolume256(benchmark::State& state) {
    const std::string raw = volumeBase() + ".raw";
    readVolume(state, volumeBase() + ".mhd", [&] { return freadSeconds(raw); });
}

void BM_ReadMetaImageShortVolume256SingleFile(benchmark::State& state) {
    const std::string mha = volumeBase() + ".mha";
    readVolume(state, mha, [&] { return freadSeconds(mha); });
}

void BM_ReadMetaImageShortVolume256Compressed(benchmark::State& state) {
    const std::string stream = volumeBase() + ".zraw";
    readVolume(state, volumeBase() + ".z.mha", [&] { return freadAndUncompressSeconds(stream); });
}

BENCHMARK(BM_BitmapLoad4096x4096x24)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadMetaImageShortVolume256)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadMetaImageShortVolume256SingleFile)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadMetaImageShortVolume256Compressed)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(bmpPath().c_str());
    for (const char* suffix : {".mhd", ".raw", ".mha", ".z.mha", ".zraw"}) std::remove((volumeBase() + suffix).c_str());
    return 0;
}
