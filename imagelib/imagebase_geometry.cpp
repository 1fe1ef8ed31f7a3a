// Operations that change an image's size or orientation.

#include "imagelib/space.h"

#include "imagelib/detail/aligned_buffer.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/interpolation.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/paired_columns.h"
#include "imagelib/detail/power_of_two.h"
#include "imagelib/detail/simd_dispatch.h"
#include "imagelib/detail/thread_pool.h"
#include "imagelib/detail/uncleared_image.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace KVEL {

// Adds input row `row` to the sums of one output row: element (x, c) gains
// the fx input elements of its block, in x order. The first row of a block
// starts the sums at 0; the last one stores the means instead of the sums.
// The common shapes get loops the compiler can vectorise.
// Block sizes that are powers of two divide by multiplying with the exact
// reciprocal, which gives the same bits and is much cheaper.
template <bool first, bool last, class T>
KVEL_WIDE_LOOP static void addBlockRow(const T* __restrict row, int fx, int ch, int outW, float* __restrict sums,
                                       long long blockSize, T* __restrict out) {
    const float divisor = static_cast<float>(blockSize), reciprocal = 1 / divisor;
    const bool powerOfTwo = (blockSize & (blockSize - 1)) == 0;
    auto finish = [&](int i, float sum) {
        if (last) out[i] = toElement<T>(powerOfTwo ? sum * reciprocal : sum / divisor);
        else sums[i] = sum;
    };
    if (fx == 1) {
        for (int i = 0; i < outW * ch; ++i) finish(i, (first ? 0.0f : sums[i]) + static_cast<float>(row[i]));
    } else if (fx == 2 && ch == 1) {
        for (int x = 0; x < outW; ++x) {
            float sum = first ? 0.0f : sums[x];
            sum += static_cast<float>(row[2 * x]);
            sum += static_cast<float>(row[2 * x + 1]);
            finish(x, sum);
        }
    } else {
        for (int x = 0; x < outW; ++x) {
            const T* block = row + x * fx * ch;
            for (int c = 0; c < ch; ++c) {
                float sum = first ? 0.0f : sums[x * ch + c];
                for (int a = 0; a < fx; ++a) sum += static_cast<float>(block[a * ch + c]);
                finish(x * ch + c, sum);
            }
        }
    }
}

// addBlockRow for all rows of a float block two columns wide at once.
static void addPairBlockRows(const std::vector<const float*>& rows, int outW, long long blockSize, float* out) {
    const float divisor = static_cast<float>(blockSize), reciprocal = 1 / divisor;
    const bool powerOfTwo = (blockSize & (blockSize - 1)) == 0;
    int x = addPairBlocks(rows.data(), static_cast<int>(rows.size()), outW, {out, reciprocal, divisor, powerOfTwo});
    for (; x < outW; ++x) {
        float sum = 0.0f;
        for (const float* row : rows) {
            sum += row[2 * x];
            sum += row[2 * x + 1];
        }
        out[x] = powerOfTwo ? sum * reciprocal : sum / divisor;
    }
}

