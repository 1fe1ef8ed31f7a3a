// The image library's operations side by side with their OpenCV peers, on the
// same pictures in one run; rigid resampling has no peer and is held against
// a plain copy of the same bytes. Prints a table of medians and ratios (ours
// divided by the peer's, so below 1.0 means we are faster). Both sides run
// once restricted to one thread and once with their default thread count;
// the ratios put one thread beside one and default beside default.
//
// usage: bench_opencv_compare [--benchmark_repetitions=N (default 5)] [--benchmark_filter=...]

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "imagelib/build_info.h"
#include "imagelib/detail/thread_pool.h"
#include "imagelib/edges.h"
#include "imagelib/imagebase.h"
#include "imagelib/rigid.h"
#include "imagelib/threads.h"

namespace {

using KVEL::Image;
using KVEL::ImageBase;

// A smooth picture with some structure (rings and waves) and a little
// noise, so that edge detection has real edges to find.
std::vector<float> testPicture(int size) {
    std::vector<float> values(static_cast<std::size_t>(size) * size);
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> noise(-4, 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const float u = static_cast<float>(x) / size, v = static_cast<float>(y) / size;
            const float r = std::hypot(u - 0.5f, v - 0.45f);
            float value = 128 + 60 * std::sin(40 * r) * (r < 0.35f ? 1.0f : 0.3f) + 40 * std::sin(9 * u + 5 * v);
            value += (x / 64 + y / 64) % 2 ? 20 : -20;
            values[static_cast<std::size_t>(y) * size + x] = std::fmin(255, std::fmax(0, value + noise(random)));
        }
    }
    return values;
}

template <class T>
struct Picture {
    ImageBase<T> image;
    cv::Mat mat;
    explicit Picture(int size) {
        const std::vector<float> values = testPicture(size);
        image.m_verbose = 0;
        image.init(size, size, 1, 1, 1);
        for (std::size_t i = 0; i < values.size(); ++i) image.data()[i] = static_cast<T>(values[i]);
        image.computeRange();
        mat = cv::Mat(size, size, cv::DataType<T>::type, image.data()).clone();
    }
};

// One comparison: our job and the peer's job on the same input.
struct Case {
    std::string operation;
    std::function<void()> ours;
    std::function<void()> peer;
    bool peerIsOpenCV = true;
};

std::vector<float> kernel(int size) {
    std::vector<float> k(static_cast<std::size_t>(size) * size);
    for (int i = 0; i < size * size; ++i) k[i] = static_cast<float>(1 + (i * 7) % 5) / (3.0f * size * size);
    return k;
}

// Holds the pictures and output buffers alive for the whole run.
struct Workspace {
    std::vector<std::shared_ptr<void>> keep;
    template <class T, class... Args>
    T* make(Args&&... args) {
        auto p = std::make_shared<T>(std::forward<Args>(args)...);
        keep.push_back(p);
        return p.get();
    }
};

