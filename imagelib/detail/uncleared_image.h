#pragma once

// init() for a result whose every element the operation goes on to write:
// its buffer is not zeroed first, which would be one more pass over memory as
// large as the result.

#include "imagelib/detail/aligned_buffer.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"

namespace KVEL {

template <class T>
int initUncleared(ImageBase<T>& image, int x, int y, int z, int t, int channels) {
    image.freeData();
    const int status = image.Image::init(x, y, z, t, channels);
    if (image.m_image_size == 0 || image.m_external_data) return status;
    image.m_data = static_cast<T*>(allocateAligned(sizeof(T) * static_cast<std::size_t>(image.m_image_size)));
    if (!image.m_data) {
        reportFailure("Error while initializing!");
        image.Image::init(0, 0, 0, 0, 0);
        return 1;
    }
    return status;
}

inline int initUncleared(Image& image, int x, int y, int z, int t, int channels) {
    int status = 1;
    withTypedImage(&image, [&](auto& typed) { status = initUncleared(typed, x, y, z, t, channels); });
    return status;
}

}  // namespace KVEL