template <class T>
Image* ImageBase<T>::downsample(int fx, int fy, int fz, int ft, bool toNewImage) {
    clearLastError();
    if (!m_data) {
        reportFailure("Error: downsampling needs an image with data!");
        return nullptr;
    }
    if (fx < 1 || fy < 1 || fz < 1 || ft < 1) {
        reportFailure("Error: downsampling factors must be at least 1!");
        return nullptr;
    }
    // Every element of the result is written below, so its buffer is not cleared first.
    ImageBase<T>* target = new ImageBase<T>;
    target->m_verbose = m_verbose;
    target->Image::init(m_dim[0] / fx, m_dim[1] / fy, m_dim[2] / fz, m_dim[3] / ft, m_channels);
    if (target->m_image_size > 0) {
        target->m_data = static_cast<T*>(allocateAligned(sizeof(T) * static_cast<std::size_t>(target->m_image_size)));
        if (!target->m_data) {
            reportFailure("Error: out of memory while downsampling!");
            delete target;
            return nullptr;
        }
    }
    // Position and axes are carried along, as in place; only the spacing grows.
    copyGeometry(*target, *this);
    target->setSpacing(m_spacing[0] * fx, m_spacing[1] * fy, m_spacing[2] * fz, m_spacing[3] * ft);

    // Each output element sums its block in t, z, y, x order. Accumulating a
    // whole output row per input row keeps that order per element.
    const int ch = m_channels;
    const int outW = target->m_dim[0], outRow = target->m_stride, outH = target->m_dim[1], outD = target->m_dim[2];
    const long long blockSize = static_cast<long long>(fx) * fy * fz * ft;
    const long long blockRows = static_cast<long long>(fy) * fz * ft;
    const RowParts parts(static_cast<long long>(target->m_dim[3]) * outD * outH, blockSize * outRow);
    parts.forEachRange([&](long long firstRow, long long lastRow) {
        std::vector<float> sums(static_cast<std::size_t>(outRow));
        std::vector<const T*> block(static_cast<std::size_t>(blockRows));
        for (long long r = firstRow; r < lastRow; ++r) {
            const int y = static_cast<int>(r % outH), z = static_cast<int>(r / outH % outD);
            const int t = static_cast<int>(r / outH / outD);
            T* out = target->m_data + t * target->m_frame_size + z * target->m_slice_size + y * outRow;
            std::size_t k = 0;
            for (int d = 0; d < ft; ++d) {
                for (int g = 0; g < fz; ++g) {
                    for (int b = 0; b < fy; ++b) {
                        block[k++] = m_data + (t * ft + d) * m_frame_size + (z * fz + g) * m_slice_size +
                                     (y * fy + b) * m_stride;
                    }
                }
            }
            if constexpr (std::is_same_v<T, float>) {
                if (fx == 2 && ch == 1) {
                    addPairBlockRows(block, outW, blockSize, out);
                    continue;
                }
            }
            for (k = 0; k < block.size(); ++k) {
                const bool first = k == 0, last = k + 1 == block.size();
                const T* row = block[k];
                if (first && last) addBlockRow<true, true>(row, fx, ch, outW, sums.data(), blockSize, out);
                else if (first) addBlockRow<true, false>(row, fx, ch, outW, sums.data(), blockSize, out);
                else if (last) addBlockRow<false, true>(row, fx, ch, outW, sums.data(), blockSize, out);
                else addBlockRow<false, false>(row, fx, ch, outW, sums.data(), blockSize, out);
            }
        }
    });
    if (toNewImage) return target;

    freeData();
    m_data = target->m_data;
    target->m_data = nullptr;
    for (int i = 0; i < 4; ++i) {
        m_dim[i] = target->m_dim[i];
        m_spacing[i] = target->m_spacing[i];
    }
    m_stride = target->m_stride;
    m_slice_size = target->m_slice_size;
    m_frame_size = target->m_frame_size;
    m_image_size = target->m_image_size;
    delete target;
    if (m_verbose) {
        std::cout << "Image downsampled, new size " << m_dim[0] << " x " << m_dim[1] << " x " << m_dim[2]
                  << std::endl;
    }
    return nullptr;
}

// One source row read at the output columns: left[x] at column[x] and
// right[x] at column[x] + 1, the two corners bilinear sampling needs.
struct GatheredRow {
    int row = -1;
    std::vector<float> left, right;
};

// Output columns [begin, end). In a paired run each column lies two source
// elements after the one before (as when halving), so the corners are the
// source row's elements in turn and are blended straight from it.
struct ColumnRun {
    int begin, end;
    bool paired;
};

// Shorter runs of pairs are gathered like the other columns.
constexpr int kMinPairedRun = 16;

static std::vector<ColumnRun> columnRuns(const std::vector<int>& column) {
    std::vector<ColumnRun> runs;
    const int n = static_cast<int>(column.size());
    for (int x = 0; x < n;) {
        int end = x + 1;
        while (end < n && column[end] == column[end - 1] + 2) ++end;
        const bool paired = end - x >= kMinPairedRun;
        if (!paired && !runs.empty() && !runs.back().paired) runs.back().end = end;
        else runs.push_back({x, end, paired});
        x = end;
    }
    return runs;
}

