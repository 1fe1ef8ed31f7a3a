#include "elements.h"

#include <kvel/space.h>

#include "imagelib/detail/uncleared_image.h"

#include <cstring>
#include <new>

namespace kvelops {

void* elementsOf(KVEL::Image& image) {
    void* data = nullptr;
    withElements(image, [&](auto& typed) { data = typed.m_data; });
    return data;
}

std::unique_ptr<KVEL::Image> copyImage(KVEL::Image& source) {
    std::unique_ptr<KVEL::Image> image(KVEL::createImage(KVEL::glTypeOf(&source)));
    if (!image) throw std::logic_error("an image of no known element type");
    image->m_verbose = 0;
    const int* d = source.m_dim;
    // Every element is copied over: the buffer is not cleared first.
    KVEL::initUncleared(*image, d[0], d[1], d[2], d[3], source.m_channels);
    withElements(source, [&](auto& typed) {
        if (!elementsOf(*image) && source.m_image_size > 0) throw std::bad_alloc();
        std::memcpy(elementsOf(*image), typed.m_data, sizeof(*typed.m_data) * static_cast<std::size_t>(source.m_image_size));
    });
    KVEL::copyGeometry(*image, source);
    return image;
}

}  // namespace kvelops
