// filter (3x3) and gradient on a 2048x2048 float image, against the same
// operations written element by element through the virtual accessors (the
// straightforward form whose results they reproduce bit for bit).
//   build-img/bench/bench_imagelib_filters
// Both write into an output allocated once, as a caller that filters many
// pictures does, so the figures are computation, not page faults. Times are
// CPU times (the machine is shared); speedup_vs_elementwise is the
// element-wise time over ours.
#include "imagelib/imagebase.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>

namespace {

constexpr int kSize = 2048;
const float kKernel[9] = {0.0625f, 0.125f, 0.0625f, 0.125f, 0.25f, 0.125f, 0.0625f, 0.125f, 0.0625f};

KVEL::ImageBase<float>& source() {
    static KVEL::ImageBase<float> image;
    if (!image.data()) {
        image.init(kSize, kSize, 1, 1, 1);
        for (int i = 0; i < image.m_image_size; ++i) image.data()[i] = static_cast<float>((i * 37) % 1000) * 0.5f;
    }
    return image;
}

std::unique_ptr<KVEL::Image> output(int channels) {
    std::unique_ptr<KVEL::Image> out(KVEL::createImage(KVEL::kGlFloat));
    out->init(kSize, kSize, 1, 1, channels);
    return out;
}

// One element-wise pass of filter or gradient, timed once.
double elementwiseSeconds(bool gradient) {
    KVEL::Image& src = source();
    std::unique_ptr<KVEL::Image> out = output(gradient ? 2 : 1);
    out->resetIteration();
    const std::clock_t start = std::clock();
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            float a = 0, b = 0;
            if (x > 0 && y > 0 && x < kSize - 1 && y < kSize - 1) {
                for (int r = 0; r < 3; ++r) {
                    for (int c = 0; c < 3; ++c) {
                        a += kKernel[r * 3 + c] * src.get(x + c - 1 + (y + r - 1) * kSize);
                        if (gradient) b += kKernel[r * 3 + c] * src.get(x + r - 1 + (y + c - 1) * kSize);
                    }
                }
            }
            out->setNext(a);
            if (gradient) out->setNext(b);
        }
    }
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    benchmark::DoNotOptimize(out->get(kSize + 1));
    return seconds;
}

template <class Run>
void compareWithElementwise(benchmark::State& state, bool gradient, Run run) {
    const double peer = elementwiseSeconds(gradient);
    std::unique_ptr<KVEL::Image> out = output(gradient ? 2 : 1);
    const std::clock_t start = std::clock();
    for (auto _ : state) benchmark::DoNotOptimize(run(out.get()));
    const double ours = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC / static_cast<double>(state.iterations());
    state.counters["elementwise_ms"] = 1000 * peer;
    state.counters["speedup_vs_elementwise"] = peer / ours;
}

void BM_Filter3x3Float2048(benchmark::State& state) {
    compareWithElementwise(state, false, [](KVEL::Image* out) { return source().filter(0, kKernel, 3, out); });
}

void BM_GradientFloat2048(benchmark::State& state) {
    compareWithElementwise(state, true, [](KVEL::Image* out) { return source().gradient(0, kKernel, true, out); });
}

BENCHMARK(BM_Filter3x3Float2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GradientFloat2048)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
