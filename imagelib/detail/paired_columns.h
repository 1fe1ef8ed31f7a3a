#pragma once

// Float rows read two elements per output column (halving in x), in blocks of
// eight columns with AVX2 shuffles. The compiler's own vectorisation of these
// loops gathers the even and odd elements with lane-crossing permutes at every
// load, which leaves them compute-bound; here the pairs are split within each
// 128-bit lane and one permute per eight results puts the lanes back in order.
// Every lane does the same IEEE operations in the same order as the scalar
// loop it replaces, so the results are bit for bit the same.
// Each function returns how many leading columns it did (0 on a processor
// without AVX2), leaving the rest to the caller's loop.

namespace KVEL {

// Block means two columns wide: out[x] is the sum, from 0, of rows[r][2x] and
// rows[r][2x + 1] for r = 0 .. count - 1 in turn, times reciprocal when
// `exact` (a power-of-two block) and divided by divisor otherwise. All rows
// of a block are read side by side: a core reading its rows as several streams
// at once fetches them much faster than one after another.
struct BlockMean {
    float* out;
    float reciprocal, divisor;
    bool exact;
};
// Does a multiple of 8 columns.
int addPairBlocks(const float* const* rows, int count, int columns, const BlockMean& to);

// One output row of bilinear blends: corners at row[2x], row[2x + 1] and the
// same in `below`, with the y fraction fy, as bilinearAt computes them.
struct PairBlend {
    const float* row;
    const float* below;
    float fy;
    float* out;
};
// Blends `count` (1 or 2) output rows with x fractions fx[x]. Two rows go
// side by side, their four source rows read as streams at once. Does all
// columns, or none where there are fewer than 8 or no AVX2; the outputs must
// not overlap the sources.
int blendPairColumns(const PairBlend* rows, int count, const float* fx, int columns);

}  // namespace KVEL
