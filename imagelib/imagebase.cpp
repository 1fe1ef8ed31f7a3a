#include "imagelib/imagebase.h"

#include "imagelib/detail/aligned_buffer.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/raw_file.h"
#include "imagelib/detail/simd_dispatch.h"
#include "imagelib/detail/thread_pool.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

namespace KVEL {

template <class T>
ImageBase<T>::ImageBase() : m_gl_type(glTypeCode<T>()), m_external_data(false), m_data(nullptr) {}

template <class T>
ImageBase<T>::~ImageBase() {
    freeData();
}

template <class T>
int ImageBase<T>::init(int x, int y, int z, int t, int channels) {
    int status = Image::init(x, y, z, t, channels);
    freeData();
    if (m_image_size == 0 || m_external_data) return status;
    m_data = static_cast<T*>(allocateAlignedZeroed(sizeof(T) * static_cast<std::size_t>(m_image_size)));
    if (!m_data) {
        reportFailure("Error while initializing!");
        Image::init(0, 0, 0, 0, 0);
        return 1;
    }
    return status;
}

template <class T>
void ImageBase<T>::clear() {
    if (!m_data && m_image_size > 0 && !m_external_data) {
        m_data = static_cast<T*>(allocateAligned(sizeof(T) * static_cast<std::size_t>(m_image_size)));
    }
    if (m_data) std::fill(m_data, m_data + m_image_size, T(0));
    for (int c = 0; c < m_channels; ++c) m_channel_windows[c] = ChannelWindow{0, 0, 0, 0};
}

template <class T>
void ImageBase<T>::freeData() {
    if (!m_external_data) freeAligned(m_data);
    m_data = nullptr;
}

template <class T>
int ImageBase<T>::loadRaw(const char* path) {
    clearLastError();
    return readRawFile(path, m_data, sizeof(T) * static_cast<std::size_t>(m_image_size));
}

template <class T>
int ImageBase<T>::saveRaw(const char* path) {
    clearLastError();
    return writeRawFile(path, m_data, sizeof(T) * static_cast<std::size_t>(m_image_size));
}

template <class T>
bool ImageBase<T>::getNext(float& value) {
    if (m_iteration >= m_image_size) return false;
    value = static_cast<float>(m_data[m_iteration++]);
    return true;
}

template <class T>
bool ImageBase<T>::setNext(float value) {
    if (m_iteration >= m_image_size) return false;
    m_data[m_iteration++] = toElement<T>(value);
    return true;
}

template <class T>
void ImageBase<T>::setCurrent(float value) {
    if (m_iteration > 0 && m_iteration <= m_image_size) m_data[m_iteration - 1] = toElement<T>(value);
}

// With assertions compiled out, an index outside the image reads 0 and
// writes nothing rather than touching foreign memory.
template <class T>
void ImageBase<T>::set(float value, int index) {
    m_iteration = index + 1;
    assert(m_iteration > 0);
    assert(m_iteration <= m_image_size);
    if (index >= 0 && index < m_image_size) m_data[index] = toElement<T>(value);
}

template <class T>
void ImageBase<T>::set(float value, int x, int y, int z, int t, int c) {
    const long long index = c + static_cast<long long>(x) * m_channels + static_cast<long long>(y) * m_stride +
                            static_cast<long long>(z) * m_slice_size + static_cast<long long>(t) * m_frame_size;
    assert(c + x*m_channels + y*m_stride + z*m_slice_size + t*m_frame_size < m_image_size);
    assert(m_data + c + x*m_channels + y*m_stride + z*m_slice_size + t*m_frame_size >= m_data);
    m_iteration = static_cast<int>(index + 1);
    assert(m_iteration > 0);
    assert(m_iteration <= m_image_size);
    if (index >= 0 && index < m_image_size) m_data[index] = toElement<T>(value);
}

template <class T>
float ImageBase<T>::get(int index) {
    m_iteration = index + 1;
    assert(m_iteration >= 1);
    assert(m_iteration <= m_image_size);
    return index >= 0 && index < m_image_size ? static_cast<float>(m_data[index]) : 0.0f;
}

template <class T>
float ImageBase<T>::get(int x, int y, int z, int t, int c) {
    const long long index = c + static_cast<long long>(x) * m_channels + static_cast<long long>(y) * m_stride +
                            static_cast<long long>(z) * m_slice_size + static_cast<long long>(t) * m_frame_size;
    assert(c + x*m_channels + y*m_stride + z*m_slice_size + t*m_frame_size < m_image_size);
    assert(m_data + c + x*m_channels + y*m_stride + z*m_slice_size + t*m_frame_size >= m_data);
    m_iteration = static_cast<int>(index + 1);
    assert(m_iteration >= 1);
    assert(m_iteration <= m_image_size);
    return index >= 0 && index < m_image_size ? static_cast<float>(m_data[index]) : 0.0f;
}

// The extremes the loop `low = p[i] < low ? p[i] : low` (and the same for
// high) finds from low = high = p[0], in 32-byte lanes that each run that
// loop over every lane-th element, then folded. Not-a-number after p[0] is
// passed over, as in the loop. The extremes' values do not
// depend on the order; their bits do only for floating zeros, where the loop
// keeps the first element equal to the extreme, looked up afterwards.
template <class T>
KVEL_WIDE_LOOP static void rangeOf(const T* __restrict p, long long n, T& lowOut, T& highOut) {
    typedef T Lanes __attribute__((vector_size(32)));
    constexpr int kLanes = sizeof(Lanes) / sizeof(T), kVectors = 4;
    T low = p[0], high = p[0];
    if (n >= kLanes * kVectors) {
        Lanes lows[kVectors], highs[kVectors];
        for (int j = 0; j < kVectors; ++j) {
            for (int k = 0; k < kLanes; ++k) lows[j][k] = low, highs[j][k] = high;
        }
        long long i = 0;
        for (; i + kLanes * kVectors <= n; i += kLanes * kVectors) {
            for (int j = 0; j < kVectors; ++j) {
                Lanes v;
                std::memcpy(&v, p + i + kLanes * j, sizeof v);
                lows[j] = v < lows[j] ? v : lows[j];
                highs[j] = v > highs[j] ? v : highs[j];
            }
        }
        for (int j = 0; j < kVectors; ++j) {
            for (int k = 0; k < kLanes; ++k) {
                low = lows[j][k] < low ? lows[j][k] : low;
                high = highs[j][k] > high ? highs[j][k] : high;
            }
        }
        for (; i < n; ++i) {
            low = p[i] < low ? p[i] : low;
            high = p[i] > high ? p[i] : high;
        }
        if constexpr (std::is_floating_point_v<T>) {
            if (low == 0) low = *std::find(p, p + n, low);
            if (high == 0) high = *std::find(p, p + n, high);
        }
    } else {
        for (long long i = 1; i < n; ++i) {
            low = p[i] < low ? p[i] : low;
            high = p[i] > high ? p[i] : high;
        }
    }
    lowOut = low;
    highOut = high;
}

template <class T>
float ImageBase<T>::computeRange() {
    if (m_image_size <= 0 || !m_data) {
        m_min = m_max = 0;
        return 0;
    }
    // Not-a-number is no value: each part starts from its first element that
    // is a number and later ones are passed over; parts are folded in order
    // with the same comparisons, so the result is the single loop's to the
    // bit, and of equal extremes (+0 and -0) the first is kept. An image of
    // nothing but not-a-number keeps it as its range.
    const long long rows = static_cast<long long>(m_image_size) / m_stride;
    const RowParts parts(rows, m_stride);
    std::vector<T> lows(parts.count()), highs(parts.count());
    std::vector<char> found(parts.count(), 0);
    parts.run([&](int part) {
        const T* p = m_data + parts.begin(part) * m_stride;
        const long long n = (parts.end(part) - parts.begin(part)) * m_stride;
        long long i = 0;
        if constexpr (std::is_floating_point_v<T>) {
            while (i < n && std::isnan(p[i])) ++i;
        }
        if (i == n) return;
        rangeOf(p + i, n - i, lows[part], highs[part]);
        found[part] = 1;
    });
    T low = m_data[0], high = m_data[0];
    bool any = false;
    for (int part = 0; part < parts.count(); ++part) {
        if (!found[part]) continue;
        low = !any || lows[part] < low ? lows[part] : low;
        high = !any || highs[part] > high ? highs[part] : high;
        any = true;
    }
    for (int c = 0; c < m_channels; ++c) setRange(static_cast<float>(low), static_cast<float>(high), c);
    m_min = static_cast<float>(low);
    m_max = static_cast<float>(high);
    return m_max;
}

template <class T>
void ImageBase<T>::swapByteOrder() {
    if constexpr (sizeof(T) > 1) {
        if (!m_data) return;
        unsigned char* bytes = reinterpret_cast<unsigned char*>(m_data);
        const std::size_t n = static_cast<std::size_t>(m_image_size);
        for (std::size_t i = 0; i < n; ++i) {
            std::reverse(bytes + i * sizeof(T), bytes + (i + 1) * sizeof(T));
        }
    }
}

#define KVEL_INSTANTIATE(T) template class ImageBase<T>;
KVEL_FOR_EACH_ELEMENT_TYPE(KVEL_INSTANTIATE)
#undef KVEL_INSTANTIATE

Image* createImage(int glType) {
    switch (glType) {
        case kGlUnsignedByte: return new ImageBase<unsigned char>;
        case kGlByte: return new ImageBase<signed char>;
        case kGlShort: return new ImageBase<short>;
        case kGlUnsignedShort: return new ImageBase<unsigned short>;
        case kGlInt: return new ImageBase<int>;
        case kGlUnsignedInt: return new ImageBase<unsigned int>;
        case kGlFloat: return new ImageBase<float>;
        case kGlDouble: return new ImageBase<double>;
        default: return nullptr;
    }
}

int glTypeOf(const Image* image) {
    int code = 0;
    withTypedImage(const_cast<Image*>(image), [&](auto& typed) { code = typed.m_gl_type; });
    return code;
}

}  // namespace KVEL
