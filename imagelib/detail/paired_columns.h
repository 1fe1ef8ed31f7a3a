#pragma once

// Float rows read two elements per output column (halving in x), in blocks of
// eight columns with AVX2 shuffles. The compiler's own vectorisation of these
// loops gathers the even and odd elements with lane-crossing permutes at every
// load, which leaves them compute-bound; here the pairs are split within each
// 128-bit lane and one permute per eight results puts the lanes back in order.
// Every lane does the same IEEE operations in the same order as the scalar
// loop it replaces, so the results are bit for bit the same.
// Each function returns how many leading columns it did (a multiple of 8; 0
// on a processor without AVX2), leaving the rest to the caller's loop.

namespace KVEL {

// The sums of a block mean: sums[x] (0 when `first`) + row[2x] + row[2x + 1].
// Unless `last`, they go back to sums, kept in the functions' own lane order
// (only these functions read those columns); when `last` they are finished into
// out[x] as sum * reciprocal when `exact` (a power-of-two block) and sum / divisor
// otherwise.
struct PairSums {
    float* sums;
    float* out;
    float reciprocal, divisor;
    bool exact;
};
int addPairColumns(const float* row, int columns, bool first, bool last, const PairSums& to);

// Bilinear blends of corners at row[2x], row[2x + 1] and the same in `below`,
// with x fractions fx[x] and the y fraction fy, as bilinearAt computes them.
int blendPairColumns(const float* row, const float* below, const float* fx, float fy, int columns, float* out);

}  // namespace KVEL
