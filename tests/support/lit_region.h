#pragma once

#include <vector>

#include "support/gl_context.h"

namespace testgl {

// Where something was drawn: the bounding box and the centroid of the pixels
// that match (by default, every pixel that is not black background).
struct LitRegion {
    int count = 0;
    int minX = 0, maxX = -1, minY = 0, maxY = -1;
    double centreX = 0, centreY = 0;
};

template <class Match>
LitRegion regionWhere(Match matches) {
    const std::vector<Rgb> pixels = readPixels(0, 0, kWidth, kHeight);
    LitRegion r;
    r.minX = kWidth;
    r.minY = kHeight;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const Rgb& p = pixels[static_cast<std::size_t>(y) * kWidth + x];
            if (!matches(p)) continue;
            ++r.count;
            if (x < r.minX) r.minX = x;
            if (x > r.maxX) r.maxX = x;
            if (y < r.minY) r.minY = y;
            if (y > r.maxY) r.maxY = y;
            r.centreX += x;
            r.centreY += y;
        }
    }
    if (r.count > 0) {
        r.centreX /= r.count;
        r.centreY /= r.count;
    }
    return r;
}

inline LitRegion litRegion() {
    return regionWhere([](const Rgb& p) { return p.r != 0 || p.g != 0 || p.b != 0; });
}

inline LitRegion regionOfColour(Rgb colour) {
    return regionWhere([colour](const Rgb& p) { return p == colour; });
}

}  // namespace testgl
