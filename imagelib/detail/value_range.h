#pragma once

// The running minimum and maximum of the values an operation produces, in
// the order it produces them. Each operation starts from its own limits.

namespace KVEL {

struct ValueRange {
    float min = 1e16f;
    float max = -1e16f;
    void add(float v) {
        if (v < min) min = v;
        if (v > max) max = v;
    }
    // add() for values[0], ..., values[n-1] in turn.
    void addRow(const float* values, int n);
    // Folds in the range of the values produced after this one's.
    void merge(const ValueRange& later) {
        if (later.min < min) min = later.min;
        if (later.max > max) max = later.max;
    }
};

}  // namespace KVEL