// Reads the corners of the columns outside paired runs.
template <class T>
static void gatherRow(const T* __restrict src, const std::vector<int>& column, const std::vector<ColumnRun>& runs,
                      int row, GatheredRow& out) {
    out.row = row;
    out.left.resize(column.size());
    out.right.resize(column.size());
    const int* __restrict at = column.data();
    float* __restrict left = out.left.data();
    float* __restrict right = out.right.data();
    for (const ColumnRun& run : runs) {
        if (run.paired) continue;
        for (int x = run.begin; x < run.end; ++x) {
            left[x] = static_cast<float>(src[at[x]]);
            right[x] = static_cast<float>(src[at[x] + 1]);
        }
    }
}

// bilinearAt for output columns [from, to) of one row, from the gathered corners.
template <class U>
KVEL_WIDE_LOOP static void blendRow(const GatheredRow& upper, const GatheredRow& lower, const float* __restrict fx,
                                    float fy, int from, int to, U* __restrict dst) {
    const float gy = 1 - fy;
    const float* a0 = upper.left.data();
    const float* a1 = upper.right.data();
    const float* b0 = lower.left.data();
    const float* b1 = lower.right.data();
    for (int x = from; x < to; ++x) {
        const float gx = 1 - fx[x];
        dst[x] = toElement<U>(a0[x] * (gx * gy) + a1[x] * (fx[x] * gy) + b0[x] * (gx * fy) + b1[x] * (fx[x] * fy));
    }
}

// One output row: the upper of its two source rows, its y fraction, and
// where its values go.
template <class T, class U>
struct BlendTarget {
    const T* upper;
    float fy;
    U* dst;
};

// bilinearAt for n output columns of `count` rows, each with its corners at
// upper + 2x (and the row below, w further on).
template <class T, class U>
KVEL_WIDE_LOOP static void blendPairs(const BlendTarget<T, U>* rows, int count, int w, const float* __restrict fx,
                                      int n) {
    int x = 0;
    if constexpr (std::is_same_v<T, float> && std::is_same_v<U, float>) {
        PairBlend blends[2] = {};
        for (int k = 0; k < count; ++k) blends[k] = {rows[k].upper, rows[k].upper + w, rows[k].fy, rows[k].dst};
        x = blendPairColumns(blends, count, fx, n);
    }
    for (int k = 0; k < count; ++k) {
        const T* __restrict src = rows[k].upper;
        U* __restrict dst = rows[k].dst;
        for (int i = x; i < n; ++i) dst[i] = toElement<U>(bilinearAt(src + 2 * i, 1, w, fx[i], rows[k].fy));
    }
}

// Fills out (same extents as the source's resampled slices) with
// getBilinear(x*sx, y*sy, z). Outside paired runs each source row is read at
// the output columns once and then blended into every output row that needs it.
template <class T, class U>
static void resampleSlices(const ImageBase<T>& src, ImageBase<U>& out, float sx, float sy) {
    const int outW = out.m_dim[0], outH = out.m_dim[1];
    const int w = src.m_dim[0], h = src.m_dim[1];
    std::vector<int> column(static_cast<std::size_t>(outW));
    std::vector<float> fraction(static_cast<std::size_t>(outW));
    for (int x = 0; x < outW; ++x) {
        const float p = static_cast<float>(x) * sx;
        column[static_cast<std::size_t>(x)] = truncateCoordinate(p);
        fraction[static_cast<std::size_t>(x)] = p - static_cast<float>(column[static_cast<std::size_t>(x)]);
    }
    const std::vector<ColumnRun> runs = columnRuns(column);
    const bool gathers = std::any_of(runs.begin(), runs.end(), [](const ColumnRun& run) { return !run.paired; });
    // Output rows numbered over all slices and frames; a part gathers the
    // source rows it needs itself.
    const RowParts parts(static_cast<long long>(out.m_dim[3]) * out.m_dim[2] * outH, 6LL * outW);
    parts.forEachRange([&](long long first, long long last) {
        GatheredRow rows[2];
        for (long long r = first; r < last;) {
            // Two rows of one slice go through the paired runs together.
            const int y0 = static_cast<int>(r % outH), z = static_cast<int>(r / outH % out.m_dim[2]);
            const int count = r + 1 < last && y0 + 1 < outH ? 2 : 1;
            BlendTarget<T, U> target[2];
            int sourceRow[2];
            for (int k = 0; k < count; ++k) {
                const float p = static_cast<float>(y0 + k) * sy;
                sourceRow[k] = truncateCoordinate(p);
                target[k] = {src.m_data + (static_cast<std::size_t>(z) * h + sourceRow[k]) * w,
                             p - static_cast<float>(sourceRow[k]), out.m_data + (r + k) * outW};
            }
            for (const ColumnRun& run : runs) {
                if (!run.paired) continue;
                BlendTarget<T, U> at[2];
                for (int k = 0; k < count; ++k) {
                    at[k] = {target[k].upper + column[run.begin], target[k].fy, target[k].dst + run.begin};
                }
                blendPairs(at, count, w, fraction.data() + run.begin, run.end - run.begin);
            }
            for (int k = 0; k < count && gathers; ++k) {
                const int j = sourceRow[k];
                if (y0 + k == 0) rows[0].row = rows[1].row = -1;  // a new slice
                if (rows[1].row == j) std::swap(rows[0], rows[1]);
                if (rows[0].row != j) gatherRow(target[k].upper, column, runs, j, rows[0]);
                if (rows[1].row != j + 1) gatherRow(target[k].upper + w, column, runs, j + 1, rows[1]);
                for (const ColumnRun& run : runs) {
                    if (run.paired) continue;
                    blendRow(rows[0], rows[1], fraction.data(), target[k].fy, run.begin, run.end, target[k].dst);
                }
            }
            r += count;
        }
    });
}

