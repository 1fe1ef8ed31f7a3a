#include "imagelib/visualise.h"

#include "imagelib/detail/derivative3x3.h"
#include "imagelib/detail/element_data.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/power_of_two.h"
#include "imagelib/detail/thread_pool.h"
#include "imagelib/detail/value_range.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace KVEL {

namespace {

// Row length of a padded picture: the next power of two of the width.
std::size_t paddedRowLength(int width) {
    return static_cast<std::size_t>(nextPowerOfTwo(width));
}

// Scaled value to a byte: clamped to 0..255 and truncated; not-a-number is 0.
inline unsigned char toByte(float scaled) {
    if (!(scaled > 0)) return 0;
    if (scaled > 255) return 255;
    return static_cast<unsigned char>(scaled);
}

// Output range of the mapping functions: the given limits, or (both 0) the
// data's, scanned from +-1e10; equal limits are widened by 1.
bool rangeFromData(const ValueRange& range) {
    return range.min == 0 && range.max == 0;
}
const ValueRange kScanStart{1e10f, -1e10f};
void widenEmpty(ValueRange& range) {
    if (range.max == range.min) range.max = range.min + 1;
}
unsigned char toGrey(const ValueRange& range, float v) {
    return toByte((v - range.min) * 255 / (range.max - range.min));
}

template <class V>
ValueRange rangeOf(const V* values, std::size_t count, std::size_t step, float min, float max) {
    ValueRange range{min, max};
    if (rangeFromData(range)) {
        range = kScanStart;
        for (std::size_t i = 0; i < count; ++i) range.add(static_cast<float>(values[i * step]));
    }
    widenEmpty(range);
    return range;
}

template <class V>
void colourMap(const V* values, unsigned char* rgba, int width, int height, float min, float max,
               const float* table, int tableSize, bool signedScale) {
    clearLastError();
    if (!values || !rgba || width <= 0 || height <= 0) return;
    // Beyond 2^24 entries a float position can no longer tell them apart.
    if (!table || tableSize < 1 || tableSize > (1 << 24)) {
        reportFailure("Error: a colour table needs 1 to 16777216 entries, not " + std::to_string(tableSize) + "!");
        return;
    }
    const std::size_t count = static_cast<std::size_t>(width) * height;
    const ValueRange range = rangeOf(values, count, 1, min, max);
    const float last = static_cast<float>(tableSize - 1);
    const float middle = last / 2;
    // The data's range is found first, in one pass; then pixels map independently.
    RowParts(height, 20LL * width).forEachRange([&](long long firstRow, long long lastRow) {
        for (std::size_t i = firstRow * width; i < static_cast<std::size_t>(lastRow * width); ++i) {
            int entry = 0;
            float f = 0;
            if (tableSize > 1) {
                const float v = static_cast<float>(values[i]);
                float h;
                if (signedScale) {
                    h = v < 0 ? middle * (1 - v / range.min) : middle * (v / range.max + 1);
                } else {
                    h = last * (v - range.min) / (range.max - range.min);
                }
                if (!(h >= 0)) h = 0;
                if (h >= last) h = last - 0.001f;
                entry = std::min(static_cast<int>(h), tableSize - 2);
                f = h - static_cast<float>(entry);
            }
            const float* a = table + 3 * static_cast<std::size_t>(entry);
            const float* b = tableSize > 1 ? a + 3 : a;
            unsigned char* out = rgba + 4 * i;
            for (int c = 0; c < 3; ++c) out[c] = toByte(((1 - f) * a[c] + f * b[c]) * 255);
            out[3] = 0;
        }
    });
}

}  // namespace

void fieldDerivative3x3(const float* values, float* field, int width, int height, bool halfSize) {
    if (!values || !field || width <= 0 || height <= 0) return;
    const int w = halfSize ? width / 2 : width;
    const int h = halfSize ? height / 2 : height;
    RowParts(h, 20LL * w).forEachRange([&](long long first, long long last) {
        for (int y = static_cast<int>(first); y < last; ++y) {
            const float* row = values + static_cast<std::size_t>(y) * width;
            float* out = field + 2 * static_cast<std::size_t>(y) * width;
            const bool edgeRow = y == 0 || y == h - 1;
            for (int x = 0; x < w; ++x) {
                if (edgeRow || x == 0 || x == w - 1) {
                    out[2 * x] = out[2 * x + 1] = 0;
                } else {
                    derivativePair(row - width, row, row + width, x, out[2 * x], out[2 * x + 1]);
                }
            }
        }
    });
}

