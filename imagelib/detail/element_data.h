#pragma once

// Whether an image can be read or written element by element: the free
// functions check this before they touch a buffer.

#include "imagelib/detail/element_types.h"

namespace KVEL {

inline bool hasElementData(Image* image) {
    bool present = false;
    if (image) withTypedImage(image, [&](auto& typed) { present = typed.m_data != nullptr; });
    return present;
}

}  // namespace KVEL
