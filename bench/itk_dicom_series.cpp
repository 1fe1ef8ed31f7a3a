// Reading a 512 x 512 x 400 16-bit CT series (one file per slice, names
// shuffled) from a folder: KVEL beside ITK's ImageSeriesReader with
// GDCMImageIO and beside dcm2niix converting it, on the same files in one run.
//   cmake -S . -B build -DVALLEY_BENCH=ON && ninja -C build bench_itk_dicom_series
//   build/bench/bench_itk_dicom_series
// Each read starts from the folder's name: finding and sorting the files is
// part of it. Wall-clock times (dcm2niix runs as its own process); the
// counter ratio_to_itk is KVEL's time over ITK's. The series is written once
// by tests/imagelib/dicom_fixtures.py (pydicom).
#include "imagelib/errors.h"
#include "imagelib/image_file.h"

#include <benchmark/benchmark.h>
#include <itkGDCMImageIO.h>
#include <itkGDCMSeriesFileNames.h>
#include <itkImage.h>
#include <itkImageSeriesReader.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

const std::string kDir = "/tmp/bench_dicom_series_" + std::to_string(getpid());
double g_itkSeconds = 0;

const std::string& seriesFolder() {
    static const std::string folder = [] {
        const std::string script = std::string(GAME_DATA_DIR) + "/../tests/imagelib/dicom_fixtures.py";
        if (std::system(("/usr/bin/python3 " + script + " ct " + kDir + "/ct").c_str()) != 0) std::abort();
        std::filesystem::create_directories(kDir + "/out");
        return kDir + "/ct";
    }();
    return folder;
}

template <class Read>
double timed(benchmark::State& state, Read read) {
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        read();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    state.SetBytesProcessed(state.iterations() * 512LL * 512 * 400 * 2);
    return total / state.iterations();
}

void BM_Itk(benchmark::State& state) {
    const std::string& folder = seriesFolder();
    g_itkSeconds = timed(state, [&] {
        using Image = itk::Image<short, 3>;
        auto names = itk::GDCMSeriesFileNames::New();
        names->SetDirectory(folder);
        auto reader = itk::ImageSeriesReader<Image>::New();
        reader->SetImageIO(itk::GDCMImageIO::New());
        reader->SetFileNames(names->GetInputFileNames());
        reader->Update();
        benchmark::DoNotOptimize(reader->GetOutput()->GetBufferPointer());
    });
}

void BM_Kvel(benchmark::State& state) {
    const std::string& folder = seriesFolder();
    KVEL::setMessagesPrinted(false);
    const double seconds = timed(state, [&] {
        std::unique_ptr<KVEL::Image> image(KVEL::readImage(folder.c_str()));
        if (!image || image->m_dim[2] != 400) state.SkipWithError(KVEL::lastError());
    });
    if (g_itkSeconds > 0) state.counters["ratio_to_itk"] = seconds / g_itkSeconds;
}

void BM_Dcm2niix(benchmark::State& state) {
    const std::string& folder = seriesFolder();
    timed(state, [&] {
        const std::string command = "dcm2niix -z n -b n -o " + kDir + "/out -f ct " + folder + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) state.SkipWithError("dcm2niix failed");
    });
}

BENCHMARK(BM_Itk)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Kvel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Dcm2niix)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

struct Cleanup {
    ~Cleanup() { std::filesystem::remove_all(kDir); }
} g_cleanup;

}  // namespace

BENCHMARK_MAIN();
