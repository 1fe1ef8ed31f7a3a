#include "imagelib/edges.h"

#include "imagelib/derivative3x3.h"
#include "imagelib/edge_direction.h"
#include "imagelib/element_data.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <new>
#include <vector>

namespace KVEL {

namespace {

// Step 1: magnitude and direction of every pixel; the border stays 0.
template <class T>
void gradientMagnitudes(const ImageBase<T>& image, float* magnitude, Direction* direction) {
    const int w = image.m_dim[0], h = image.m_dim[1], ch = image.m_channels;
    std::vector<float> rows(3 * static_cast<std::size_t>(w));
    auto loadRow = [&](int y) {
        float* dst = rows.data() + static_cast<std::size_t>(y % 3) * w;
        const T* src = image.m_data + static_cast<std::size_t>(y) * image.m_stride;
        for (int x = 0; x < w; ++x) dst[x] = static_cast<float>(src[x * ch]);
    };
    loadRow(0);
    loadRow(1);
    for (int y = 1; y < h - 1; ++y) {
        loadRow(y + 1);
        const float* above = rows.data() + static_cast<std::size_t>((y - 1) % 3) * w;
        const float* row = rows.data() + static_cast<std::size_t>(y % 3) * w;
        const float* below = rows.data() + static_cast<std::size_t>((y + 1) % 3) * w;
        float* m = magnitude + static_cast<std::size_t>(y) * w;
        Direction* d = direction + static_cast<std::size_t>(y) * w;
        for (int x = 1; x < w - 1; ++x) {
            float alongY, alongX;
            derivativePair(above, row, below, x, alongY, alongX);
            m[x] = std::sqrt(alongY * alongY + alongX * alongX);
            d[x] = gradientDirection(alongY, alongX);
        }
    }
}

// Step 2: a magnitude below either neighbour across the edge becomes 0.
void suppressNonMaxima(const float* magnitude, const Direction* direction, int w, int h, float* suppressed) {
    const std::ptrdiff_t offsets[4] = {1, w + 1, w, w - 1};
    for (int y = 1; y < h - 1; ++y) {
        const std::size_t rowStart = static_cast<std::size_t>(y) * w;
        for (int x = 1; x < w - 1; ++x) {
            const std::size_t i = rowStart + x;
            const float m = magnitude[i];
            const std::ptrdiff_t o = offsets[direction[i]];
            suppressed[i] = (m < magnitude[i + o] || m < magnitude[i - o]) ? 0 : m;
        }
    }
}

// Step 3, one pass: strong pixels, and weak ones next to a strong one.
void hysteresis(const float* s, int w, int h, float low, float high, unsigned char* edgeMap) {
    for (int y = 0; y < h; ++y) {
        unsigned char* out = edgeMap + static_cast<std::size_t>(y) * w;
        if (y == 0 || y == h - 1) {
            std::fill(out, out + w, 0);
            continue;
        }
        const float* above = s + static_cast<std::size_t>(y - 1) * w;
        const float* row = above + w;
        const float* below = row + w;
        out[0] = 0;
        out[w - 1] = 0;
        for (int x = 1; x < w - 1; ++x) {
            const bool strongNeighbour = above[x - 1] > high || above[x] > high || above[x + 1] > high ||
                                         row[x - 1] > high || row[x + 1] > high || below[x - 1] > high ||
                                         below[x] > high || below[x + 1] > high;
            const float v = row[x];
            out[x] = !(v < low) && (v >= high || strongNeighbour) ? 255 : 0;
        }
    }
}

}  // namespace

int detectEdges2D(Image* image, float lowThreshold, unsigned char* edgeMap) {
    if (!hasElementData(image) || !edgeMap) {
        std::printf("Error: edge detection needs an image with data and an edge map!\n");
        return 1;
    }
    const int w = image->width(), h = image->height();
    const std::size_t n = static_cast<std::size_t>(w) * h;
    if (w < 3 || h < 3) {  // all border
        std::fill(edgeMap, edgeMap + n, 0);
        return 0;
    }
    std::vector<float> work(2 * n, 0.0f);
    std::vector<Direction> direction(n, kAcrossX);
    float* magnitude = work.data();
    float* suppressed = work.data() + n;
    withTypedImage(image, [&](auto& typed) { gradientMagnitudes(typed, magnitude, direction.data()); });
    suppressNonMaxima(magnitude, direction.data(), w, h, suppressed);
    hysteresis(suppressed, w, h, lowThreshold, 3 * lowThreshold, edgeMap);
    return 0;
}

int detectEdges3D(Image* image, float lowThreshold) {
    if (!hasElementData(image) || image->m_channels != 1 || image->width() < 3 || image->height() < 3 || image->depth() < 3) {
        std::printf("Error: 3D edge detection needs a one-channel volume of at least 3x3x3 voxels!\n");
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
    for (std::size_t i = 0; i < n; ++i) {
        const float gx = grad[3 * i], gy = grad[3 * i + 1], gz = grad[3 * i + 2];
        magnitude.m_data[i] = std::sqrt(gx * gx + gy * gy + gz * gz);
    }

    // The border is never written by the suppression: it stays 0.
    if (verbose) std::cout << "computing Suppression..." << std::endl;
    std::vector<float> suppressed(n, 0.0f);
    for (int z = 1; z < d - 1; ++z) {
        for (int y = 1; y < h - 1; ++y) {
            for (int x = 1; x < w - 1; ++x) {
                const std::size_t i = x + static_cast<std::size_t>(w) * (y + static_cast<std::size_t>(h) * z);
                const float m = magnitude.m_data[i];
                if (m == 0) continue;
                const float scale = m * 1.001f;
                const float dx = grad[3 * i] / scale, dy = grad[3 * i + 1] / scale, dz = grad[3 * i + 2] / scale;
                const float fx = static_cast<float>(x), fy = static_cast<float>(y), fz = static_cast<float>(z);
                const float ahead = magnitude.getTrilinear(fx + dx, fy + dy, fz + dz);
                const float behind = magnitude.getTrilinear(fx - dx, fy - dy, fz - dz);
                suppressed[i] = (m < ahead || m < behind) ? 0 : m;
            }
        }
    }
    magnitude.freeData();

    if (verbose) std::cout << "computing Hysteresis..." << std::endl;
    const float high = 3 * lowThreshold;
    const std::ptrdiff_t sliceStep = static_cast<std::ptrdiff_t>(w) * h;
    for (int z = 1; z < d - 1; ++z) {
        for (int y = 1; y < h - 1; ++y) {
            for (int x = 1; x < w - 1; ++x) {
                const std::size_t i = x + static_cast<std::size_t>(w) * (y + static_cast<std::size_t>(h) * z);
                const float s = suppressed[i];
                if (s < lowThreshold) continue;
                bool edge = s >= high;
                for (int c = -1; c <= 1 && !edge; ++c) {
                    for (int b = -1; b <= 1 && !edge; ++b) {
                        const float* p = &suppressed[i + c * sliceStep + b * w];
                        edge = p[-1] > high || p[0] > high || p[1] > high;
                    }
                }
                if (edge) image->set(4095, x, y, z, 0, 0);
            }
        }
    }
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
    if (rows < 1 || cols < 1 || sigma == 0 || static_cast<long long>(rows) * cols > INT_MAX) {
        std::printf("Error: a Gaussian kernel needs at least one row and column and a non-zero sigma!\n");
        return nullptr;
    }
    float* kernel = new (std::nothrow) float[static_cast<std::size_t>(rows) * cols];
    if (!kernel) {
        std::printf("Error: out of memory for a %d x %d Gaussian kernel!\n", rows, cols);
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
        std::printf("Error: sigma %g gives no usable Gaussian kernel!\n", sigma);
        delete[] kernel;
        return nullptr;
    }
    for (std::size_t k = 0; k < static_cast<std::size_t>(rows) * cols; ++k) kernel[k] /= sum;
    return kernel;
}

}  // namespace KVEL
