// Value mappings: inversion, window/level, export to bytes and shorts, centre of mass.

#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/power_of_two.h"
#include "imagelib/detail/simd_dispatch.h"
#include "imagelib/detail/thread_pool.h"

#include <cstring>
#include <iostream>
#include <new>
#include <string>

namespace KVEL {

template <class T>
void ImageBase<T>::invert() {
    if (!m_data) return;
    const int ch = m_channels;
    for (int c = 0; c < ch; ++c) {
        const float sum = m_channel_windows[c].low + m_channel_windows[c].high;
        for (int i = c; i < m_image_size; i += ch) m_data[i] = toElement<T>(sum - static_cast<float>(m_data[i]));
    }
}

// (int)bound without undefined behaviour for bounds no int holds.
static int truncateBound(float v) {
    if (v != v) return 0;
    if (v >= 2147483520.0f) return 2147483647;
    if (v <= -2147483648.0f) return -2147483647 - 1;
    return static_cast<int>(v);
}

template <class T>
void ImageBase<T>::applyWindowLevel(bool invert) {
    if (!m_data || m_channels <= 0) return;
    const float low = m_channel_windows[0].low, high = m_channel_windows[0].high;
    const float offset = static_cast<float>(invert ? truncateBound(high) : truncateBound(low));
    const int n = m_image_size;
    for (int i = 0; i < n; ++i) {
        float v = static_cast<float>(m_data[i]);
        if (v < low) v = low;
        if (v > high) v = high;
        m_data[i] = toElement<T>(invert ? offset - v : v - offset);
    }
    if (m_verbose) std::cout << "Window/Level setting applied" << std::endl;
}

// Extent of an exported axis: itself, or the next power of two.
static long long exportExtent(int n, bool powerOfTwo) {
    return powerOfTwo && n > 0 ? nextPowerOfTwo(n) : n;
}

// (value - low) * top / (high - low), clamped to [0, top]; a not-a-number
// (low == high at value == low) maps to 0 instead of an undefined conversion.
// Branch-free, so that the row loop below vectorises.
template <class Out>
static inline Out scaleToRange(float value, float low, float range, float top) {
    float s = (value - low) * top / range;
    s = s > 0 ? s : 0;  // also not-a-number
    s = s < top ? s : top;
    return static_cast<Out>(static_cast<int>(s));
}

// n elements of one channel, `step` apart in both buffers, mapped to 0..top.
template <class Out, class T>
KVEL_NARROWING_LOOP static void scaleRow(const T* __restrict src, int step, int n, float low, float range, float top,
                                         Out* __restrict dst) {
    if (step == 1) {
        for (int x = 0; x < n; ++x) dst[x] = scaleToRange<Out>(static_cast<float>(src[x]), low, range, top);
    } else {
        for (int x = 0; x < n; ++x) {
            dst[x * step] = scaleToRange<Out>(static_cast<float>(src[x * step]), low, range, top);
        }
    }
}

template <class Out, class T>
static Out* exportScaled(const ImageBase<T>& image, Out* buffer, bool powerOfTwo, float top) {
    const long long w = exportExtent(image.m_dim[0], powerOfTwo);
    const long long h = exportExtent(image.m_dim[1], powerOfTwo);
    const long long d = exportExtent(image.m_dim[2], powerOfTwo);
    const int ch = image.m_channels;
    const std::size_t size = static_cast<std::size_t>(w * h * d * ch);
    if (!buffer) buffer = new (std::nothrow) Out[size > 0 ? size : 1];
    if (!buffer) {
        reportFailure("Error: out of memory for the exported values!");
        return nullptr;
    }
    // Without padding every element of the output is written below.
    const bool padded = w != image.m_dim[0] || h != image.m_dim[1] || d != image.m_dim[2];
    if (padded || !image.m_data) std::memset(buffer, 0, sizeof(Out) * size);
    if (!image.m_data) return buffer;
    const int rows = image.m_dim[1], slices = image.m_dim[2];
    RowParts(static_cast<long long>(rows) * slices, image.m_stride).forEachRange([&](long long first, long long last) {
        for (int c = 0; c < ch; ++c) {
            const float low = image.m_channel_windows[c].low;
            const float range = image.m_channel_windows[c].high - low;
            for (long long r = first; r < last; ++r) {
                const int y = static_cast<int>(r % rows), z = static_cast<int>(r / rows);
                const T* src = image.m_data + c + y * image.m_stride + z * image.m_slice_size;
                Out* dst = buffer + c + (w * (y + h * z)) * ch;
                scaleRow(src, ch, image.m_dim[0], low, range, top, dst);
            }
        }
    });
    return buffer;
}

template <class T>
unsigned char* ImageBase<T>::toBytes(unsigned char* buffer, bool powerOfTwo) {
    clearLastError();
    return exportScaled(*this, buffer, powerOfTwo, 255.0f);
}

template <class T>
unsigned short* ImageBase<T>::toShorts(unsigned short* buffer, bool powerOfTwo) {
    clearLastError();
    return exportScaled(*this, buffer, powerOfTwo, 65535.0f);
}

template <class T>
unsigned char* ImageBase<T>::sliceToBytes(unsigned char* buffer, int slice, int channel, bool powerOfTwo) {
    clearLastError();
    if (channel < 0 || channel >= m_channels || m_dim[2] <= 0) {
        reportFailure("Error: no slice " + std::to_string(slice) + " of channel " + std::to_string(channel) +
                      " to export!");
        return nullptr;
    }
    const long long w = exportExtent(m_dim[0], powerOfTwo);
    const long long h = exportExtent(m_dim[1], powerOfTwo);
    const std::size_t size = static_cast<std::size_t>(w * h);
    if (!buffer) buffer = new (std::nothrow) unsigned char[size > 0 ? size : 1];
    if (!buffer) {
        reportFailure("Error: out of memory for the exported values!");
        return nullptr;
    }
    std::memset(buffer, 0, size);
    if (!m_data) return buffer;
    const int z = ((slice % m_dim[2]) + m_dim[2]) % m_dim[2];
    const float low = m_channel_windows[channel].low;
    const float range = m_channel_windows[channel].high - low;
    RowParts(m_dim[1], m_dim[0]).forEachRange([&](long long first, long long last) {
        for (long long y = first; y < last; ++y) {
            const T* src = m_data + channel + y * m_stride + z * m_slice_size;
            const int n = m_dim[0];
            unsigned char* dst = buffer + w * y;
            if (m_channels == 1) {
                scaleRow(src, 1, n, low, range, 255.0f, dst);
            } else {
                for (int x = 0; x < n; ++x) {
                    dst[x] = scaleToRange<unsigned char>(static_cast<float>(src[x * m_channels]), low, range, 255.0f);
                }
            }
        }
    });
    return buffer;
}

template <class T>
std::vector<double> ImageBase<T>::centerOfMass() {
    double sum = 0, sx = 0, sy = 0, sz = 0;
    if (m_data && m_channels > 0) {
        const double low = m_channel_windows[0].low;
        const T* p = m_data;
        for (int z = 0; z < m_dim[2]; ++z) {
            for (int y = 0; y < m_dim[1]; ++y) {
                for (int x = 0; x < m_dim[0]; ++x) {
                    const double w = static_cast<double>(static_cast<float>(*p++)) - low;
                    sum += w;
                    sx += w * x;
                    sy += w * y;
                    sz += w * z;
                }
            }
        }
    }
    return {sx / sum, sy / sum, sz / sum};
}

#define KVEL_INSTANTIATE(T)                                                                 \
    template void ImageBase<T>::invert();                                                   \
    template void ImageBase<T>::applyWindowLevel(bool);                                     \
    template unsigned char* ImageBase<T>::toBytes(unsigned char*, bool);                    \
    template unsigned short* ImageBase<T>::toShorts(unsigned short*, bool);                 \
    template unsigned char* ImageBase<T>::sliceToBytes(unsigned char*, int, int, bool);     \
    template std::vector<double> ImageBase<T>::centerOfMass();
KVEL_FOR_EACH_ELEMENT_TYPE(KVEL_INSTANTIATE)
#undef KVEL_INSTANTIATE

}  // namespace KVEL