template <class T>
Image* ImageBase<T>::resample2D(int newWidth, int newHeight, Image* out) {
    clearLastError();
    if (m_channels > 1) {
        reportFailure("Error: Downsampling of multiple channels not implemented yet!");
        return nullptr;
    }
    if (newWidth < 2 || newHeight < 2 || m_dim[0] < 2 || m_dim[1] < 2 || !m_data) {
        reportFailure("Error: resampling needs a width and height of at least 2!");
        return nullptr;
    }
    if (out && (out->m_dim[0] != newWidth || out->m_dim[1] != newHeight || out->m_dim[2] != m_dim[2] ||
                out->m_dim[3] != m_dim[3] || out->m_channels != 1 || glTypeOf(out) == 0)) {
        reportFailure("Error: output image does not have the resampled size!");
        return nullptr;
    }
    if (!out) {
        // Every element of the result is written below.
        auto* created = new ImageBase<T>;
        out = created;
        if (initUncleared(*created, newWidth, newHeight, m_dim[2], m_dim[3], 1) != 0) {
            delete out;
            return nullptr;
        }
    }
    // Real division: an integer quotient would cover only part of the picture.
    const float sx = static_cast<float>(static_cast<double>(m_dim[0] - 1) / (newWidth - 1) * 0.999);
    const float sy = static_cast<float>(static_cast<double>(m_dim[1] - 1) / (newHeight - 1) * 0.999);
    out->setSpacing(sx * m_spacing[0], sy * m_spacing[1], m_spacing[2], m_spacing[3]);
    out->resetIteration();
    withTypedImage(out, [&](auto& typedOut) { resampleSlices(*this, typedOut, sx, sy); });
    out->m_iteration = out->m_image_size;
    return out;
}

// Block transposes of 32-bit elements: the 8 x 8 (AVX2) or 4 x 4 (SSE2)
// blocks of an nA x nB buffer (row b holds a = 0..nA-1) turned with shuffles,
// which move bits and never look at them: buffer column a becomes
// dst + a*dstStepA, read forwards or (when !forwards) backwards.
struct BlocksDone {
    int a, b;  // every (a', b') with a' < a and b' < b is written
};

