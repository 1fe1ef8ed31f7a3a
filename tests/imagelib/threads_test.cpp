#include "imagelib/edges.h"
#include "imagelib/imagebase.h"
#include "imagelib/rigid.h"
#include "imagelib/threads.h"
#include "imagelib/visualise.h"
#include "imagelib/detail/thread_pool.h"

#include "random_image.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

using KVEL::Image;

// An image as bytes: geometry, windows, cursor and elements, so that two
// results compare bit for bit.
std::string snapshot(Image* image) {
    if (!image) return "null";
    std::string bytes(reinterpret_cast<const char*>(image->m_dim), sizeof image->m_dim);
    bytes.append(reinterpret_cast<const char*>(image->m_spacing), sizeof image->m_spacing);
    bytes.append(reinterpret_cast<const char*>(&image->m_iteration), sizeof image->m_iteration);
    bytes.append(reinterpret_cast<const char*>(image->m_channel_windows), sizeof(KVEL::ChannelWindow) * image->m_channels);
    const std::unique_ptr<unsigned short[]> shorts(image->toShorts(nullptr, false));
    for (int i = 0; i < image->m_image_size; ++i) {
        const float v = image->get(i);
        bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    bytes.append(reinterpret_cast<const char*>(shorts.get()), sizeof(unsigned short) * image->m_image_size);
    return bytes;
}

// Every threaded operation on pictures large enough to be split, each result as bytes.
std::vector<std::string> results() {
    std::vector<std::string> out;
    auto keep = [&](Image* result) {
        out.push_back(snapshot(result));
        delete result;
    };
    const float kernel5[25] = {1, 0, -2, 0, 1, 3, 1, 0, 1, 3, 0.5f, 2, -7, 2, 0.5f, 3, 1, 0, 1, 3, 1, 0, -2, 0, 1};
    for (int type : {KVEL::kGlFloat, KVEL::kGlUnsignedByte, KVEL::kGlShort}) {
        auto picture = imagetest::randomImage(type, 403, 331, 2, 1, 7, 0, 250);
        picture->computeRange();
        keep(picture->filter(KVEL::kGlFloat, kernel5, 5, nullptr));
        keep(picture->filter(KVEL::kGlShort, kernel5, 3, nullptr));
        keep(picture->gradient(KVEL::kGlFloat, nullptr, true, nullptr));
        keep(picture->gradient(KVEL::kGlInt, nullptr, false, nullptr));
        keep(picture->hessian(KVEL::kGlFloat, nullptr, nullptr));
        keep(picture->downsample(2, 2, 1, 1, true));
        keep(picture->downsample(3, 1, 2, 1, true));
        auto resampled = imagetest::randomImage(type, 301, 247, 2, 1, 0);
        keep(picture->resample2D(301, 247, resampled.release()));
        std::vector<unsigned char> edges(403 * 331);
        KVEL::detectEdges2D(picture.get(), 25, edges.data());
        out.emplace_back(edges.begin(), edges.end());
        std::unique_ptr<unsigned char[]> slice(picture->sliceToBytes(nullptr, 1, 0, true));
        out.emplace_back(reinterpret_cast<const char*>(slice.get()), 512 * 512);
        for (int axis : {0, 1, 2}) {
            picture->rotate(axis);
            out.push_back(snapshot(picture.get()));
        }
    }
    {
        const int w = 400, h = 300;
        auto picture = imagetest::randomImage(KVEL::kGlFloat, w, h, 1, 3, 3, -50, 50);
        const float* values = static_cast<KVEL::ImageBase<float>*>(picture.get())->data();
        std::vector<float> field(2 * w * h), vectors(3 * w * h);
        std::string bytes(4 * 512 * h, '\0');
        auto* b = reinterpret_cast<unsigned char*>(&bytes[0]);
        const float table[6] = {0, 0.2f, 1, 1, 0.5f, 0};
        KVEL::fieldDerivative3x3(values, field.data(), w, h, false);
        KVEL::centralDifferences(picture.get(), vectors.data());
        KVEL::floatsToBytes(values, b, w, h, 0, 0, false);
        KVEL::fieldMagnitudeToBytes(field.data(), b + 512 * h, w, h, 0, 0, false);
        KVEL::channelsToRGBA(values, b + 1024 * h, w, h / 4, picture.get(), false);
        out.push_back(bytes);
        KVEL::colourMapFloats(values, b, w, h, -20, 30, table, 2, true);
        out.push_back(bytes);
        out.emplace_back(reinterpret_cast<const char*>(field.data()), sizeof(float) * field.size());
        out.emplace_back(reinterpret_cast<const char*>(vectors.data()), sizeof(float) * vectors.size());
    }
    {
        // Not-a-number and both zeros where parts begin and end: the range
        // must not depend on where the rows are split.
        auto odd = imagetest::randomImage(KVEL::kGlFloat, 500, 400, 1, 1, 5, -1, 1);
        float* v = static_cast<KVEL::ImageBase<float>*>(odd.get())->data();
        for (int row = 0; row < 400; row += 7) v[row * 500] = row % 2 ? std::nanf("") : -0.0f;
        for (int row = 3; row < 400; row += 11) v[row * 500 + 499] = row % 2 ? 0.0f : std::nanf("");
        for (bool leadingNan : {false, true}) {
            v[0] = leadingNan ? std::nanf("") : 5;
            odd->computeRange();
            const float limits[4] = {odd->m_min, odd->m_max, odd->m_channel_windows[0].low,
                                     odd->m_channel_windows[0].high};
            out.emplace_back(reinterpret_cast<const char*>(limits), sizeof limits);
        }
    }
    auto volume = imagetest::randomImage(KVEL::kGlShort, 71, 60, 43, 1, 11, 0, 900);
    volume->computeRange();
    keep(volume->gradient3D(KVEL::kGlShort, nullptr, true, true, nullptr));
    keep(volume->gradient3D(KVEL::kGlByte, nullptr, false, false, nullptr));
    const float params[6] = {2, -3, 1.5f, 0.1f, -0.2f, 0.3f};
    keep(KVEL::resampleRigid(params, volume.get(), nullptr, true));
    keep(KVEL::resampleRigid(params, volume.get(), nullptr, false));
    KVEL::detectEdges3D(volume.get(), 40);
    out.push_back(snapshot(volume.get()));
    return out;
}

TEST(Threads, EveryOperationGivesTheSameBytesForAnyThreadCount) {
    KVEL::setThreadCount(1);
    const std::vector<std::string> single = results();
    for (int threads : {2, 3}) {
        KVEL::setThreadCount(threads);
        EXPECT_EQ(KVEL::threadCount(), threads);
        const std::vector<std::string> split = results();
        ASSERT_EQ(split.size(), single.size());
        for (std::size_t i = 0; i < single.size(); ++i) EXPECT_TRUE(split[i] == single[i]) << "result " << i << " with " << threads << " threads";
    }
    KVEL::setThreadCount(0);
}

TEST(Threads, APartThatFailsFailsTheJobOnTheCallerAndThePoolGoesOn) {
    KVEL::setThreadCount(3);
    const KVEL::RowParts parts(300, 1 << 20);
    ASSERT_EQ(parts.count(), 3);
    for (int failing = 0; failing < 3; ++failing) {
        EXPECT_THROW(parts.run([&](int part) {
            if (part == failing) throw std::bad_alloc();
        }),
                     std::bad_alloc);
        std::atomic<int> ran{0};
        parts.run([&](int) { ++ran; });
        EXPECT_EQ(ran, 3);
    }
    KVEL::setThreadCount(0);
}

// One caller's round on its own picture: filter, gradient, resample2D,
// downsample and toBytes, each result as bytes.
std::vector<std::string> callerRound(int caller) {
    const int types[] = {KVEL::kGlFloat, KVEL::kGlUnsignedByte, KVEL::kGlShort, KVEL::kGlDouble};
    const int w = 290 + 17 * caller, h = 250 - 9 * caller;
    auto picture = imagetest::randomImage(types[caller], w, h, 1, 1, 100 + caller, -40, 200);
    picture->computeRange();
    std::vector<std::string> out;
    auto keep = [&](Image* result) {
        out.push_back(snapshot(result));
        delete result;
    };
    const float sharpen[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};
    keep(picture->filter(KVEL::kGlFloat, sharpen, 3, nullptr));
    keep(picture->gradient(KVEL::kGlFloat, nullptr, true, nullptr));
    keep(picture->resample2D(w * 3 / 4, h + 31, nullptr));
    keep(picture->downsample(2, 2, 1, 1, true));
    const std::unique_ptr<unsigned char[]> bytes(picture->toBytes(nullptr, false));
    out.emplace_back(reinterpret_cast<const char*>(bytes.get()), std::size_t(w) * h);
    return out;
}

// A program with threads of its own calls the library from several at once,
// and changes the thread count meanwhile: each caller gets what it gets alone.
TEST(Threads, CallerThreadsOfTheProgramEachGetTheResultsComputedAlone) {
    constexpr int kCallers = 4;
    constexpr int kRounds = 3;
    KVEL::setThreadCount(2);
    std::vector<std::vector<std::string>> alone;
    for (int caller = 0; caller < kCallers; ++caller) {
        alone.push_back(callerRound(caller));
        for (const std::string& result : alone.back()) ASSERT_NE(result, "null");
    }

    std::atomic<int> finished{0};
    std::vector<int> mismatches(kCallers, 0);
    std::vector<std::thread> callers;
    for (int caller = 0; caller < kCallers; ++caller) {
        callers.emplace_back([&, caller] {
            for (int round = 0; round < kRounds; ++round) {
                if (callerRound(caller) != alone[caller]) ++mismatches[caller];
            }
            ++finished;
        });
    }
    for (int count = 1; finished < kCallers; count = count % 3 + 1) {
        KVEL::setThreadCount(count);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (std::thread& caller : callers) caller.join();
    for (int caller = 0; caller < kCallers; ++caller) EXPECT_EQ(mismatches[caller], 0) << "caller " << caller;
    KVEL::setThreadCount(0);
}

}  // namespace