std::vector<Case> casesForSize(int size, Workspace& ws) {
    std::vector<Case> cases;
    auto* floats = ws.make<Picture<float>>(size);
    auto* bytes = ws.make<Picture<unsigned char>>(size);

    {
        // What the memory system moves: the picture copied row by row over
        // the library's threads, beside OpenCV's copy (one thread). A kernel
        // that reads and writes as many bytes cannot be faster than this.
        auto* out = ws.make<ImageBase<float>>();
        out->init(size, size, 1, 1, 1);
        auto* dst = ws.make<cv::Mat>(size, size, CV_32F);
        cases.push_back({"copy float (memory bandwidth) / copyTo",
                         [=] {
                             const float* from = floats->image.data();
                             float* to = out->data();
                             KVEL::RowParts(size, size).forEachRange([&](long long first, long long last) {
                                 std::memcpy(to + first * size, from + first * size,
                                             sizeof(float) * static_cast<std::size_t>((last - first) * size));
                             });
                         },
                         [=] { floats->mat.copyTo(*dst); }});
    }
    for (int k : {3, 5}) {
        auto* weights = ws.make<std::vector<float>>(kernel(k));
        auto* out = ws.make<ImageBase<float>>();
        out->init(size, size, 1, 1, 1);
        auto* kmat = ws.make<cv::Mat>(k, k, CV_32F, weights->data());
        auto* dst = ws.make<cv::Mat>(size, size, CV_32F);
        cases.push_back({"filter " + std::to_string(k) + "x" + std::to_string(k) + " float",
                         [=] { floats->image.filter(KVEL::kGlFloat, weights->data(), k, out); },
                         [=] { cv::filter2D(floats->mat, *dst, CV_32F, *kmat); }});
    }
    {
        auto* out = ws.make<ImageBase<float>>();
        out->init(size, size, 1, 1, 2);
        auto* dx = ws.make<cv::Mat>(size, size, CV_32F);
        auto* dy = ws.make<cv::Mat>(size, size, CV_32F);
        cases.push_back({"gradient float / Sobel x+y", [=] { floats->image.gradient(KVEL::kGlFloat, nullptr, true, out); },
                         [=] {
                             cv::Sobel(floats->mat, *dx, CV_32F, 1, 0, 3);
                             cv::Sobel(floats->mat, *dy, CV_32F, 0, 1, 3);
                         }});
    }
    {
        // Our magnitudes are OpenCV's L2 Sobel magnitudes divided by 9.
        auto* map = ws.make<std::vector<unsigned char>>(static_cast<std::size_t>(size) * size);
        auto* edges = ws.make<cv::Mat>(size, size, CV_8U);
        const float low = 4;
        cases.push_back({"detectEdges2D uchar / Canny L2",
                         [=] { KVEL::detectEdges2D(&bytes->image, low, map->data()); },
                         [=] { cv::Canny(bytes->mat, *edges, 9 * low, 27 * low, 3, true); }});
    }
    {
        // Both produce a new picture per call: our operation returns one.
        cases.push_back({"downsample 2x2 float / resize AREA",
                         [=] { delete floats->image.downsample(2, 2, 1, 1, true); },
                         [=] {
                             cv::Mat half;
                             cv::resize(floats->mat, half, cv::Size(size / 2, size / 2), 0, 0, cv::INTER_AREA);
                         }});
    }
    // OpenCV's INTER_LINEAR averages 2x2 blocks for an exact halving.
    for (const auto& [label, target] : {std::pair<const char*, int>{"1/2", size / 2}, {"0.7", size * 7 / 10},
                                        {"3/4", size * 3 / 4}}) {
        auto* out = ws.make<ImageBase<float>>();
        out->init(target, target, 1, 1, 1);
        auto* dst = ws.make<cv::Mat>(target, target, CV_32F);
        cases.push_back({std::string("resample2D to ") + label + " float / resize LINEAR",
                         [=] { floats->image.resample2D(target, target, out); },
                         [=] { cv::resize(floats->mat, *dst, dst->size(), 0, 0, cv::INTER_LINEAR); }});
    }
    {
        // rotate(2) turns in place; turning four times restores the picture,
        // and one call is one quarter turn either way.
        auto* turning = ws.make<Picture<float>>(size);
        auto* dst = ws.make<cv::Mat>(size, size, CV_32F);
        cases.push_back({"rotate(2) float / rotate 90",
                         [=] { turning->image.rotate(2); },
                         [=] { cv::rotate(floats->mat, *dst, cv::ROTATE_90_COUNTERCLOCKWISE); }});
    }
    {
        auto* out = ws.make<std::vector<unsigned char>>(static_cast<std::size_t>(size) * size);
        auto* dst = ws.make<cv::Mat>(size, size, CV_8U);
        const float low = floats->image.m_channel_windows[0].low, high = floats->image.m_channel_windows[0].high;
        cases.push_back({"toBytes float / convertTo 8U",
                         [=] { floats->image.toBytes(out->data(), false); },
                         [=] { floats->mat.convertTo(*dst, CV_8U, 255.0 / (high - low), -low * 255.0 / (high - low)); }});
    }
    return cases;
}

