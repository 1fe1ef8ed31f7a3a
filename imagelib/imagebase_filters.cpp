// Neighbourhood operations: convolution, border extension, 2D gradient,
// second derivatives and 3D gradient. Each runs one typed loop per row over
// raw buffers; every output value adds its terms in the documented order.

#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/simd_dispatch.h"
#include "imagelib/detail/thread_pool.h"
#include "imagelib/detail/uncleared_image.h"
#include "imagelib/detail/value_range.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <iostream>
#include <type_traits>
#include <vector>

namespace KVEL {

namespace {

const float kGradientKernel[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
const float kGradient3DKernel[27] = {1, 1, 1, 1, 2, 1, 1, 1, 1,
                                     0, 0, 0, 0, 0, 0, 0, 0, 0,
                                     -1, -1, -1, -1, -2, -1, -1, -1, -1};

// A strict running minimum keeps the first value that reaches it, and so does
// merging the parts' minima in part order: ranges merged this way are those of
// one pass (likewise for the maximum).
template <std::size_t N>
void mergeInOrder(const std::vector<std::array<ValueRange, N>>& parts, ValueRange* ranges) {
    for (const auto& part : parts) {
        for (std::size_t c = 0; c < N; ++c) ranges[c].merge(part[c]);
    }
}

// Values converted to the output's element type.
template <class U>
KVEL_WIDE_LOOP void storeRow(const float* __restrict values, int n, U* __restrict dst) {
    for (int i = 0; i < n; ++i) dst[i] = toElement<U>(values[i]);
}

struct OutputShape {
    int w, h, d, channels;
};

// Resolves glType (0: the source's), refuses unsigned types with `refusal`,
// then creates the output (with the source's spacing) or checks the given one.
// A created output is zeroed only when `cleared`: the operations write every
// element of it, except from a source without data.
Image* prepareOutput(const Image& source, int sourceType, int glType, const char* refusal, Image* out,
                     const OutputShape& shape, bool cleared, bool& created) {
    created = false;
    if (glType == 0) glType = sourceType;
    if (isUnsignedType(glType)) {
        reportFailure(refusal);
        return nullptr;
    }
    if (out) {
        if (glTypeOf(out) == 0 || out->m_dim[0] != shape.w || out->m_dim[1] != shape.h ||
            out->m_dim[2] != shape.d || out->m_dim[3] != 1 || out->m_channels != shape.channels) {
            reportFailure("Error: output image does not have the size of the result!");
            return nullptr;
        }
        return out;
    }
    out = createImage(glType);
    if (!out) {
        reportFailure("Error: unknown data type " + std::to_string(glType) + "!");
        return nullptr;
    }
    out->setSpacing(source.m_spacing[0], source.m_spacing[1], source.m_spacing[2], source.m_spacing[3]);
    const int status = cleared ? out->init(shape.w, shape.h, shape.d, 1, shape.channels)
                               : initUncleared(*out, shape.w, shape.h, shape.d, 1, shape.channels);
    if (status != 0) {
        delete out;
        return nullptr;
    }
    created = true;
    return out;
}

inline int croppedExtent(int n, int crop) {
    return n - 2 * crop > 0 ? n - 2 * crop : 0;
}

// acc[x] = sum + weights[g] * data[offsets[g] + x] for the G taps in turn,
// sum starting at acc[x], or at 0 for a fresh sum. One pass over acc.
template <int G, bool fresh, class T>
inline void accumulateGroup(float* __restrict acc, const T* __restrict data, const int* offsets,
                            const float* weights, int from, int to) {
    int o[G];
    float k[G];
    for (int g = 0; g < G; ++g) o[g] = offsets[g], k[g] = weights[g];
    for (int x = from; x < to; ++x) {
        float sum = fresh ? 0.0f : acc[x];
        for (int g = 0; g < G; ++g) sum = sum + k[g] * static_cast<float>(data[o[g] + x]);
        acc[x] = sum;
    }
}

// acc[x] (+)= weights[i] * data[offsets[i] + x] for each tap i in turn, x in
// [from, to); a fresh sum starts at 0 instead of acc[x]. Taps go in groups of
// up to nine per pass over acc; every element still adds its terms one by
// one in tap order, so the sums are those of the plain loop. Offsets, not
// shifted pointers: a shift left of the buffer start would be undefined.
template <class T>
KVEL_AVX512_LOOP void accumulate(float* __restrict acc, const T* __restrict data, const int* offsets,
                               const float* weights, int taps, int from, int to, bool fresh) {
    int i = 0;
    auto group = [&](auto size) {
        constexpr int G = decltype(size)::value;
        if (fresh) accumulateGroup<G, true>(acc, data, offsets + i, weights + i, from, to);
        else accumulateGroup<G, false>(acc, data, offsets + i, weights + i, from, to);
        fresh = false;
        i += G;
    };
    while (i + 9 <= taps) group(std::integral_constant<int, 9>());
    if (i + 7 <= taps) group(std::integral_constant<int, 7>());
    if (i + 5 <= taps) group(std::integral_constant<int, 5>());
    if (i + 3 <= taps) group(std::integral_constant<int, 3>());
    while (i < taps) group(std::integral_constant<int, 1>());
    if (fresh) std::fill(acc + from, acc + to, 0.0f);
}

template <class T, class U>
void convolve(const ImageBase<T>& src, ImageBase<U>& out, const float* kernel, int size, ValueRange& range) {
    const int w = src.m_dim[0], h = src.m_dim[1], r = (size - 1) / 2;
    std::vector<int> relative;
    std::vector<float> weights;
    for (int l = -r; l <= r; ++l) {
        for (int m = -r; m <= r; ++m) {
            const float k = kernel[(r + m) + size * (r + l)];
            if (k == 0) continue;
            relative.push_back(l * w + m);
            weights.push_back(k);
        }
    }
    const int taps = static_cast<int>(weights.size());
    // Float output rows take the sums directly; other types go through a row.
    constexpr bool direct = std::is_same<U, float>::value;
    const int from = std::min(r, w), to = std::max(w - r, from);
    const RowParts parts(static_cast<long long>(src.m_dim[2]) * h, static_cast<long long>(w) * (taps + 1));
    std::vector<std::array<ValueRange, 1>> ranges(parts.count());
    parts.run([&](int part) {
        std::vector<int> offsets(relative.size());
        std::vector<float> row(direct ? 0 : static_cast<std::size_t>(w));
        for (long long i = parts.begin(part); i < parts.end(part); ++i) {
            const int z = static_cast<int>(i / h), y = static_cast<int>(i % h);
            U* dst = out.m_data + i * w;
            float* acc = direct ? reinterpret_cast<float*>(dst) : row.data();
            if (y >= r && y < h - r) {
                for (int t = 0; t < taps; ++t) offsets[t] = (z * h + y) * w + relative[t];
                std::fill(acc, acc + from, 0.0f);
                accumulate(acc, src.m_data, offsets.data(), weights.data(), taps, from, to, true);
                std::fill(acc + to, acc + w, 0.0f);
            } else {
                std::fill(acc, acc + w, 0.0f);
            }
            ranges[part][0].addRow(acc, w);
            if (!direct) storeRow(acc, w, dst);
        }
    });
    mergeInOrder(ranges, &range);
}

// The two 3x3 gradient sums of every voxel of one output row: `first` applies
// K as given, `second` its transpose. get(x, y) addresses the source.
template <class T>
void gradientRow(const T* slice, int w, int channelStep, int y, const float* kernel, int from, int to, float* first,
                 float* second, const T* secondSlice) {
    std::fill(first + from, first + to, 0.0f);
    std::fill(second + from, second + to, 0.0f);
    for (int row = 0; row < 3; ++row) {
        int a[3], b[3];
        for (int col = 0; col < 3; ++col) {
            a[col] = ((y + row - 1) * w + (col - 1)) * channelStep;
            b[col] = ((y + col - 1) * w + (row - 1)) * channelStep;
        }
        const float* k = kernel + row * 3;
        for (int col = 0; col < 3; ++col) {
            for (int x = from; x < to; ++x) {
                first[x] += k[col] * static_cast<float>(slice[a[col] + x * channelStep]);
                second[x] += k[col] * static_cast<float>(secondSlice[b[col] + x * channelStep]);
            }
        }
    }
}

// The 3x3 gradient pair of the interior voxels x in [1, w-1) of row y of a
// one-channel slice: pairs[2(x-1)] applies K as given, pairs[2(x-1) + 1] its
// transpose, each adding its nine terms in kernel order from 0. The nine
// neighbours are read once for both.
template <class T>
KVEL_AVX512_LOOP void gradientPairs(const T* __restrict slice, int w, int y, const float* kernel,
                                  float* __restrict pairs) {
    float k[9];
    for (int i = 0; i < 9; ++i) k[i] = kernel[i];
    const T* above = slice + (y - 1) * w;
    const T* row = above + w;
    const T* below = row + w;
    for (int x = 1; x < w - 1; ++x) {
        const float v[3][3] = {
            {static_cast<float>(above[x - 1]), static_cast<float>(above[x]), static_cast<float>(above[x + 1])},
            {static_cast<float>(row[x - 1]), static_cast<float>(row[x]), static_cast<float>(row[x + 1])},
            {static_cast<float>(below[x - 1]), static_cast<float>(below[x]), static_cast<float>(below[x + 1])}};
        float first = 0, second = 0;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                first = first + k[r * 3 + c] * v[r][c];
                second = second + k[r * 3 + c] * v[c][r];
            }
        }
        pairs[2 * (x - 1)] = first;
        pairs[2 * (x - 1) + 1] = second;
    }
}

template <class T, class U>
void gradient2D(const ImageBase<T>& src, ImageBase<U>& out, const float* kernel, bool keepSize, ValueRange& range) {
    const int w = src.m_dim[0], h = src.m_dim[1], e = keepSize ? 0 : 1;
    // Float output rows take the pairs directly; other types go through a row.
    constexpr bool direct = std::is_same<U, float>::value;
    const int n = 2 * (w - 2 * e), rowsPerSlice = h - 2 * e;
    const RowParts parts(static_cast<long long>(src.m_dim[2]) * rowsPerSlice, 10LL * w);
    std::vector<std::array<ValueRange, 1>> ranges(parts.count());
    parts.run([&](int part) {
        std::vector<float> row(direct ? 0 : static_cast<std::size_t>(2 * w));
        for (long long i = parts.begin(part); i < parts.end(part); ++i) {
            const int z = static_cast<int>(i / rowsPerSlice), y = static_cast<int>(i % rowsPerSlice) + e;
            const T* slice = src.m_data + z * h * w;
            U* dst = out.m_data + i * n;
            float* values = direct ? reinterpret_cast<float*>(dst) : row.data();
            if (y == 0 || y == h - 1 || w < 3) {
                std::fill(values, values + n, 0.0f);
            } else {
                gradientPairs(slice, w, y, kernel, values + 2 * (1 - e));
                if (keepSize) values[0] = values[1] = values[2 * w - 2] = values[2 * w - 1] = 0;
            }
            ranges[part][0].addRow(values, n);
            if (!direct) storeRow(values, n, dst);
        }
    });
    mergeInOrder(ranges, &range);
}

template <class T, class U>
void hessianOfGradient(const ImageBase<T>& src, ImageBase<U>& out, const float* kernel, ValueRange ranges[3]) {
    const int w = src.m_dim[0], h = src.m_dim[1], ch = src.m_channels;
    const RowParts parts(static_cast<long long>(src.m_dim[2]) * h, 40LL * w);
    std::vector<std::array<ValueRange, 3>> partRanges(parts.count());
    parts.run([&](int part) {
        const std::size_t n = static_cast<std::size_t>(w) + 1;
        std::vector<float> h0(n), h1(n), h2(n), unused(n);
        for (long long i = parts.begin(part); i < parts.end(part); ++i) {
            const int z = static_cast<int>(i / h), y = static_cast<int>(i % h);
            const T* g0 = src.m_data + z * h * w * ch;
            const T* g1 = g0 + 1;
            U* dst = out.m_data + i * w * 3;
            const bool borderRow = y == 0 || y == h - 1;
            if (!borderRow) {
                gradientRow(g0, w, ch, y, kernel, 1, w - 1, h0.data(), h1.data(), g0);
                gradientRow(g1, w, ch, y, kernel, 1, w - 1, unused.data(), h2.data(), g1);
            }
            for (int x = 0; x < w; ++x) {
                const bool border = borderRow || x == 0 || x == w - 1;
                const float values[3] = {border ? 0.0f : h0[x], border ? 0.0f : h1[x], border ? 0.0f : h2[x]};
                for (int c = 0; c < 3; ++c) {
                    partRanges[part][c].add(values[c]);
                    *dst++ = toElement<U>(values[c]);
                }
            }
        }
    });
    mergeInOrder(partRanges, ranges);
}

template <class T, class U>
void gradientVolume(const ImageBase<T>& src, ImageBase<U>& out, const float* kernel, bool keepSize,
                    bool appendValue, ValueRange& range, long long& clipped) {
    const int w = src.m_dim[0], h = src.m_dim[1], d = src.m_dim[2], g = keepSize ? 0 : 1;
    float lower = 0, upper = 0;
    const bool clip = out.m_gl_type == kGlByte || out.m_gl_type == kGlShort;
    if (out.m_gl_type == kGlByte) lower = -128, upper = 127;
    if (out.m_gl_type == kGlShort) lower = -32768, upper = 32767;
    auto at = [&](int x, int y, int z) { return x + (y + z * h) * w; };
    const int rowsPerSlice = h - 2 * g;
    const long long outRow = static_cast<long long>(w - 2 * g) * (appendValue ? 4 : 3);
    const RowParts parts(static_cast<long long>(d - 2 * g) * rowsPerSlice, 90LL * w);
    std::vector<std::array<ValueRange, 1>> ranges(parts.count());
    std::vector<long long> clippedByPart(parts.count(), 0);
    parts.run([&](int part) {
        const std::size_t n = static_cast<std::size_t>(w) + 1;
        std::vector<float> t(n), u(n), v(n);
        ValueRange& partRange = ranges[part][0];
        long long& partClipped = clippedByPart[part];
        for (long long i = parts.begin(part); i < parts.end(part); ++i) {
            const int z = static_cast<int>(i / rowsPerSlice) + g, y = static_cast<int>(i % rowsPerSlice) + g;
            U* dst = out.m_data + i * outRow;
            const bool borderRow = y == 0 || y == h - 1 || z == 0 || z == d - 1;
            if (!borderRow) {
                std::fill(t.begin(), t.end(), 0.0f);
                std::fill(u.begin(), u.end(), 0.0f);
                std::fill(v.begin(), v.end(), 0.0f);
                for (int a = 0; a < 3; ++a) {
                    for (int b = 0; b < 3; ++b) {
                        int ot[3], ou[3], ov[3];
                        for (int c = 0; c < 3; ++c) {
                            ot[c] = at(c - 1, y + b - 1, z + a - 1);
                            ou[c] = at(c - 1, y + a - 1, z + b - 1);
                            ov[c] = at(a - 1, y + b - 1, z + c - 1);
                        }
                        const float* k = kernel + (a * 3 + b) * 3;
                        accumulate(t.data(), src.m_data, ot, k, 3, 1, w - 1, false);
                        accumulate(u.data(), src.m_data, ou, k, 3, 1, w - 1, false);
                        accumulate(v.data(), src.m_data, ov, k, 3, 1, w - 1, false);
                    }
                }
            }
            const T* value = src.m_data + at(0, y, z);
            for (int x = g; x < w - g; ++x) {
                const bool border = borderRow || x == 0 || x == w - 1;
                float values[3] = {border ? 0.0f : v[x], border ? 0.0f : u[x], border ? 0.0f : t[x]};
                for (float& s : values) {
                    if (clip && s < lower) s = lower, ++partClipped;
                    if (clip && s > upper) s = upper, ++partClipped;
                    partRange.add(s);
                    *dst++ = toElement<U>(s);
                }
                if (appendValue) *dst++ = toElement<U>(static_cast<float>(value[x]));
            }
        }
    });
    mergeInOrder(ranges, &range);
    for (long long c : clippedByPart) clipped += c;
}

}  // namespace