#if defined(__x86_64__) && defined(__GNUC__)
KVEL_AVX2 static BlocksDone transposeOctets(const void* buffer, int nA, int nB, void* dst, std::ptrdiff_t dstStepA,
                                            bool forwards) {
    const float* in = static_cast<const float*>(buffer);
    float* out = static_cast<float*>(dst);
    const int octetsA = nA & ~7, octetsB = nB & ~7;
    const __m256i reversed = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    for (int b = 0; b < octetsB; b += 8) {
        for (int a = 0; a < octetsA; a += 8) {
            __m256 r[8], t[8];
            for (int k = 0; k < 8; ++k) r[k] = _mm256_loadu_ps(in + (b + k) * nA + a);
            for (int k = 0; k < 8; k += 2) {
                t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);
                t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);
            }
            // Within each 128-bit half, u[4i + j] holds column 4 * half + j of rows 4i .. 4i + 3.
            __m256 u[8];
            for (int i = 0; i < 2; ++i) {
                const __m256* q = t + 4 * i;
                u[4 * i] = _mm256_shuffle_ps(q[0], q[2], _MM_SHUFFLE(1, 0, 1, 0));
                u[4 * i + 1] = _mm256_shuffle_ps(q[0], q[2], _MM_SHUFFLE(3, 2, 3, 2));
                u[4 * i + 2] = _mm256_shuffle_ps(q[1], q[3], _MM_SHUFFLE(1, 0, 1, 0));
                u[4 * i + 3] = _mm256_shuffle_ps(q[1], q[3], _MM_SHUFFLE(3, 2, 3, 2));
            }
            for (int j = 0; j < 8; ++j) {
                const int low = j & 3;
                // The lane selector must be a literal, also in an unoptimised build.
                __m256 column = j < 4 ? _mm256_permute2f128_ps(u[low], u[4 + low], 0x20)
                                      : _mm256_permute2f128_ps(u[low], u[4 + low], 0x31);
                float* d = out + (a + j) * dstStepA;
                if (forwards) {
                    _mm256_storeu_ps(d + b, column);
                } else {
                    column = _mm256_permutevar8x32_ps(column, reversed);
                    _mm256_storeu_ps(d - b - 7, column);
                }
            }
        }
    }
    return {octetsA, octetsB};
}
#endif

template <class T>
static BlocksDone transposeQuads(const T* buffer, int nA, int nB, T* dst, std::ptrdiff_t dstStepA, bool forwards) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (hasAvx2()) return transposeOctets(buffer, nA, nB, dst, dstStepA, forwards);
#endif
#if defined(__SSE2__)
    const int quadsA = nA & ~3, quadsB = nB & ~3;
    for (int b = 0; b < quadsB; b += 4) {
        for (int a = 0; a < quadsA; a += 4) {
            __m128i r[4];
            for (int k = 0; k < 4; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + (b + k) * nA + a));
            const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]), t1 = _mm_unpacklo_epi32(r[2], r[3]);
            const __m128i t2 = _mm_unpackhi_epi32(r[0], r[1]), t3 = _mm_unpackhi_epi32(r[2], r[3]);
            const __m128i column[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                                       _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
            for (int j = 0; j < 4; ++j) {
                T* d = dst + (a + j) * dstStepA;
                if (forwards) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + b), column[j]);
                } else {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d - b - 3),
                                     _mm_shuffle_epi32(column[j], _MM_SHUFFLE(0, 1, 2, 3)));
                }
            }
        }
    }
    return {quadsA, quadsB};
#else
    (void)buffer, (void)nA, (void)nB, (void)dst, (void)dstStepA, (void)forwards;
    return {0, 0};
#endif
}

// Copies an nA x nB block of voxels (ch elements each), voxel (a, b) at
// src + a*ch + b*srcStepB, to dst + a*dstStepA + b*dstStepB, where dstStepB is
// ch or -ch. Going through a small buffer, reads run along a and writes
// along b, so neither side strides across power-of-two rows that would
// evict each other from the cache.
template <class T>
static void transposeBlock(const T* src, std::ptrdiff_t srcStepB, T* dst, std::ptrdiff_t dstStepA,
                           std::ptrdiff_t dstStepB, int nA, int nB, int ch, T* buffer) {
    if (ch == 1) {
        for (int b = 0; b < nB; ++b) std::copy(src + b * srcStepB, src + b * srcStepB + nA, buffer + b * nA);
        const BlocksDone done =
            sizeof(T) == 4 ? transposeQuads(buffer, nA, nB, dst, dstStepA, dstStepB == 1) : BlocksDone{0, 0};
        for (int a = 0; a < nA; ++a) {
            T* d = dst + a * dstStepA;
            const int from = a < done.a ? done.b : 0;
            if (dstStepB == 1) {
                for (int b = from; b < nB; ++b) d[b] = buffer[b * nA + a];
            } else {
                for (int b = from; b < nB; ++b) d[-b] = buffer[b * nA + a];
            }
        }
        return;
    }
    for (int b = 0; b < nB; ++b) {
        const T* s = src + b * srcStepB;
        for (int a = 0; a < nA; ++a) {
            for (int c = 0; c < ch; ++c) buffer[(a * nB + b) * ch + c] = s[a * ch + c];
        }
    }
    for (int a = 0; a < nA; ++a) {
        T* d = dst + a * dstStepA;
        for (int b = 0; b < nB; ++b) {
            for (int c = 0; c < ch; ++c) d[b * dstStepB + c] = buffer[(a * nB + b) * ch + c];
        }
    }
}