std::vector<Case> rigidCases(Workspace& ws) {
    const int n = 128;
    auto* source = ws.make<ImageBase<float>>();
    source->m_verbose = 0;
    source->init(n, n, n, 1, 1);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(0, 1000);
    for (int i = 0; i < source->m_image_size; ++i) source->data()[i] = value(random);
    auto* out = ws.make<ImageBase<float>>();
    out->init(n, n, n, 1, 1);
    auto* copy = ws.make<std::vector<float>>(static_cast<std::size_t>(source->m_image_size));
    static const float params[6] = {2, -3, 1.5f, 0.1f, -0.2f, 0.3f};
    auto bandwidth = [=] {
        std::memcpy(copy->data(), source->data(), sizeof(float) * copy->size());
        benchmark::ClobberMemory();
    };
    return {{"resampleRigid trilinear / memcpy", [=] { KVEL::resampleRigid(params, source, out, true); }, bandwidth,
             false},
            {"resampleRigid nearest / memcpy", [=] { KVEL::resampleRigid(params, source, out, false); }, bandwidth,
             false}};
}

// Median real time (ms) of every benchmark, by name.
class MedianCollector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

struct Row {
    std::string operation;
    std::string size;
    std::string name;
    bool peerIsOpenCV;
};

// threads 0: the library's default count (both libraries are set alike).
void registerJob(const std::string& name, std::function<void()> job, int threads) {
    benchmark::RegisterBenchmark(name.c_str(),
                                 [job, threads](benchmark::State& state) {
                                     const int before = cv::getNumThreads();
                                     if (threads > 0) cv::setNumThreads(threads);
                                     KVEL::setThreadCount(threads);
                                     for (auto _ : state) job();
                                     cv::setNumThreads(before);
                                     KVEL::setThreadCount(0);
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ReportAggregatesOnly(true);
}

void printTable(const std::vector<Row>& rows, const std::map<std::string, double>& medians) {
    auto median = [&](const std::string& name) {
        const auto it = medians.find(name);
        return it == medians.end() ? NAN : it->second;
    };
    const KVEL::BuildInfo build = KVEL::buildInfo();
    std::printf("\nOpenCV %s, default threads here: %d; ours: %d\n", CV_VERSION, cv::getNumThreads(),
                KVEL::threadCount());
    std::printf("KVEL build type '%s'%s, compiled with: %s\n\n", build.buildType,
                build.optimised ? "" : " (NOT optimised)", build.compileFlags);
    std::printf("| Operation | Size | Ours 1 thread (ms) | OpenCV 1 thread (ms) | Ratio 1 thread | Ours default (ms) "
                "| OpenCV default (ms) | Ratio default |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|\n");
    for (const Row& row : rows) {
        const double one = median(row.name + "/ours1"), all = median(row.name + "/ours");
        if (std::isnan(one)) continue;  // filtered out
        if (row.peerIsOpenCV) {
            const double peerOne = median(row.name + "/opencv1"), peerAll = median(row.name + "/opencv");
            std::printf("| %s | %s | %.3f | %.3f | %.2f | %.3f | %.3f | %.2f |\n", row.operation.c_str(),
                        row.size.c_str(), one, peerOne, one / peerOne, all, peerAll, all / peerAll);
        } else {
            const double copy = median(row.name + "/peer");
            std::printf("| %s | %s | %.3f | %.3f (copy) | %.1f | %.3f | | %.1f |\n", row.operation.c_str(),
                        row.size.c_str(), one, copy, one / copy, all, all / copy);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Workspace ws;
    std::vector<Row> rows;
    auto add = [&](const std::vector<Case>& cases, const std::string& size) {
        for (const Case& c : cases) {
            const std::string name = c.operation + " " + size;
            rows.push_back({c.operation, size, name, c.peerIsOpenCV});
            registerJob(name + "/ours1", c.ours, 1);
            registerJob(name + "/ours", c.ours, 0);
            if (c.peerIsOpenCV) {
                registerJob(name + "/opencv1", c.peer, 1);
                registerJob(name + "/opencv", c.peer, 0);
            } else {
                registerJob(name + "/peer", c.peer, 0);
            }
        }
    };
    for (int size : {512, 2048}) add(casesForSize(size, ws), std::to_string(size) + "x" + std::to_string(size));
    add(rigidCases(ws), "128^3");

    // Five repetitions unless the command line asks for another number.
    std::vector<char*> args(argv, argv + argc);
    static char defaultRepetitions[] = "--benchmark_repetitions=5";
    args.insert(args.begin() + 1, defaultRepetitions);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    MedianCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printTable(rows, reporter.medians);
    benchmark::Shutdown();
    return 0;
}