template <class T>
Image* ImageBase<T>::filter(int glType, const float* kernel, int size, Image* out) {
    clearLastError();
    if (!kernel) {
        reportFailure("Error: Cannot compute filtered image without filter!");
        return nullptr;
    }
    if (size % 2 == 0 || size < 1) {
        reportFailure("Error: Window size must be an odd number!");
        return nullptr;
    }
    bool created;
    out = prepareOutput(*this, m_gl_type, glType, "Error: unsigned data type, cannot compute filtered image!", out,
                        {m_dim[0], m_dim[1], m_dim[2], 1}, !m_data, created);
    if (!out) return nullptr;
    ValueRange range;
    if (m_data && out->m_image_size > 0) {
        withTypedImage(out, [&](auto& typedOut) { convolve(*this, typedOut, kernel, size, range); });
    }
    out->m_iteration = out->m_image_size;
    out->extendBorder((size - 1) / 2);
    if (out->m_channels > 0) out->setRange(range.min, range.max, 0);
    return out;
}

template <class T>
void ImageBase<T>::extendBorder(int width) {
    if (!m_data) return;
    const int w = m_dim[0], h = m_dim[1];
    // Copies (sx, sy) to (dx, dy) in every slice; pairs outside a small image are skipped.
    auto copy = [&](int dx, int dy, int sx, int sy) {
        if (dx < 0 || dy < 0 || sx < 0 || sy < 0 || dx >= w || sx >= w || dy >= h || sy >= h) return;
        for (int z = 0; z < m_dim[2]; ++z) {
            T* slice = m_data + z * w * h;
            slice[dx + dy * w] = slice[sx + sy * w];
        }
    };
    for (int d = width; d >= 2; --d) {
        copy(d - 1, d - 1, d, d);
        copy(d - 1, h - d, d, h - 1 - d);
        copy(w - d + 1, d - 1, w - d, d);
        copy(w - d + 1, h - d + 1, w - d, h - d);
    }
    for (int d = width; d >= 2; --d) {
        for (int y = 0; y < h; ++y) {
            copy(d - 1, y, d, y);
            copy(w - d, y, w - d - 1, y);
        }
    }
    for (int d = width; d >= 2; --d) {
        for (int x = 0; x < w; ++x) {
            copy(x, d - 1, x, d);
            copy(x, h - d, x, h - d - 1);
        }
    }
}

