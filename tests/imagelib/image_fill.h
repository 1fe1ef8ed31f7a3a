#pragma once

// Deterministic test contents for images of any element type.

#include "imagelib/detail/element_types.h"
#include "imagelib/imagebase.h"

#include <cstring>
#include <gtest/gtest.h>
#include <type_traits>

namespace imagetest {

using ElementTypes = ::testing::Types<unsigned char, signed char, short, unsigned short, int, unsigned int, float,
                                      double>;

// Values in a range every element type holds, with fractions for real types.
template <class T>
void fillPattern(KVEL::ImageBase<T>& image, unsigned seed = 1) {
    unsigned state = seed * 2654435761u + 12345u;
    for (int i = 0; i < image.m_image_size; ++i) {
        state = state * 1103515245u + 12345u;
        const int v = static_cast<int>((state >> 16) % 200);
        const int signedShift = std::is_signed<T>::value ? 100 : 0;
        if (std::is_floating_point<T>::value) {
            image.data()[i] = static_cast<T>((v - 100) * 0.37 + 0.125);
        } else {
            image.data()[i] = static_cast<T>(v - signedShift);
        }
    }
}

inline ::testing::AssertionResult sameElements(const KVEL::Image& a, const KVEL::Image& b) {
    if (KVEL::glTypeOf(&a) != KVEL::glTypeOf(&b)) return ::testing::AssertionFailure() << "element types differ";
    for (int i = 0; i < 4; ++i) {
        if (a.m_dim[i] != b.m_dim[i]) return ::testing::AssertionFailure() << "extent " << i << " differs";
    }
    if (a.m_channels != b.m_channels || a.m_image_size != b.m_image_size) {
        return ::testing::AssertionFailure() << "channels differ";
    }
    // Bit for bit: the same element bytes.
    int mismatches = 0;
    KVEL::withTypedImage(const_cast<KVEL::Image*>(&a), [&](auto& ta) {
        using T = std::remove_pointer_t<decltype(ta.m_data)>;
        const auto& tb = static_cast<const KVEL::ImageBase<T>&>(b);
        for (int i = 0; i < a.m_image_size; ++i) {
            if (std::memcmp(ta.m_data + i, tb.m_data + i, sizeof(T)) != 0) ++mismatches;
        }
    });
    if (mismatches) return ::testing::AssertionFailure() << mismatches << " elements differ";
    return ::testing::AssertionSuccess();
}

}  // namespace imagetest
