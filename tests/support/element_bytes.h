#pragma once

// An image's elements as bytes, and the width of one element.
#include "imagelib/detail/element_types.h"

#include <cstddef>

inline const unsigned char* elementBytes(KVEL::Image& image, std::size_t& width) {
    const unsigned char* data = nullptr;
    KVEL::withTypedImage(&image, [&](auto& typed) {
        data = reinterpret_cast<const unsigned char*>(typed.m_data);
        width = sizeof(*typed.m_data);
    });
    return data;
}
