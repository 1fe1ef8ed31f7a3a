#pragma once

// What every picture the entry point returns must be: one 2-D frame of 1 to 4
// channels whose element count matches its geometry.
#include "imagelib/imagebase.h"

inline void checkWholePicture(const KVEL::Image& image) {
    const int* d = image.m_dim;
    if (d[0] < 1 || d[1] < 1 || d[2] != 1 || d[3] != 1 || image.m_channels < 1 || image.m_channels > 4 ||
        image.m_image_size != d[0] * d[1] * image.m_channels) {
        __builtin_trap();
    }
}
