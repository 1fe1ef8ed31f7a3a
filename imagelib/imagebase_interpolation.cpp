// Point lookups: nearest, bilinear, trilinear, tricubic and cubic-in-z.

#include "imagelib/detail/element_types.h"
#include "imagelib/detail/interpolation.h"

#include <cassert>
#include <vector>

namespace KVEL {

namespace {

// One axis of a lookup: truncated index, fraction, and whether the whole
// neighbourhood [i + lo, i + hi] lies inside the extent.
struct Axis {
    int i;
    float f;
    bool inside;
    Axis(float p, int extent, int lo, int hi) : i(lookupIndex(p, extent, f)) {
        inside = i >= -lo && i <= extent - 1 - hi;
    }
};

// Channel 0 of a lookup that fills every channel.
template <class Lookup>
float firstChannel(int channels, Lookup fill) {
    if (channels <= 0) return 0;
    std::vector<float> values(static_cast<std::size_t>(channels));
    fill(values.data());
    return values[0];
}

}  // namespace

template <class T>
void ImageBase<T>::getNearest(float* out, float x, float y, float z) {
    float f;
    const int i = lookupIndex(x, m_dim[0], f), j = lookupIndex(y, m_dim[1], f), k = lookupIndex(z, m_dim[2], f);
    const bool inside = i >= 0 && j >= 0 && k >= 0 && i < m_dim[0] && j < m_dim[1] && k < m_dim[2];
    const T* p = m_data + (inside ? i * m_channels + j * m_stride + k * m_slice_size : 0);
    for (int c = 0; c < m_channels; ++c) out[c] = inside ? static_cast<float>(p[c]) : 0.0f;
}

template <class T>
float ImageBase<T>::getNearest(float x, float y, float z) {
    return firstChannel(m_channels, [&](float* out) { getNearest(out, x, y, z); });
}

// Outside their neighbourhood the lookups assert; with assertions compiled
// out they repeat the edge voxels instead of reading foreign memory.
template <class T>
float ImageBase<T>::getBilinear(float x, float y, int z) {
    const Axis ax(x, m_dim[0], 0, 1), ay(y, m_dim[1], 0, 1);
    const int xx = ax.i, yy = ay.i;
    assert((xx >= 0) && (yy >= 0) && (z >= 0) && (xx < m_dim[0]-1) && (yy < m_dim[1]-1) && (z < m_dim[2]));
    const int w = m_dim[0], h = m_dim[1];
    if (ax.inside && ay.inside && z >= 0 && z < m_dim[2]) {
        return bilinearAt(m_data + xx + (yy + z * h) * w, 1, w, ax.f, ay.f);
    }
    if (m_image_size == 0) return 0;
    const int k = clampIndex(z, m_dim[2]);
    const int x0 = clampIndex(xx, w), x1 = clampIndex(xx + 1, w);
    const int y0 = clampIndex(yy, h), y1 = clampIndex(yy + 1, h);
    const T corners[4] = {m_data[x0 + (y0 + k * h) * w], m_data[x1 + (y0 + k * h) * w],
                          m_data[x0 + (y1 + k * h) * w], m_data[x1 + (y1 + k * h) * w]};
    return bilinearAt(corners, 1, 2, ax.f, ay.f);
}

// Trilinear of one channel; xStep is the distance between x neighbours.
// Outside the neighbourhood the corners are gathered with edge repetition.
template <class T>
static float trilinear(const ImageBase<T>& image, int c, int xStep, const Axis& ax, const Axis& ay,
                       const Axis& az) {
    const int w = image.m_dim[0], h = image.m_dim[1], d = image.m_dim[2];
    if (ax.inside && ay.inside && az.inside) {
        return trilinearAt(image.m_data + c + xStep * (ax.i + w * (ay.i + h * az.i)), xStep, xStep * w,
                           xStep * w * h, ax.f, ay.f, az.f);
    }
    T corners[8];
    for (int n = 0; n < 8; ++n) {
        const int x = clampIndex(ax.i + (n & 1), w), y = clampIndex(ay.i + ((n >> 1) & 1), h);
        const int z = clampIndex(az.i + (n >> 2), d);
        corners[n] = image.m_data[c + xStep * (x + w * (y + h * z))];
    }
    return trilinearAt(corners, 1, 2, 4, ax.f, ay.f, az.f);
}

template <class T>
void ImageBase<T>::getTrilinear(float* out, float x, float y, float z) {
    const Axis ax(x, m_dim[0], 0, 1), ay(y, m_dim[1], 0, 1), az(z, m_dim[2], 0, 1);
    [[maybe_unused]] const int xx = ax.i, yy = ay.i, zz = az.i;
    assert((xx >= 0) && (yy >= 0) && (zz >= 0) && (xx < m_dim[0]-1) && (yy < m_dim[1]-1) && (zz < m_dim[2]-1));
    for (int c = 0; c < m_channels; ++c) out[c] = m_image_size ? trilinear(*this, c, m_channels, ax, ay, az) : 0;
}

template <class T>
float ImageBase<T>::getTrilinear(float x, float y, float z) {
    const Axis ax(x, m_dim[0], 0, 1), ay(y, m_dim[1], 0, 1), az(z, m_dim[2], 0, 1);
    [[maybe_unused]] const int xx = ax.i, yy = ay.i, zz = az.i;
    assert((xx >= 0) && (yy >= 0) && (zz >= 0) && (xx < m_dim[0]-1) && (yy < m_dim[1]-1) && (zz < m_dim[2]-1));
    return m_image_size ? trilinear(*this, 0, 1, ax, ay, az) : 0;
}

template <class T>
void ImageBase<T>::getTricubic(float* out, float x, float y, float z) {
    const Axis ax(x, m_dim[0], -1, 2), ay(y, m_dim[1], -1, 2), az(z, m_dim[2], -1, 2);
    float wx[4], wy[4], wz[4];
    cubicWeights(ax.f, wx);
    cubicWeights(ay.f, wy);
    cubicWeights(az.f, wz);
    for (int c = 0; c < m_channels; ++c) {
        float sum = 0;
        for (int g = 0; g < 4 && m_image_size; ++g) {
            const int k = clampIndex(az.i - 1 + g, m_dim[2]);
            for (int b = 0; b < 4; ++b) {
                const int j = clampIndex(ay.i - 1 + b, m_dim[1]);
                for (int a = 0; a < 4; ++a) {
                    const int i = clampIndex(ax.i - 1 + a, m_dim[0]);
                    sum += wx[a] * wy[b] * wz[g] * static_cast<float>(m_data[c + i * m_channels + j * m_stride + k * m_slice_size]);
                }
            }
        }
        out[c] = sum;
    }
}

template <class T>
float ImageBase<T>::getTricubic(float x, float y, float z) {
    return firstChannel(m_channels, [&](float* out) { getTricubic(out, x, y, z); });
}

// Bilinear within the four slices around z, cubic across them.
template <class T>
static float cubicZ(const ImageBase<T>& image, int c, int xStep, float x, float y, float z) {
    const int w = image.m_dim[0], h = image.m_dim[1], d = image.m_dim[2];
    const Axis ax(x, w, 0, 1), ay(y, h, 0, 1), az(z, d, -1, 2);
    float wz[4];
    cubicWeights(az.f, wz);
    const int x0 = clampIndex(ax.i, w), x1 = clampIndex(ax.i + 1, w);
    const int y0 = clampIndex(ay.i, h), y1 = clampIndex(ay.i + 1, h);
    float sum = 0;
    for (int g = 0; g < 4; ++g) {
        const int k = clampIndex(az.i - 1 + g, d);
        const T corners[4] = {image.m_data[c + xStep * (x0 + w * (y0 + h * k))],
                              image.m_data[c + xStep * (x1 + w * (y0 + h * k))],
                              image.m_data[c + xStep * (x0 + w * (y1 + h * k))],
                              image.m_data[c + xStep * (x1 + w * (y1 + h * k))]};
        sum += wz[g] * bilinearAt(corners, 1, 2, ax.f, ay.f);
    }
    return sum;
}

template <class T>
void ImageBase<T>::getCubicZ(float* out, float x, float y, float z) {
    for (int c = 0; c < m_channels; ++c) out[c] = m_image_size ? cubicZ(*this, c, m_channels, x, y, z) : 0;
}

template <class T>
float ImageBase<T>::getCubicZ(float x, float y, float z) {
    return m_image_size ? cubicZ(*this, 0, 1, x, y, z) : 0;
}

#define KVEL_INSTANTIATE(T)                                                  \
    template void ImageBase<T>::getNearest(float*, float, float, float);     \
    template float ImageBase<T>::getNearest(float, float, float);            \
    template float ImageBase<T>::getBilinear(float, float, int);             \
    template void ImageBase<T>::getTrilinear(float*, float, float, float);   \
    template float ImageBase<T>::getTrilinear(float, float, float);          \
    template void ImageBase<T>::getTricubic(float*, float, float, float);    \
    template float ImageBase<T>::getTricubic(float, float, float);           \
    template void ImageBase<T>::getCubicZ(float*, float, float, float);      \
    template float ImageBase<T>::getCubicZ(float, float, float);
KVEL_FOR_EACH_ELEMENT_TYPE(KVEL_INSTANTIATE)
#undef KVEL_INSTANTIATE

}  // namespace KVEL
