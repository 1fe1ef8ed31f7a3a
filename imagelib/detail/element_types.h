#pragma once

// Internal helpers shared by the typed operations: the list of element types,
// their codes, the one conversion from float to an element, and the one place
// that turns an Image* back into its typed ImageBase.

#include "imagelib/imagebase.h"

#include <type_traits>

namespace KVEL {

#define KVEL_FOR_EACH_ELEMENT_TYPE(X) \
    X(unsigned char)                  \
    X(signed char)                    \
    X(short)                          \
    X(unsigned short)                 \
    X(int)                            \
    X(unsigned int)                   \
    X(float)                          \
    X(double)

template <class T> constexpr int glTypeCode();
template <> constexpr int glTypeCode<signed char>() { return kGlByte; }
template <> constexpr int glTypeCode<unsigned char>() { return kGlUnsignedByte; }
template <> constexpr int glTypeCode<short>() { return kGlShort; }
template <> constexpr int glTypeCode<unsigned short>() { return kGlUnsignedShort; }
template <> constexpr int glTypeCode<int>() { return kGlInt; }
template <> constexpr int glTypeCode<unsigned int>() { return kGlUnsignedInt; }
template <> constexpr int glTypeCode<float>() { return kGlFloat; }
template <> constexpr int glTypeCode<double>() { return kGlDouble; }

// Float to element: integers truncate toward zero and wrap as a conversion
// through int does; values no integer can hold saturate and not-a-number
// becomes 0, so no input is undefined behaviour.
template <class T>
inline T toElement(float v) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(v);
    } else {
        if (v >= 9223372036854775808.0f) return static_cast<T>(0x7fffffffffffffffLL);
        if (v < -9223372036854775808.0f) return static_cast<T>(-0x7fffffffffffffffLL - 1);
        if (v != v) return 0;
        return static_cast<T>(static_cast<long long>(v));
    }
}

// Calls f(ImageBase<T>&) with the image's own element type; false when the
// image is no ImageBase.
template <class F>
bool withTypedImage(Image* image, F&& f) {
#define KVEL_TRY_TYPE(T)                                            \
    if (auto* typed = dynamic_cast<ImageBase<T>*>(image)) {       \
        f(*typed);                                                \
        return true;                                              \
    }
    KVEL_FOR_EACH_ELEMENT_TYPE(KVEL_TRY_TYPE)
#undef KVEL_TRY_TYPE
    return false;
}

}  // namespace KVEL