template <class T>
Image* ImageBase<T>::gradient(int glType, const float* kernel, bool keepSize, Image* out) {
    clearLastError();
    const int e = keepSize ? 0 : 1;
    bool created;
    out = prepareOutput(*this, m_gl_type, glType, "Error: unsigned data type, cannot compute gradient!", out,
                        {croppedExtent(m_dim[0], e), croppedExtent(m_dim[1], e), m_dim[2], 2}, !m_data, created);
    if (!out) return nullptr;
    ValueRange range;
    if (m_data && out->m_image_size > 0) {
        withTypedImage(out, [&](auto& typedOut) {
            gradient2D(*this, typedOut, kernel ? kernel : kGradientKernel, keepSize, range);
        });
    }
    out->m_iteration = out->m_image_size;
    out->setRange(range.min, range.max, 0);
    out->setRange(range.min, range.max, 1);
    return out;
}

template <class T>
Image* ImageBase<T>::hessian(int glType, const float* kernel, Image* out) {
    clearLastError();
    if (!kernel) kernel = kGradientKernel;
    if (glType == 0) glType = m_gl_type;
    if (isUnsignedType(glType)) {
        reportFailure("Error: unsigned data type, cannot compute hessian!");
        return nullptr;
    }
    if (m_channels < 2) {
        Image* gradientImage = gradient(m_gl_type, kernel, true, nullptr);
        if (!gradientImage) return nullptr;
        bool created;
        out = prepareOutput(*this, m_gl_type, glType, "", out, {m_dim[0], m_dim[1], m_dim[2], 3}, !m_data, created);
        Image* result = out ? gradientImage->hessian(m_gl_type, kernel, out) : nullptr;
        if (!result && created) delete out;
        delete gradientImage;
        return result;
    }
    bool created;
    out = prepareOutput(*this, m_gl_type, glType, "", out, {m_dim[0], m_dim[1], m_dim[2], 3}, !m_data, created);
    if (!out) return nullptr;
    ValueRange ranges[3];
    if (m_data && out->m_image_size > 0) {
        withTypedImage(out, [&](auto& typedOut) { hessianOfGradient(*this, typedOut, kernel, ranges); });
    }
    out->m_iteration = out->m_image_size;
    for (int c = 0; c < 3; ++c) out->setRange(ranges[c].min, ranges[c].max, c);
    return out;
}

