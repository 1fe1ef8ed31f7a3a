#include "imagelib/detail/paired_columns.h"

#include "imagelib/detail/simd_dispatch.h"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace KVEL {

#if defined(__x86_64__) && defined(__GNUC__)

namespace {

// Columns 2x and 2x + 1 of the 16 elements at p, as lanes (0 1 4 5 2 3 6 7)
// of columns x .. x + 7; reorder() puts such lanes back in column order, and
// also takes column-ordered values into that lane order.
KVEL_AVX2 inline void splitPairs(const float* p, __m256& even, __m256& odd) {
    const __m256 a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + 8);
    even = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    odd = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
}

KVEL_AVX2 inline __m256 reorder(__m256 v) {
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), _MM_SHUFFLE(3, 1, 2, 0)));
}

// The common two-row block (kCount 2) keeps its row pointers in registers;
// kCount 0 reads `count` rows from the array. The stores may alias anything,
// so what the loop needs is copied out of memory first.
template <int kCount>
KVEL_AVX2 int addPairBlocksAvx2(const float* const* rows, int count, int columns, const BlockMean& to) {
    const __m256 reciprocal = _mm256_set1_ps(to.reciprocal), divisor = _mm256_set1_ps(to.divisor);
    float* const out = to.out;
    const bool exact = to.exact;
    const float* pair[2] = {rows[0], kCount == 2 ? rows[1] : nullptr};
    const int done = columns & ~7;
    for (int x = 0; x < done; x += 8) {
        __m256 sum = _mm256_setzero_ps();
        for (int r = 0; r < (kCount ? kCount : count); ++r) {
            __m256 even, odd;
            splitPairs((kCount ? pair[r] : rows[r]) + 2 * x, even, odd);
            sum = _mm256_add_ps(_mm256_add_ps(sum, even), odd);
        }
        sum = exact ? _mm256_mul_ps(sum, reciprocal) : _mm256_div_ps(sum, divisor);
        _mm256_storeu_ps(out + x, reorder(sum));
    }
    return done;
}

// Copied out of memory first, as above.
template <int kRows>
KVEL_AVX2 int blendPairColumnsAvx2(const PairBlend* rows, const float* fx, int columns) {
    const __m256 one = _mm256_set1_ps(1);
    const float* row[kRows];
    const float* below[kRows];
    float* out[kRows];
    __m256 wy[kRows], gy[kRows];
    for (int k = 0; k < kRows; ++k) {
        row[k] = rows[k].row;
        below[k] = rows[k].below;
        out[k] = rows[k].out;
        wy[k] = _mm256_set1_ps(rows[k].fy);
        gy[k] = _mm256_set1_ps(1 - rows[k].fy);
    }
    if (columns < 8) return 0;
    // The last block ends at the last column, overlapping the one before:
    // its columns get the same values again.
    for (int block = 0; block < columns; block += 8) {
        const int x = std::min(block, columns - 8);
        const __m256 wx = reorder(_mm256_loadu_ps(fx + x)), gx = _mm256_sub_ps(one, wx);
        for (int k = 0; k < kRows; ++k) {
            __m256 a0, a1, b0, b1;
            splitPairs(row[k] + 2 * x, a0, a1);
            splitPairs(below[k] + 2 * x, b0, b1);
            __m256 v = _mm256_mul_ps(a0, _mm256_mul_ps(gx, gy[k]));
            v = _mm256_add_ps(v, _mm256_mul_ps(a1, _mm256_mul_ps(wx, gy[k])));
            v = _mm256_add_ps(v, _mm256_mul_ps(b0, _mm256_mul_ps(gx, wy[k])));
            v = _mm256_add_ps(v, _mm256_mul_ps(b1, _mm256_mul_ps(wx, wy[k])));
            _mm256_storeu_ps(out[k] + x, reorder(v));
        }
    }
    return columns;
}

}  // namespace

int addPairBlocks(const float* const* rows, int count, int columns, const BlockMean& to) {
    if (!hasAvx2()) return 0;
    return count == 2 ? addPairBlocksAvx2<2>(rows, count, columns, to) : addPairBlocksAvx2<0>(rows, count, columns, to);
}

int blendPairColumns(const PairBlend* rows, int count, const float* fx, int columns) {
    if (!hasAvx2()) return 0;
    return count == 2 ? blendPairColumnsAvx2<2>(rows, fx, columns) : blendPairColumnsAvx2<1>(rows, fx, columns);
}

#else

int addPairBlocks(const float* const*, int, int, const BlockMean&) { return 0; }
int blendPairColumns(const PairBlend*, int, const float*, int) { return 0; }

#endif

}  // namespace KVEL
