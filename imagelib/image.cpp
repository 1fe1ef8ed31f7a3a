#include "imagelib/imagebase.h"

#include "imagelib/detail/messages.h"

#include <climits>
#include <new>

namespace KVEL {

Image::Image()
    : m_position{0, 0, 0},
      m_direction{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
      m_dim{0, 0, 0, 0},
      m_spacing{1.0f, 1.0f, 1.0f, 1.0f},
      m_channels(0),
      m_channel_windows(nullptr),
      m_min(0),
      m_max(0),
      m_verbose(1),
      m_stride(0),
      m_slice_size(0),
      m_frame_size(0),
      m_image_size(0),
      m_iteration(0) {}

Image::~Image() {
    delete[] m_channel_windows;
}

void Image::setSpacing(float sx, float sy, float sz, float st) {
    m_spacing[0] = sx;
    m_spacing[1] = sy;
    m_spacing[2] = sz;
    m_spacing[3] = st;
}

// A channel the image does not have is ignored rather than written past the windows.
void Image::setWindow(float width, float center, int channel) {
    if (channel < 0 || channel >= m_channels) return;
    ChannelWindow& w = m_channel_windows[channel];
    w.width = width;
    w.center = center;
    w.low = center - width / 2;
    w.high = center + width / 2;
}

void Image::setRange(float low, float high, int channel) {
    if (channel < 0 || channel >= m_channels) return;
    ChannelWindow& w = m_channel_windows[channel];
    w.width = high - low;
    w.center = (low + high) / 2;
    w.low = low;
    w.high = high;
}

// Every derived size must fit an int, or indices would overflow: such a
// geometry (or a negative extent) leaves an empty image.
static bool geometryFits(int x, int y, int z, int t, int channels) {
    const long long factors[] = {x, channels, y, z, t};
    long long product = 1;
    for (long long f : factors) {
        if (f < 0) return false;
        product *= f;
        if (product > INT_MAX) return false;
    }
    return true;
}

int Image::init(int x, int y, int z, int t, int channels) {
    clearLastError();
    delete[] m_channel_windows;
    m_channel_windows = nullptr;
    bool fits = geometryFits(x, y, z, t, channels);
    // A status-returning call: a failed allocation is a status, not an exception.
    if (fits && channels) {
        m_channel_windows = new (std::nothrow) ChannelWindow[channels]();
        fits = m_channel_windows != nullptr;
    }
    if (!fits) {
        reportFailure("Error while initializing!");
        x = y = z = t = channels = 0;
    }
    m_dim[0] = x;
    m_dim[1] = y;
    m_dim[2] = z;
    m_dim[3] = t;
    m_channels = channels;
    m_stride = x * channels;
    m_slice_size = y * m_stride;
    m_frame_size = z * m_slice_size;
    m_image_size = t * m_frame_size;
    m_position[0] = m_position[1] = m_position[2] = 0;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m_direction[r][c] = r == c ? 1 : 0;
    return fits ? 0 : 1;
}

}  // namespace KVEL
