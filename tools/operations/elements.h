#pragma once

// The image's elements under their own type, for the copies the front ends make.

#include <kvel/imagebase.h>

#include <memory>
#include <stdexcept>

namespace kvelops {

// Calls f(ImageBase<T>&) with the image's element type.
template <class F>
void withElements(KVEL::Image& image, F&& f) {
    switch (KVEL::glTypeOf(&image)) {
        case KVEL::kGlUnsignedByte: return f(static_cast<KVEL::ImageBase<unsigned char>&>(image));
        case KVEL::kGlByte: return f(static_cast<KVEL::ImageBase<signed char>&>(image));
        case KVEL::kGlUnsignedShort: return f(static_cast<KVEL::ImageBase<unsigned short>&>(image));
        case KVEL::kGlShort: return f(static_cast<KVEL::ImageBase<short>&>(image));
        case KVEL::kGlUnsignedInt: return f(static_cast<KVEL::ImageBase<unsigned int>&>(image));
        case KVEL::kGlInt: return f(static_cast<KVEL::ImageBase<int>&>(image));
        case KVEL::kGlFloat: return f(static_cast<KVEL::ImageBase<float>&>(image));
        case KVEL::kGlDouble: return f(static_cast<KVEL::ImageBase<double>&>(image));
        default: throw std::logic_error("an image of no known element type");
    }
}

// The image's element buffer; null when it has none.
void* elementsOf(KVEL::Image& image);

// A copy owning its elements, with the source's geometry; throws std::bad_alloc.
std::unique_ptr<KVEL::Image> copyImage(KVEL::Image& source);

}  // namespace kvelops
