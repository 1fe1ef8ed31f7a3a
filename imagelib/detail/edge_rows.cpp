#include "imagelib/detail/edge_rows.h"

#include "imagelib/detail/simd_dispatch.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace KVEL {

#if defined(__x86_64__) && defined(__GNUC__)

namespace {

// Lanes of ifTrue where the sign bit of mask is set, of ifFalse elsewhere.
KVEL_AVX2 inline __m256 select(__m256 mask, __m256 ifTrue, __m256 ifFalse) {
    return _mm256_blendv_ps(ifFalse, ifTrue, mask);
}

KVEL_AVX2 inline __m256 code(int value) { return _mm256_castsi256_ps(_mm256_set1_epi32(value)); }

// The eight 32-bit lanes, each 0 .. 255, as bytes.
KVEL_AVX2 inline void storeBytes(__m256 lanes, unsigned char* out) {
    const __m256i v = _mm256_castps_si256(lanes);
    const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

KVEL_AVX2 int magnitudeColumnsAvx2(const float* above, const float* row, const float* below, int w, float* magnitude,
                                   Direction* direction) {
    const __m256 zero = _mm256_setzero_ps(), two = _mm256_set1_ps(2), nine = _mm256_set1_ps(9);
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    const int done = (w - 2) & ~7;
    for (int x = 1; x < 1 + done; x += 8) {
        const __m256 aboveLeft = _mm256_loadu_ps(above + x - 1), aboveRight = _mm256_loadu_ps(above + x + 1);
        const __m256 belowLeft = _mm256_loadu_ps(below + x - 1), belowRight = _mm256_loadu_ps(below + x + 1);
        // The sums of derivativePair, term by term.
        __m256 y = _mm256_add_ps(aboveLeft, _mm256_mul_ps(two, _mm256_loadu_ps(above + x)));
        y = _mm256_sub_ps(_mm256_add_ps(y, aboveRight), belowLeft);
        y = _mm256_sub_ps(_mm256_sub_ps(y, _mm256_mul_ps(two, _mm256_loadu_ps(below + x))), belowRight);
        __m256 s = _mm256_add_ps(aboveLeft, _mm256_mul_ps(two, _mm256_loadu_ps(row + x - 1)));
        s = _mm256_sub_ps(_mm256_add_ps(s, belowLeft), aboveRight);
        s = _mm256_sub_ps(_mm256_sub_ps(s, _mm256_mul_ps(two, _mm256_loadu_ps(row + x + 1))), belowRight);
        const __m256 alongY = _mm256_div_ps(y, nine), alongX = _mm256_div_ps(s, nine);
        _mm256_storeu_ps(magnitude + x,
                         _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(alongY, alongY), _mm256_mul_ps(alongX, alongX))));
        // quickDirection. Where its sector decides the code, alongY and alongX
        // are non-zero numbers and belowLow and belowHigh non-zero numbers, so
        // the sign bits that the blends read answer its comparisons.
        const __m256 a = _mm256_and_ps(alongY, absMask), b = _mm256_and_ps(alongX, absMask);
        const __m256 sum = _mm256_add_ps(a, b), slack = _mm256_mul_ps(_mm256_set1_ps(1e-5f), sum);
        const __m256 belowLow = _mm256_sub_ps(a, _mm256_mul_ps(_mm256_set1_ps(0.41421356f), b));
        const __m256 belowHigh = _mm256_sub_ps(a, _mm256_mul_ps(_mm256_set1_ps(2.41421356f), b));
        const __m256 diagonal = select(_mm256_xor_ps(alongY, alongX), code(kDiagonalDown), code(kDiagonalUp));
        const __m256 sector = select(belowLow, code(kAcrossX), select(belowHigh, diagonal, code(kAcrossY)));
        const __m256 clear = _mm256_and_ps(_mm256_cmp_ps(_mm256_and_ps(belowLow, absMask), slack, _CMP_GT_OQ),
                                           _mm256_cmp_ps(_mm256_and_ps(belowHigh, absMask), slack, _CMP_GT_OQ));
        const __m256 known = select(clear, sector, code(kUnresolved));
        static_assert(kAcrossX == 0, "a zero gradient's code is all bits clear");
        storeBytes(_mm256_andnot_ps(_mm256_cmp_ps(sum, zero, _CMP_EQ_OQ), known), direction + x);
    }
    return done;
}

KVEL_AVX2 int suppressColumnsAvx2(const float* above, const float* row, const float* below, const Direction* direction,
                                  int w, float low, float high, unsigned char* flags) {
    const __m256 lowV = _mm256_set1_ps(low), highV = _mm256_set1_ps(high);
    const int done = (w - 2) & ~7;
    for (int x = 1; x < 1 + done; x += 8) {
        const __m256i d = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(direction + x)));
        const __m256 acrossX = _mm256_castsi256_ps(_mm256_cmpeq_epi32(d, _mm256_set1_epi32(kAcrossX)));
        const __m256 up = _mm256_castsi256_ps(_mm256_cmpeq_epi32(d, _mm256_set1_epi32(kDiagonalUp)));
        const __m256 acrossY = _mm256_castsi256_ps(_mm256_cmpeq_epi32(d, _mm256_set1_epi32(kAcrossY)));
        const __m256 ahead =
            select(acrossX, _mm256_loadu_ps(row + x + 1),
                   select(up, _mm256_loadu_ps(below + x + 1),
                          select(acrossY, _mm256_loadu_ps(below + x), _mm256_loadu_ps(below + x - 1))));
        const __m256 behind =
            select(acrossX, _mm256_loadu_ps(row + x - 1),
                   select(up, _mm256_loadu_ps(above + x - 1),
                          select(acrossY, _mm256_loadu_ps(above + x), _mm256_loadu_ps(above + x + 1))));
        const __m256 m = _mm256_loadu_ps(row + x);
        const __m256 smaller = _mm256_or_ps(_mm256_cmp_ps(m, ahead, _CMP_LT_OQ), _mm256_cmp_ps(m, behind, _CMP_LT_OQ));
        const __m256 s = _mm256_andnot_ps(smaller, m);
        const __m256 bits =
            _mm256_or_ps(_mm256_and_ps(_mm256_cmp_ps(s, lowV, _CMP_NLT_UQ), code(kNotBelowLow)),
                         _mm256_or_ps(_mm256_and_ps(_mm256_cmp_ps(s, highV, _CMP_GE_OQ), code(kNotBelowHigh)),
                                      _mm256_and_ps(_mm256_cmp_ps(s, highV, _CMP_GT_OQ), code(kAboveHigh))));
        storeBytes(bits, flags + x);
    }
    return done;
}

}  // namespace

int magnitudeColumns(const float* above, const float* row, const float* below, int w, float* magnitude,
                     Direction* direction) {
    return hasAvx2() ? magnitudeColumnsAvx2(above, row, below, w, magnitude, direction) : 0;
}

int suppressColumns(const float* above, const float* row, const float* below, const Direction* direction, int w,
                    float low, float high, unsigned char* flags) {
    return hasAvx2() ? suppressColumnsAvx2(above, row, below, direction, w, low, high, flags) : 0;
}

#else

int magnitudeColumns(const float*, const float*, const float*, int, float*, Direction*) { return 0; }
int suppressColumns(const float*, const float*, const float*, const Direction*, int, float, float, unsigned char*) {
    return 0;
}

#endif

}  // namespace KVEL