template <class T>
Image* ImageBase<T>::gradient3D(int glType, const float* kernel, bool keepSize, bool appendValue, Image* out) {
    clearLastError();
    const int g = keepSize ? 0 : 1;
    bool created;
    out = prepareOutput(*this, m_gl_type, glType, "Error: unsigned data type, cannot compute gradient!", out,
                        {croppedExtent(m_dim[0], g), croppedExtent(m_dim[1], g), croppedExtent(m_dim[2], g),
                         appendValue ? 4 : 3},
                        !m_data, created);
    if (!out) return nullptr;
    if (m_verbose) std::cout << "Computing 3D gradient..." << std::endl;
    ValueRange range;
    long long clipped = 0;
    if (m_data && out->m_image_size > 0) {
        withTypedImage(out, [&](auto& typedOut) {
            gradientVolume(*this, typedOut, kernel ? kernel : kGradient3DKernel, keepSize, appendValue, range,
                           clipped);
        });
    }
    out->m_iteration = out->m_image_size;
    for (int c = 0; c < 3; ++c) out->setRange(range.min, range.max, c);
    if (appendValue) {
        const ChannelWindow source = m_channels > 0 ? m_channel_windows[0] : ChannelWindow{0, 0, 0, 0};
        out->setRange(source.low, source.high, 3);
    }
    if (m_verbose) std::cout << "Done. Range = [" << range.min << ".." << range.max << "]" << std::endl;
    if (clipped > 0) reportNotice("Warning: " + std::to_string(clipped) + " values exceeded.");
    return out;
}

#define KVEL_INSTANTIATE(T)                                                                \
    template Image* ImageBase<T>::filter(int, const float*, int, Image*);                  \
    template void ImageBase<T>::extendBorder(int);                                         \
    template Image* ImageBase<T>::gradient(int, const float*, bool, Image*);               \
    template Image* ImageBase<T>::hessian(int, const float*, Image*);                      \
    template Image* ImageBase<T>::gradient3D(int, const float*, bool, bool, Image*);
KVEL_FOR_EACH_ELEMENT_TYPE(KVEL_INSTANTIATE)
#undef KVEL_INSTANTIATE

}  // namespace KVEL
