#include "operations.h"

#include <kvel/bitmap.h>
#include <kvel/edges.h>
#include <kvel/rigid.h>
#include <kvel/visualise.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "failure.h"

namespace {

using KVEL::Image;
using ImagePtr = std::unique_ptr<Image>;
using Args = std::vector<std::string>;

// Image sizes the tool asks the library for; larger requests are refused.
constexpr int kMaxExtent = 65536;
constexpr int kMaxKernel = 99;

ImagePtr adopt(Image* result) { return ImagePtr(result); }

ImagePtr downsample(ImagePtr image, const Args& a, bool) {
    const char* names[4] = {"FX", "FY", "FZ", "FT"};
    int factors[4];
    for (int i = 0; i < 4; ++i) factors[i] = parseInt(a[i], names[i], 1, image->m_dim[i]);
    return adopt(image->downsample(factors[0], factors[1], factors[2], factors[3], true));
}

ImagePtr resample2d(ImagePtr image, const Args& a, bool) {
    // The step (old - 1) / (new - 1) needs two samples per axis.
    const int w = parseInt(a[0], "W", 2, kMaxExtent), h = parseInt(a[1], "H", 2, kMaxExtent);
    return adopt(image->resample2D(w, h, nullptr));
}

ImagePtr rotate(ImagePtr image, const Args& a, bool) {
    image->rotate(parseInt(a[0], "AXIS", 0, 2));
    return image;
}

ImagePtr pad2d(ImagePtr image, const Args&, bool) {
    image->padToPowerOfTwo2D();
    return image;
}

ImagePtr pad3d(ImagePtr image, const Args&, bool) {
    image->padToPowerOfTwo3D();
    return image;
}

ImagePtr invert(ImagePtr image, const Args&, bool) {
    image->invert();
    return image;
}

ImagePtr window(ImagePtr image, const Args& a, bool) {
    const float low = parseFloat(a[0], "LOW"), high = parseFloat(a[1], "HIGH");
    if (!(low < high)) throw Failure("LOW must be below HIGH", true);
    for (int c = 0; c < image->m_channels; ++c) image->setRange(low, high, c);
    image->applyWindowLevel(false);
    return image;
}

struct Kernel {
    std::vector<float> values;
    int size;
};

// A square kernel: whitespace-separated numbers, row by row.
Kernel readKernel(const std::string& path) {
    std::ifstream file(path);
    if (!file) throw Failure(path + ": " + std::strerror(errno));
    std::vector<float> kernel;
    std::string word;
    while (file >> word && kernel.size() <= kMaxKernel * kMaxKernel) {
        char* end = nullptr;
        const float value = std::strtof(word.c_str(), &end);
        if (*end != '\0' || !std::isfinite(value)) throw Failure(path + ": '" + word + "' is not a number");
        kernel.push_back(value);
    }
    int size = 1;
    while (size * size < static_cast<int>(kernel.size())) ++size;
    if (kernel.empty() || size * size != static_cast<int>(kernel.size()) || size > kMaxKernel) {
        throw Failure(path + ": a kernel is k x k numbers (k up to " + std::to_string(kMaxKernel) + "), not " +
                      std::to_string(kernel.size()));
    }
    return {kernel, size};
}

// Derivatives and filters go to float images: the library refuses unsigned
// output types, which BMP pictures are.
ImagePtr filter(ImagePtr image, const Args& a, bool) {
    const Kernel kernel = readKernel(a[0]);
    return adopt(image->filter(KVEL::kGlFloat, kernel.values.data(), kernel.size, nullptr));
}

ImagePtr gradient(ImagePtr image, const Args&, bool) {
    if (image->depth() > 1) return adopt(image->gradient3D(KVEL::kGlFloat, nullptr, true, false, nullptr));
    return adopt(image->gradient(KVEL::kGlFloat, nullptr, true, nullptr));
}

ImagePtr hessian(ImagePtr image, const Args&, bool) {
    // The library takes the gradient in the source's own type and refuses unsigned ones.
    if (KVEL::isUnsignedType(KVEL::glTypeOf(image.get()))) image = adopt(KVEL::floatCopy(image.get()));
    return image ? adopt(image->hessian(KVEL::kGlFloat, nullptr, nullptr)) : nullptr;
}

ImagePtr edges(ImagePtr image, const Args& a, bool) {
    const float low = parseFloat(a[0], "LOW");
    if (image->depth() > 1) return KVEL::detectEdges3D(image.get(), low) == 0 ? std::move(image) : nullptr;
    auto map = std::make_unique<KVEL::Bitmap>();
    map->createFromBuffer(image->width(), image->height(), 1, nullptr);
    if (!map->data() || KVEL::detectEdges2D(image.get(), low, map->data()) != 0) return nullptr;
    return map;
}

ImagePtr rigid(ImagePtr image, const Args& a, bool nearest) {
    const char* names[6] = {"TX", "TY", "TZ", "A", "B", "C"};
    float params[6];
    for (int i = 0; i < 6; ++i) params[i] = parseFloat(a[i], names[i]);
    return adopt(KVEL::resampleRigid(params, image.get(), nullptr, !nearest));
}

ImagePtr colourmap(ImagePtr image, const Args&, bool) { return adopt(KVEL::colourPicture(image.get())); }

}  // namespace

const std::vector<Operation>& operations() {
    static const std::vector<Operation> table = {
        {"downsample", "FX FY FZ FT", "mean of FX x FY x FZ x FT blocks", 4, false, downsample},
        {"resample2d", "W H", "bilinear resize of each slice to W x H (one channel only)", 2, false, resample2d},
        {"rotate", "AXIS", "quarter turn about axis 0 (x), 1 (y) or 2 (z)", 1, false, rotate},
        {"pad2d", "", "pad width and height to powers of two with zeros", 0, false, pad2d},
        {"pad3d", "", "pad width, height and depth to powers of two with zeros", 0, false, pad3d},
        {"invert", "", "mirror every value within its channel's range", 0, false, invert},
        {"window", "LOW HIGH", "clamp to [LOW, HIGH] and subtract LOW", 2, false, window},
        {"filter", "KERNEL", "convolve with the k x k numbers in the text file KERNEL", 1, false,
         filter},
        {"gradient", "", "derivatives along each axis, one channel per axis", 0, false, gradient},
        {"hessian", "", "second derivatives xx, xy, yy", 0, false, hessian},
        {"edges", "LOW", "edges at LOW and 3 LOW (2-D: 0/255 map, 3-D: marks 4095)", 1,
         false, edges},
        {"rigid", "TX TY TZ A B C [--nearest]",
         "move a volume by TX TY TZ and turn it by A B C radians",
         6, true, rigid},
        {"colourmap", "", "slice 0 in colour; a 2-channel vector field in grey lengths", 0,
         false, colourmap},
    };
    return table;
}

const Operation* findOperation(const std::string& name) {
    for (const Operation& op : operations()) {
        if (name == op.name) return &op;
    }
    return nullptr;
}
