#pragma once

// The image's elements under their own type, for the copies the front ends make.

#include <kvel/imagebase.h>

#include "imagelib/detail/element_types.h"

#include <memory>
#include <stdexcept>

namespace kvelops {

// Calls f(ImageBase<T>&) with the image's element type.
template <class F>
void withElements(KVEL::Image& image, F&& f) {
    if (!KVEL::withTypedImage(&image, f)) throw std::logic_error("an image of no known element type");
}

// The image's element buffer; null when it has none.
void* elementsOf(KVEL::Image& image);

// A copy owning its elements, with the source's geometry; throws std::bad_alloc.
std::unique_ptr<KVEL::Image> copyImage(KVEL::Image& source);

}  // namespace kvelops