void centralDifferences(Image* image, float* vectors) {
    if (!hasElementData(image) || !vectors) return;
    withTypedImage(image, [&](auto& typed) {
        const int w = typed.m_dim[0], h = typed.m_dim[1], d = typed.m_dim[2];
        const std::ptrdiff_t xStep = typed.m_channels, yStep = typed.m_stride, zStep = typed.m_slice_size;
        RowParts(static_cast<long long>(d) * h, 10LL * w).forEachRange([&](long long first, long long last) {
            for (long long r = first; r < last; ++r) {
                const int y = static_cast<int>(r % h), z = static_cast<int>(r / h);
                const auto* p = typed.m_data + y * yStep + z * zStep;
                float* out = vectors + 3 * r * w;
                for (int x = 0; x < w; ++x, p += xStep, out += 3) {
                    const float right = x + 1 < w ? static_cast<float>(p[xStep]) : 0.0f;
                    const float left = x > 0 ? static_cast<float>(p[-xStep]) : 0.0f;
                    const float down = y + 1 < h ? static_cast<float>(p[yStep]) : 0.0f;
                    const float up = y > 0 ? static_cast<float>(p[-yStep]) : 0.0f;
                    const float back = z + 1 < d ? static_cast<float>(p[zStep]) : 0.0f;
                    const float front = z > 0 ? static_cast<float>(p[-zStep]) : 0.0f;
                    out[0] = right - left;
                    out[1] = down - up;
                    out[2] = back - front;
                }
            }
        });
    });
}

void floatsToBytes(const float* values, unsigned char* bytes, int width, int height, float min, float max,
                   bool halfSize) {
    if (!values || !bytes || width <= 0 || height <= 0) return;
    const int w = halfSize ? width / 2 : width;
    const int h = halfSize ? height / 2 : height;
    ValueRange range{min, max};
    if (rangeFromData(range)) {
        range = kScanStart;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) range.add(values[static_cast<std::size_t>(y) * width + x]);
        }
    }
    widenEmpty(range);
    const std::size_t rowLength = paddedRowLength(width);
    RowParts(h, 4LL * w).forEachRange([&](long long first, long long last) {
        for (long long y = first; y < last; ++y) {
            const float* in = values + static_cast<std::size_t>(y) * width;
            unsigned char* out = bytes + rowLength * y;
            for (int x = 0; x < w; ++x) out[x] = toGrey(range, in[x]);
        }
    });
}

void colourMapFloats(const float* values, unsigned char* rgba, int width, int height, float min, float max,
                     const float* table, int tableSize, bool signedScale) {
    colourMap(values, rgba, width, height, min, max, table, tableSize, signedScale);
}

void colourMapInts(const int* values, unsigned char* rgba, int width, int height, float min, float max,
                   const float* table, int tableSize, bool signedScale) {
    colourMap(values, rgba, width, height, min, max, table, tableSize, signedScale);
}

int fieldMagnitudeToBytes(const float* field, unsigned char* bytes, int width, int height, float min, float max,
                          bool halfSize) {
    if (!field || !bytes || width <= 0 || height <= 0) return 0;
    const int factor = halfSize ? 2 : 1;
    const int w = width / factor, h = height / factor;
    auto squaredLength = [&](int x, int y) {
        const float* v = field + 2 * (x + static_cast<std::size_t>(width) * y);
        return v[0] * v[0] + v[1] * v[1];
    };
    ValueRange range{min, max};
    if (rangeFromData(range)) {
        range = kScanStart;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) range.add(squaredLength(x, y));
        }
        range.min = std::sqrt(range.min);
        range.max = std::sqrt(range.max);
    }
    widenEmpty(range);
    const std::size_t rowLength = paddedRowLength(width);
    RowParts(h, 8LL * w).forEachRange([&](long long first, long long last) {
        for (int y = static_cast<int>(first); y < last; ++y) {
            for (int x = 0; x < w; ++x) bytes[x + rowLength * y] = toGrey(range, std::sqrt(squaredLength(x, y)));
        }
    });
    return h;
}

int imageMagnitudeToBytes(Image* image, unsigned char* bytes) {
    clearLastError();
    if (!hasElementData(image) || image->m_channels != 2 || !bytes) {
        reportFailure("Error: a magnitude picture needs a two-channel image with data!");
        return 0;
    }
    const int w = image->width(), h = image->height();
    std::vector<float> field(2 * static_cast<std::size_t>(w) * h);
    image->resetIteration();
    for (float& v : field) image->getNext(v);
    return fieldMagnitudeToBytes(field.data(), bytes, w, h, 0, 0, false);
}

void channelsToRGBA(const float* values, unsigned char* rgba, int width, int height, Image* image,
                    bool useImageWindows) {
    clearLastError();
    const int k = image ? std::min(image->m_channels, 3) : 0;
    if (k < 1 || !values || !rgba || width <= 0 || height <= 0) {
        reportFailure("Error: an RGBA picture needs values and an image with 1 to 3 channels!");
        return;
    }
    const std::size_t count = static_cast<std::size_t>(width) * height;
    ValueRange ranges[3];
    for (int c = 0; c < k; ++c) {
        ranges[c] = useImageWindows ? ValueRange{image->m_channel_windows[c].low, image->m_channel_windows[c].high}
                                    : rangeOf(values + c, count, k, 0, 0);
    }
    // Missing channels repeat the last one.
    const int source[3] = {0, std::min(1, k - 1), k - 1};
    RowParts(height, 12LL * width).forEachRange([&](long long first, long long last) {
        for (std::size_t i = first * width; i < static_cast<std::size_t>(last * width); ++i) {
            for (int b = 0; b < 3; ++b) rgba[4 * i + b] = toGrey(ranges[source[b]], values[i * k + source[b]]);
            rgba[4 * i + 3] = 0;
        }
    });
}

