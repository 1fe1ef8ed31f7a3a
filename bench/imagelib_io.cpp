// Loading a 4096x4096 24-bit BMP and a 256^3 MET_SHORT volume, each against
// the limit: one plain fread of the same file into a fresh buffer.
//   build-img/bench/bench_imagelib_io
// The counter ratio_to_fread is the loader's time over the limit's (1.0 is
// as fast as reading the bytes at all). Times are process CPU times, which a
// shared machine disturbs less than wall-clock times.
#include "imagelib/bitmap.h"
#include "imagelib/imagebase.h"
#include "imagelib/metaimage.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const std::string kDir = "/tmp/bench_imagelib_io_" + std::to_string(getpid());

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

const std::string& volumeBase() {
    static const std::string base = [] {
        KVEL::ImageBase<short> v;
        v.init(256, 256, 256, 1, 1);
        for (int i = 0; i < v.m_image_size; ++i) v.data()[i] = static_cast<short>(i * 7);
        KVEL::writeMetaImage(kDir.c_str(), &v);
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

// Runs load once per iteration beside the limit and reports both.
template <class Load>
void compareWithFread(benchmark::State& state, const std::string& file, Load load) {
    double ours = 0, limit = 0;
    for (auto _ : state) {
        limit += freadSeconds(file);
        const std::clock_t start = std::clock();
        load();
        const double seconds = secondsSince(start);
        ours += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["fread_ms"] = 1000 * limit / static_cast<double>(state.iterations());
    state.counters["ratio_to_fread"] = ours / limit;
}

void BM_BitmapLoad4096x4096x24(benchmark::State& state) {
    const std::string& path = bmpPath();
    compareWithFread(state, path, [&] {
        KVEL::Bitmap b;
        benchmark::DoNotOptimize(b.load(path.c_str()));
    });
}

void BM_ReadMetaImageShortVolume256(benchmark::State& state) {
    const std::string header = volumeBase() + ".mhd";
    // The reader's two progress lines go to /dev/null, not into the report.
    const int console = dup(STDOUT_FILENO);
    const int devnull = open("/dev/null", O_WRONLY);
    compareWithFread(state, volumeBase() + ".raw", [&] {
        std::fflush(stdout);
        dup2(devnull, STDOUT_FILENO);
        delete KVEL::readMetaImage(header.c_str());
        std::fflush(stdout);
        dup2(console, STDOUT_FILENO);
    });
    close(devnull);
    close(console);
}

BENCHMARK(BM_BitmapLoad4096x4096x24)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadMetaImageShortVolume256)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(bmpPath().c_str());
    std::remove((volumeBase() + ".mhd").c_str());
    std::remove((volumeBase() + ".raw").c_str());
    return 0;
}
