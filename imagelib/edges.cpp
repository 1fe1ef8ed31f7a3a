#include "imagelib/edges.h"

#include "imagelib/detail/derivative3x3.h"
#include "imagelib/detail/edge_direction.h"
#include "imagelib/detail/edge_rows.h"
#include "imagelib/detail/element_data.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/simd_dispatch.h"
#include "imagelib/detail/thread_pool.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

namespace KVEL {

namespace {

// Three consecutive rows of one stage; row y lives in slot y % 3.
template <class V>
class RowRing {
public:
    RowRing(int width, V fill) : m_width(width), m_rows(3 * static_cast<std::size_t>(width), fill) {}
    V* operator[](int y) { return m_rows.data() + static_cast<std::size_t>(y % 3) * m_width; }

private:
    std::size_t m_width;
    std::vector<V> m_rows;
};

inline unsigned char thresholdFlags(float s, float low, float high) {
    return static_cast<unsigned char>(int{!(s < low)} * kNotBelowLow | int{s >= high} * kNotBelowHigh |
                                      int{s > high} * kAboveHigh);
}

// The row loops below are branch-free and read every neighbour
// unconditionally, so that they vectorise; rows never overlap. Where the
// processor has them, the vector kernels do all but the last few columns.

// Step 1 for an interior row: magnitude and direction of each interior pixel.
void magnitudeRow(const float* __restrict above, const float* __restrict row, const float* __restrict below, int w,
                  float* __restrict magnitude, Direction* __restrict direction) {
    for (int x = 1 + magnitudeColumns(above, row, below, w, magnitude, direction); x < w - 1; ++x) {
        float alongY, alongX;
        derivativePair(above, row, below, x, alongY, alongX);
        magnitude[x] = std::sqrt(alongY * alongY + alongX * alongX);
        direction[x] = quickDirection(alongY, alongX);
    }
    Direction* const end = direction + w - 1;
    for (Direction* d = direction + 1; (d = static_cast<Direction*>(std::memchr(d, kUnresolved, end - d))); ++d) {
        float alongY, alongX;
        derivativePair(above, row, below, static_cast<int>(d - direction), alongY, alongX);
        *d = directionByAngle(alongY, alongX);
    }
}

// Step 2 for an interior row: a magnitude below either neighbour across the
// edge becomes 0; the result is kept as its threshold flags.
void suppressRow(const float* __restrict above, const float* __restrict row, const float* __restrict below,
                 const Direction* __restrict direction, int w, float low, float high,
                 unsigned char* __restrict flags) {
    for (int x = 1 + suppressColumns(above, row, below, direction, w, low, high, flags); x < w - 1; ++x) {
        const float right = row[x + 1], left = row[x - 1];
        const float belowLeft = below[x - 1], belowMiddle = below[x], belowRight = below[x + 1];
        const float aboveLeft = above[x - 1], aboveMiddle = above[x], aboveRight = above[x + 1];
        const int d = direction[x];
        const float ahead = d == kAcrossX ? right : d == kDiagonalUp ? belowRight : d == kAcrossY ? belowMiddle : belowLeft;
        const float behind = d == kAcrossX ? left : d == kDiagonalUp ? aboveLeft : d == kAcrossY ? aboveMiddle : aboveRight;
        const float m = row[x];
        const float suppressed = (int{m < ahead} | int{m < behind}) ? 0.0f : m;
        flags[x] = thresholdFlags(suppressed, low, high);
    }
}

// Step 3 for an interior row, one pass: strong pixels, and weak ones next to
// a strong one.
KVEL_WIDE_LOOP void hysteresisRow(const unsigned char* __restrict above, const unsigned char* __restrict row,
                                  const unsigned char* __restrict below, int w, unsigned char* __restrict out) {
    out[0] = out[w - 1] = 0;
    for (int x = 1; x < w - 1; ++x) {
        const int neighbours = above[x - 1] | above[x] | above[x + 1] | row[x - 1] | row[x + 1] | below[x - 1] |
                               below[x] | below[x + 1];
        const int own = row[x];
        out[x] = (own & kNotBelowLow) && ((own & kNotBelowHigh) || (neighbours & kAboveHigh)) ? 255 : 0;
    }
}

// The three steps run as a pipeline over the rows, each stage one row
// behind the previous, so that only a few rows are ever held. Border rows
// and columns have magnitude and suppressed value 0. Output row e needs input
// rows e-3 .. e+3, so a band of output rows [first, last) starts its
// pipeline three rows early and stops three rows late, and bands are
// independent.
template <class T>
void detectEdgeBand(const ImageBase<T>& image, float low, int first, int last, unsigned char* edgeMap) {
    const int w = image.m_dim[0], h = image.m_dim[1], ch = image.m_channels;
    const float high = 3 * low;
    const unsigned char borderFlags = thresholdFlags(0, low, high);
    RowRing<float> input(w, 0), magnitude(w, 0);
    RowRing<Direction> direction(w, kAcrossX);
    RowRing<unsigned char> flags(w, borderFlags);
    auto isBorder = [h](int y) { return y == 0 || y == h - 1; };
    // Whether stage row y (needed `reach` rows around the band) lies in the image.
    auto needed = [&](int y, int reach) { return y >= std::max(0, first - reach) && y < std::min(h, last + reach); };
    for (int y = std::max(0, first - 3); y < std::min(h, last + 3) + 3; ++y) {
        if (needed(y, 3)) {
            const T* src = image.m_data + static_cast<std::size_t>(y) * image.m_stride;
            float* dst = input[y];
            if (ch == 1) {
                for (int x = 0; x < w; ++x) dst[x] = static_cast<float>(src[x]);
            } else {
                for (int x = 0; x < w; ++x) dst[x] = static_cast<float>(src[x * ch]);
            }
        }
        const int m = y - 1, s = y - 2, e = y - 3;
        if (needed(m, 2)) {
            if (isBorder(m)) std::fill(magnitude[m], magnitude[m] + w, 0.0f);
            else magnitudeRow(input[m - 1], input[m], input[m + 1], w, magnitude[m], direction[m]);
        }
        if (needed(s, 1)) {
            if (isBorder(s)) std::fill(flags[s], flags[s] + w, borderFlags);
            else suppressRow(magnitude[s - 1], magnitude[s], magnitude[s + 1], direction[s], w, low, high, flags[s]);
        }
        if (needed(e, 0)) {
            unsigned char* out = edgeMap + static_cast<std::size_t>(e) * w;
            if (isBorder(e)) std::fill(out, out + w, 0);
            else hysteresisRow(flags[e - 1], flags[e], flags[e + 1], w, out);
        }
    }
}

}  // namespace

int detectEdges2D(Image* image, float lowThreshold, unsigned char* edgeMap) {
    clearLastError();
    if (!hasElementData(image) || !edgeMap) {
        reportFailure("Error: edge detection needs an image with data and an edge map!");
        return 1;
    }
    const int w = image->width(), h = image->height();
    if (w < 3 || h < 3) {  // all border
        std::fill(edgeMap, edgeMap + static_cast<std::size_t>(w) * h, 0);
        return 0;
    }
    const RowParts parts(h, 40LL * w);
    withTypedImage(image, [&](auto& typed) {
        parts.forEachRange([&](long long first, long long last) {
            detectEdgeBand(typed, lowThreshold, static_cast<int>(first), static_cast<int>(last), edgeMap);
        });
    });
    return 0;
}

int detectEdges3D(Image* image, float lowThreshold) {
    clearLastError();
    if (!hasElementData(image) || image->m_channels != 1 || image->width() < 3 || image->height() < 3 || image->depth() < 3) {
        reportFailure("Error: 3D edge detection needs a one-channel volume of at least 3x3x3 voxels!");
        return 1;
    }
    std::unique_ptr<Image> gradient(image->gradient3D(kGlShort, nullptr, true, false, nullptr));
    auto* g = dynamic_cast<ImageBase<short>*>(gradient.get());
    if (!g || !g->m_data) return 1;
    const bool verbose = image->m_verbose != 0;
    const int w = image->width(), h = image->height(), d = image->depth();
    const std::size_t n = static_cast<std::size_t>(w) * h * d;

    if (verbose) std::cout << "computing Gradient Magnitude..." << std::endl;
    ImageBase<float> magnitude;
    magnitude.init(w, h, d, 1, 1);
    if (!magnitude.m_data) return 1;
    const short* grad = g->m_data;
    const long long rows = static_cast<long long>(h) * d;
    RowParts(rows, 8LL * w).forEachRange([&](long long first, long long last) {
        for (std::size_t i = first * w; i < static_cast<std::size_t>(last * w); ++i) {
            const float gx = grad[3 * i], gy = grad[3 * i + 1], gz = grad[3 * i + 2];
            magnitude.m_data[i] = std::sqrt(gx * gx + gy * gy + gz * gz);
        }
    });

    // Interior rows (y, z) of the volume, numbered z-major.
    const int interiorRows = (h - 2) * (d - 2);
    auto voxelIndex = [&](int row, int x) {
        const int y = 1 + row % (h - 2), z = 1 + row / (h - 2);
        return x + static_cast<std::size_t>(w) * (y + static_cast<std::size_t>(h) * z);
    };

    // The border is never written by the suppression: it stays 0.
    if (verbose) std::cout << "computing Suppression..." << std::endl;
    std::vector<float> suppressed(n, 0.0f);
    RowParts(interiorRows, 60LL * w).forEachRange([&](long long first, long long last) {
        for (int row = static_cast<int>(first); row < last; ++row) {
            for (int x = 1; x < w - 1; ++x) {
                const std::size_t i = voxelIndex(row, x);
                const float m = magnitude.m_data[i];
                if (m == 0) continue;
                const float scale = m * 1.001f;
                const float dx = grad[3 * i] / scale, dy = grad[3 * i + 1] / scale, dz = grad[3 * i + 2] / scale;
                const float fx = static_cast<float>(x);
                const float fy = static_cast<float>(1 + row % (h - 2)), fz = static_cast<float>(1 + row / (h - 2));
                const float ahead = magnitude.getTrilinear(fx + dx, fy + dy, fz + dz);
                const float behind = magnitude.getTrilinear(fx - dx, fy - dy, fz - dz);
                suppressed[i] = (m < ahead || m < behind) ? 0 : m;
            }
        }
    });
    magnitude.freeData();

    // Edge voxels are written directly, each by one part; the cursor ends
    // where writing them one by one with set() would leave it.
    if (verbose) std::cout << "computing Hysteresis..." << std::endl;
    const float high = 3 * lowThreshold;
    const std::ptrdiff_t sliceStep = static_cast<std::ptrdiff_t>(w) * h;
    const RowParts parts(interiorRows, 10LL * w);
    std::vector<long long> lastEdge(parts.count(), -1);
    withTypedImage(image, [&](auto& typed) {
        using T = std::remove_pointer_t<decltype(typed.m_data)>;
        const T edgeValue = toElement<T>(4095);
        parts.run([&](int part) {
            for (int row = static_cast<int>(parts.begin(part)); row < parts.end(part); ++row) {
                for (int x = 1; x < w - 1; ++x) {
                    const std::size_t i = voxelIndex(row, x);
                    const float s = suppressed[i];
                    if (s < lowThreshold) continue;
                    bool edge = s >= high;
                    for (int c = -1; c <= 1 && !edge; ++c) {
                        for (int b = -1; b <= 1 && !edge; ++b) {
                            const float* p = &suppressed[i + c * sliceStep + b * w];
                            edge = p[-1] > high || p[0] > high || p[1] > high;
                        }
                    }
                    if (!edge) continue;
                    typed.m_data[i] = edgeValue;
                    lastEdge[part] = static_cast<long long>(i);
                }
            }
        });
    });
    const long long last = *std::max_element(lastEdge.begin(), lastEdge.end());
    if (last >= 0) image->m_iteration = static_cast<int>(last + 1);
    return 0;
}

float eigenDecompose2x2(Image* tensor, Image* eigenvalues, Image* eigenvectors, Image* normals) {
    if (!tensor) return 0;
    if (tensor->m_channels != 3) return static_cast<float>(tensor->m_channels);
    Image* const outputs[3] = {eigenvalues, eigenvectors, normals};
    tensor->resetIteration();
    for (Image* out : outputs) {
        if (out) out->resetIteration();
    }
    float p, q, r;
    while (tensor->getNext(p) && tensor->getNext(q) && tensor->getNext(r)) {
        const float d = p - r, s = p + r;
        const float root = std::sqrt(d * d + 4 * q * q);
        if (eigenvalues) {
            eigenvalues->setNext((s + root) / 2);
            eigenvalues->setNext((s - root) / 2);
        }
        float vx = (-d - root) / 2, vy = -q;
        const float length = std::sqrt(vx * vx + vy * vy);
        if (length > 1e-16f) {
            vx /= length;
            vy /= length;
        } else {
            vx = vy = 0;
        }
        if (eigenvectors) {
            eigenvectors->setNext(vx);
            eigenvectors->setNext(vy);
        }
        if (normals) {
            normals->setNext(vy);
            normals->setNext(-vx);
        }
    }
    float result = 0;
    for (Image* out : outputs) {
        if (out) result = out->computeRange();
    }
    return result;
}

float* gaussianKernel(int rows, int cols, float sigma) {
    clearLastError();
    if (rows < 1 || cols < 1 || sigma == 0 || static_cast<long long>(rows) * cols > INT_MAX) {
        reportFailure("Error: a Gaussian kernel needs at least one row and column and a non-zero sigma!");
        return nullptr;
    }
    float* kernel = new (std::nothrow) float[static_cast<std::size_t>(rows) * cols];
    if (!kernel) {
        reportFailure("Error: out of memory for a " + std::to_string(rows) + " x " + std::to_string(cols) +
                      " Gaussian kernel!");
        return nullptr;
    }
    // Real centres: an even size has its centre between two entries.
    const float centreRow = (rows - 1) / 2.0f, centreCol = (cols - 1) / 2.0f;
    const float twoSigmaSquared = 2 * sigma * sigma;
    float sum = 0;
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            const float di = i - centreRow, dj = j - centreCol;
            const float e = std::exp(-(di * di + dj * dj) / twoSigmaSquared);
            kernel[static_cast<std::size_t>(i) * cols + j] = e;
            sum += e;
        }
    }
    if (!(sum > 0) || !std::isfinite(sum)) {
        char line[96];
        std::snprintf(line, sizeof line, "Error: sigma %g gives no usable Gaussian kernel!", sigma);
        reportFailure(line);
        delete[] kernel;
        return nullptr;
    }
    for (std::size_t k = 0; k < static_cast<std::size_t>(rows) * cols; ++k) kernel[k] /= sum;
    return kernel;
}

}  // namespace KVEL
