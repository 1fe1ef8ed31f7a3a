// A z range of an image: checked against the image's depth, and cut out of a
// whole image for the formats that cannot decode only part of one.
#include "imagelib/formats/codecs.h"

#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"

#include <kvel/space.h>

#include <cstring>
#include <memory>

namespace KVEL {

bool isWholeSlab(const ReadOptions& options) { return options.firstSlice == 0 && options.sliceCount == -1; }

bool slabWithin(const ReadOptions& options, int depth, const std::string& name, int& first, int& count) {
    first = options.firstSlice;
    count = options.sliceCount == -1 ? depth - first : options.sliceCount;
    if (first >= 0 && count >= 1 && first < depth && count <= depth - first) return true;
    const std::string from = std::to_string(options.firstSlice);
    const std::string asked = options.sliceCount == -1 ? "the slices from " + from + " on"
                                                       : std::to_string(options.sliceCount) + " slices from " + from;
    reportFailure("Error: " + name + " holds " + std::to_string(depth) + " slice" + (depth == 1 ? "" : "s") + ": " +
                  asked + " are not among them");
    return false;
}

Image* cutSlab(Image& whole, int first, int count) {
    std::unique_ptr<Image> part(createImage(glTypeOf(&whole)));
    const int* d = whole.m_dim;
    if (!part || part->init(d[0], d[1], count, d[3], whole.m_channels) != 0 || part->m_image_size == 0) {
        reportFailure("Error: no memory for " + std::to_string(count) + " slices");
        return nullptr;
    }
    const unsigned char* in = nullptr;
    unsigned char* out = nullptr;
    std::size_t bytes = 0;
    withTypedImage(&whole, [&](auto& typed) {
        in = reinterpret_cast<const unsigned char*>(typed.m_data);
        bytes = sizeof(*typed.m_data);
    });
    withTypedImage(part.get(), [&](auto& typed) { out = reinterpret_cast<unsigned char*>(typed.m_data); });
    const std::size_t slab = static_cast<std::size_t>(part->m_frame_size) * bytes;
    for (int t = 0; t < d[3]; ++t) {
        std::memcpy(out + t * slab,
                    in + (static_cast<std::size_t>(t) * whole.m_frame_size +
                          static_cast<std::size_t>(first) * whole.m_slice_size) * bytes,
                    slab);
    }
    copyGeometry(*part, whole);
    const Vec3 corner = physicalPoint(whole, {0, 0, static_cast<double>(first)});
    for (int i = 0; i < 3; ++i) part->m_position[i] = static_cast<float>(corner[i]);
    part->computeRange();
    return part.release();
}

}  // namespace KVEL