// Old voxel (x, y, z) of one X x Y x Z frame goes to dst + x*step[0] +
// y*step[1] + z*step[2] (steps in the rotated layout).
template <class T>
static void rotateFrame(const T* src, int X, int Y, int Z, int ch, int axis, const std::ptrdiff_t step[3], T* dst) {
    const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(X) * ch, slice = row * Y;
    if (axis == 0) {  // rows stay rows
        RowParts(static_cast<long long>(Z) * Y, row).forEachRange([&](long long first, long long last) {
            for (long long r = first; r < last; ++r) {
                const int y = static_cast<int>(r % Y), z = static_cast<int>(r / Y);
                std::copy(src + y * row + z * slice, src + (y + 1) * row + z * slice, dst + y * step[1] + z * step[2]);
            }
        });
        return;
    }
    constexpr int kTile = 32;
    // Axis 2 turns old x against y within each slice; axis 1 turns x against
    // z within each row plane. Each part takes whole strips of tiles.
    const int nOuter = axis == 2 ? Z : Y, nB = axis == 2 ? Y : Z;
    const std::ptrdiff_t outerSrc = axis == 2 ? slice : row, outerDst = axis == 2 ? step[2] : step[1];
    const std::ptrdiff_t srcStepB = axis == 2 ? row : slice, dstStepB = axis == 2 ? step[1] : step[2];
    // Each part takes strips of kTile destination rows (old columns), so the
    // parts write apart and each writes its rows from start to end.
    const int strips = (X + kTile - 1) / kTile;
    const RowParts parts(static_cast<long long>(nOuter) * strips, static_cast<long long>(kTile) * nB * ch);
    parts.forEachRange([&](long long first, long long last) {
        std::vector<T> buffer(static_cast<std::size_t>(kTile) * kTile * ch);
        for (long long s = first; s < last; ++s) {
            const int o = static_cast<int>(s / strips), a0 = static_cast<int>(s % strips) * kTile;
            for (int b0 = 0; b0 < nB; b0 += kTile) {
                transposeBlock(src + o * outerSrc + a0 * ch + b0 * srcStepB, srcStepB,
                               dst + o * outerDst + a0 * step[0] + b0 * dstStepB, step[0], dstStepB,
                               std::min(kTile, X - a0), std::min(kTile, nB - b0), ch, buffer.data());
            }
        }
    });
}

template <class T>
int ImageBase<T>::rotate(int axis) {
    clearLastError();
    if (axis < 0 || axis > 2) {
        reportFailure("Error: cannot rotate around axis " + std::to_string(axis) + "!");
        return -1;
    }
    const int X = m_dim[0], Y = m_dim[1], Z = m_dim[2];
    const int a = axis == 0 ? 1 : 0;   // the two axes that change places
    const int b = axis == 2 ? 1 : 2;
    std::swap(m_dim[a], m_dim[b]);
    std::swap(m_spacing[a], m_spacing[b]);
    m_stride = m_dim[0] * m_channels;
    m_slice_size = m_dim[1] * m_stride;
    m_frame_size = m_dim[2] * m_slice_size;
    if (m_data) {
        T* rotated = static_cast<T*>(allocateAligned(sizeof(T) * static_cast<std::size_t>(m_image_size)));
        if (!rotated) {
            reportFailure("Error: out of memory while rotating!");
            std::swap(m_dim[a], m_dim[b]);
            std::swap(m_spacing[a], m_spacing[b]);
            m_stride = X * m_channels;
            m_slice_size = Y * m_stride;
            m_frame_size = Z * m_slice_size;
            return -1;
        }
        const int ch = m_channels;
        // Destination steps of a unit move in old x, y and z.
        std::ptrdiff_t step[3], origin;
        if (axis == 0) {  // (x, y, z) -> (x, z, Y-1-y)
            step[0] = ch, step[1] = -m_slice_size, step[2] = m_stride, origin = (Y - 1) * m_slice_size;
        } else if (axis == 1) {  // (x, y, z) -> (Z-1-z, y, x)
            step[0] = m_slice_size, step[1] = m_stride, step[2] = -ch, origin = (Z - 1) * ch;
        } else {  // (x, y, z) -> (y, X-1-x, z)
            step[0] = -m_stride, step[1] = ch, step[2] = m_slice_size, origin = static_cast<std::ptrdiff_t>(X - 1) * m_stride;
        }
        for (int t = 0; t < m_dim[3]; ++t) {
            const std::size_t frame = static_cast<std::size_t>(t) * m_frame_size;
            rotateFrame(m_data + frame, X, Y, Z, ch, axis, step, rotated + frame + origin);
        }
        freeData();
        m_data = rotated;
    }
    if (m_verbose) std::cout << "Rotated image around axis " << axis << std::endl;
    return 0;
}