void smoothField5x5(float* field, int width, int height) {
    if (!field || width <= 0 || height <= 0) return;
    for (int y = 0; y < height; ++y) {
        const int y0 = std::max(0, y - 2), y1 = std::min(height - 1, y + 2);
        for (int x = 0; x < width; ++x) {
            const int x0 = std::max(0, x - 2), x1 = std::min(width - 1, x + 2);
            float first = 0, second = 0;
            for (int yy = y0; yy <= y1; ++yy) {
                const float* v = field + 2 * (static_cast<std::size_t>(yy) * width + x0);
                for (int xx = x0; xx <= x1; ++xx, v += 2) {
                    first += v[0];
                    second += v[1];
                }
            }
            const float count = static_cast<float>((y1 - y0 + 1) * (x1 - x0 + 1));
            float* out = field + 2 * (static_cast<std::size_t>(y) * width + x);
            out[0] = first / count;
            out[1] = second / count;
        }
    }
}

void sliceToBytesResampled(Image* image, int newWidth, int newHeight, unsigned char* bytes, int slice) {
    clearLastError();
    if (!hasElementData(image) || !bytes || newWidth < 2 || newHeight < 2 || image->width() < 2 ||
        image->height() < 2 || slice < 0 || slice >= image->depth()) {
        reportFailure("Error: cannot resample slice " + std::to_string(slice) + " to " + std::to_string(newWidth) + " x " +
                      std::to_string(newHeight) + " bytes!");
        return;
    }
    // Real division: an integer quotient would stretch only part of the slice.
    const float sx = static_cast<float>(image->width() - 1), sy = static_cast<float>(image->height() - 1);
    for (int y = 0; y < newHeight; ++y) {
        const float py = sy * y / (newHeight - 1) * 0.999f;
        for (int x = 0; x < newWidth; ++x) {
            const float px = sx * x / (newWidth - 1) * 0.999f;
            bytes[x + static_cast<std::size_t>(newWidth) * y] = toByte(image->getBilinear(px, py, slice));
        }
    }
}

Image* colourPicture(Image* image) {
    clearLastError();
    static const float kTable[] = {0, 0, 0.5f, 0, 0.5f, 1, 0, 1, 0, 1, 1, 0, 1, 0, 0};
    const int w = image->width(), h = image->height(), channels = image->m_channels;
    // The colours are the first three channels (an alpha channel is left out).
    const int kept = std::min(channels, 3);
    std::vector<float> values(static_cast<std::size_t>(w) * h * kept);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = image->get(static_cast<int>(i / kept * channels + i % kept));
    }

    auto picture = std::make_unique<ImageBase<unsigned char>>();
    picture->m_verbose = image->m_verbose;
    if (picture->init(w, h, 1, 1, channels == 2 ? 1 : 3) != 0 || !picture->data()) return nullptr;
    unsigned char* out = picture->data();
    if (channels == 2) {
        std::vector<unsigned char> grey(paddedRowLength(w) * h);
        fieldMagnitudeToBytes(values.data(), grey.data(), w, h, 0, 0, false);
        for (int y = 0; y < h; ++y) std::memcpy(out + y * w, grey.data() + y * paddedRowLength(w), w);
        return picture.release();
    }
    std::vector<unsigned char> rgba(static_cast<std::size_t>(w) * h * 4);
    if (channels == 1) {
        colourMapFloats(values.data(), rgba.data(), w, h, 0, 0, kTable, 5, false);
    } else {
        channelsToRGBA(values.data(), rgba.data(), w, h, image, false);
    }
    for (std::size_t i = 0; i < rgba.size() / 4; ++i) std::memcpy(out + 3 * i, &rgba[4 * i], 3);
    return picture.release();
}

Image* floatCopy(Image* image) {
    clearLastError();
    auto copy = std::make_unique<ImageBase<float>>();
    copy->m_verbose = image->m_verbose;
    const int* d = image->m_dim;
    if (copy->init(d[0], d[1], d[2], d[3], image->m_channels) != 0) return nullptr;
    copy->setSpacing(image->m_spacing[0], image->m_spacing[1], image->m_spacing[2], image->m_spacing[3]);
    for (int i = 0; i < image->m_image_size; ++i) copy->data()[i] = image->get(i);
    return copy.release();
}

}  // namespace KVEL