// Pads x, y and (with withZ) z to powers of two; the picture stays at the origin.
template <class T>
static int padToPowerOfTwo(ImageBase<T>& image, bool withZ) {
    const long long w = nextPowerOfTwo(image.m_dim[0]);
    const long long h = nextPowerOfTwo(image.m_dim[1]);
    const long long d = withZ ? nextPowerOfTwo(image.m_dim[2]) : image.m_dim[2];
    if (w == image.m_dim[0] && h == image.m_dim[1] && d == image.m_dim[2]) return 0;
    const long long size = w * h * d * image.m_dim[3] * image.m_channels;
    if (w > INT_MAX || h > INT_MAX || d > INT_MAX || size > INT_MAX) {
        reportFailure("Error: image too large to pad to a power of two!");
        return -1;
    }
    T* padded = nullptr;
    if (size > 0) {
        padded = static_cast<T*>(allocateAlignedZeroed(sizeof(T) * static_cast<std::size_t>(size)));
        if (!padded) {
            reportFailure("Error: out of memory while padding!");
            return -1;
        }
    }
    const int stride = static_cast<int>(w) * image.m_channels;
    const int slice = static_cast<int>(h) * stride;
    const int frame = static_cast<int>(d) * slice;
    if (image.m_data) {
        // Every frame keeps its data, not only the first.
        for (int t = 0; t < image.m_dim[3]; ++t) {
            for (int z = 0; z < image.m_dim[2]; ++z) {
                for (int y = 0; y < image.m_dim[1]; ++y) {
                    std::memcpy(padded + t * frame + z * slice + y * stride,
                                image.m_data + t * image.m_frame_size + z * image.m_slice_size + y * image.m_stride,
                                sizeof(T) * static_cast<std::size_t>(image.m_stride));
                }
            }
        }
    }
    image.freeData();
    image.m_data = padded;
    image.m_dim[0] = static_cast<int>(w);
    image.m_dim[1] = static_cast<int>(h);
    image.m_dim[2] = static_cast<int>(d);
    image.m_stride = stride;
    image.m_slice_size = slice;
    image.m_frame_size = frame;
    image.m_image_size = static_cast<int>(size);
    if (image.m_verbose) {
        std::cout << "Scaled to power of two, new width = " << image.m_dim[0] << ", height = " << image.m_dim[1]
                  << ", depth = " << image.m_dim[2] << std::endl;
    }
    return 0;
}

template <class T>
int ImageBase<T>::padToPowerOfTwo3D() {
    clearLastError();
    return padToPowerOfTwo(*this, true);
}

template <class T>
int ImageBase<T>::padToPowerOfTwo2D() {
    clearLastError();
    return padToPowerOfTwo(*this, false);
}

#define KVEL_INSTANTIATE(T)                                                      \
    template Image* ImageBase<T>::downsample(int, int, int, int, bool);          \
    template Image* ImageBase<T>::resample2D(int, int, Image*);                  \
    template int ImageBase<T>::rotate(int);                                     \
    template int ImageBase<T>::padToPowerOfTwo3D();                             \
    template int ImageBase<T>::padToPowerOfTwo2D();
KVEL_FOR_EACH_ELEMENT_TYPE(KVEL_INSTANTIATE)
#undef KVEL_INSTANTIATE

}  // namespace KVEL
