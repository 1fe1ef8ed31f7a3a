// The operations: each one call of the library under the tool's name.

#include <kvel/bitmap.h>
#include <kvel/edges.h>
#include <kvel/rigid.h>
#include <kvel/visualise.h>

#include "elements.h"
#include "operation.h"

namespace kvelops {

namespace {

using KVEL::Image;

// Image sizes asked of the library; larger requests are refused.
constexpr double kMaxExtent = 65536;
constexpr double kMaxKernel = 99;

// The input image: the first image argument.
Image& input(const Values& v) {
    for (const Value& value : v) {
        if (value.image) return *value.image;
    }
    throw std::logic_error("an operation without its image");
}

ImagePtr result(const char* operation, Image* made) {
    if (!made) throw Refusal(operation, libraryReason("the library refused it"));
    made->m_verbose = 0;
    return ImagePtr(made);
}

void succeeded(const char* operation, int status) {
    if (status != 0) throw Refusal(operation, libraryReason("the library refused it"));
}

int whole(const Value& value) { return static_cast<int>(value.number); }
float real(const Value& value) { return static_cast<float>(value.number); }

const Argument kIn{"IN", Kind::kImage, "the image", 0, 0, -1, false, 0, false, "image"};

Argument factor(const char* name, int axis, bool optional) {
    return {name, Kind::kInt, "block size along this axis, 1 to the image's extent", 1, 0, axis, optional, 1};
}

ImagePtr downsample(const Values& v) {
    return result("downsample", input(v).downsample(whole(v[0]), whole(v[1]), whole(v[2]), whole(v[3]), true));
}

ImagePtr resample2d(const Values& v) {
    return result("resample2d", input(v).resample2D(whole(v[0]), whole(v[1]), nullptr));
}

ImagePtr rotate(const Values& v) {
    succeeded("rotate", input(v).rotate(whole(v[0])));
    return nullptr;
}

ImagePtr pad2d(const Values& v) {
    succeeded("pad2d", input(v).padToPowerOfTwo2D());
    return nullptr;
}

ImagePtr pad3d(const Values& v) {
    succeeded("pad3d", input(v).padToPowerOfTwo3D());
    return nullptr;
}

// Every value mirrored within its channel's range as the image holds it now.
ImagePtr invert(const Values& v) {
    input(v).computeRange();
    input(v).invert();
    return nullptr;
}

ImagePtr window(const Values& v) {
    const float low = real(v[0]), high = real(v[1]);
    if (!(low < high)) throw UsageError("LOW must be below HIGH");
    Image& image = input(v);
    for (int c = 0; c < image.m_channels; ++c) image.setRange(low, high, c);
    image.applyWindowLevel(false);
    return nullptr;
}

// Filters and derivatives give float images: the library refuses unsigned
// output types, which pictures are.
ImagePtr filter(const Values& v) {
    const Kernel& k = v[0].kernel;
    return result("filter", input(v).filter(KVEL::kGlFloat, k.values.data(), k.size, nullptr));
}

ImagePtr gradient(const Values& v) {
    Image& image = input(v);
    if (image.depth() > 1) return result("gradient", image.gradient3D(KVEL::kGlFloat, nullptr, true, false, nullptr));
    return result("gradient", image.gradient(KVEL::kGlFloat, nullptr, true, nullptr));
}

ImagePtr hessian(const Values& v) {
    Image& image = input(v);
    if (!KVEL::isUnsignedType(KVEL::glTypeOf(&image))) {
        return result("hessian", image.hessian(KVEL::kGlFloat, nullptr, nullptr));
    }
    // The library takes the gradient in the source's own type and refuses unsigned ones.
    const ImagePtr copy = result("hessian", KVEL::floatCopy(&image));
    return result("hessian", copy->hessian(KVEL::kGlFloat, nullptr, nullptr));
}

// 2-D: a 0/255 map of slice 0's edges; a volume: a copy with its edge voxels set to 4095.
ImagePtr edges(const Values& v) {
    Image& image = input(v);
    const float low = real(v[0]);
    if (image.depth() > 1) {
        ImagePtr volume = copyImage(image);
        succeeded("edges", KVEL::detectEdges3D(volume.get(), low));
        return volume;
    }
    auto map = std::make_unique<KVEL::Bitmap>();
    map->m_verbose = 0;
    map->createFromBuffer(image.width(), image.height(), 1, nullptr);
    if (!map->data()) throw Refusal("edges", "out of memory");
    succeeded("edges", KVEL::detectEdges2D(&image, low, map->data()));
    return map;
}

ImagePtr rigid(const Values& v) {
    float params[6];
    for (int i = 0; i < 6; ++i) params[i] = real(v[i]);
    return result("rigid", KVEL::resampleRigid(params, &input(v), nullptr, v[6].number == 0));
}

ImagePtr colourmap(const Values& v) { return result("colourmap", KVEL::colourPicture(&input(v))); }

Argument real(const char* name, const char* help) { return {name, Kind::kFloat, help}; }

}  // namespace

const std::vector<Operation>& operations() {
    // The step (old - 1) / (new - 1) of resample2d needs two samples per axis.
    const Argument width{"WIDTH", Kind::kInt, "new width, 2 to 65536", 2, kMaxExtent};
    const Argument height{"HEIGHT", Kind::kInt, "new height, 2 to 65536", 2, kMaxExtent};
    static const std::vector<Operation> table = {
        {"downsample", "mean of FX x FY x FZ x FT blocks",
         {factor("FX", 0, false), factor("FY", 1, false), factor("FZ", 2, true), factor("FT", 3, true), kIn},
         Effect::kNew, "OUT", downsample},
        {"resample2d", "bilinear resize of each slice to WIDTH x HEIGHT (one channel only)", {width, height, kIn},
         Effect::kNew, "OUT", resample2d},
        {"rotate", "quarter turn about axis 0 (x), 1 (y) or 2 (z)",
         {{"AXIS", Kind::kInt, "0 (x), 1 (y) or 2 (z)", 0, 2}, kIn}, Effect::kNewBuffer, "OUT", rotate},
        {"pad2d", "pad width and height to powers of two with zeros", {kIn}, Effect::kNewBuffer, "OUT", pad2d},
        {"pad3d", "pad width, height and depth to powers of two with zeros", {kIn}, Effect::kNewBuffer, "OUT",
         pad3d},
        {"invert", "mirror every value within its channel's range", {kIn}, Effect::kInPlace, "OUT", invert},
        {"window", "clamp to [LOW, HIGH] and subtract LOW",
         {real("LOW", "lowest value kept"), real("HIGH", "highest value kept, above LOW"), kIn}, Effect::kInPlace,
         "OUT", window},
        {"filter", "convolve each slice with a k x k kernel, as float",
         {{"KERNEL", Kind::kKernel, "k x k numbers, k odd (the tool: a text file of them, row by row)", 1, kMaxKernel},
          kIn},
         Effect::kNew, "OUT", filter},
        {"gradient", "derivatives along each axis as float, one channel per axis", {kIn}, Effect::kNew, "OUT",
         gradient},
        {"hessian", "second derivatives xx, xy, yy as float", {kIn}, Effect::kNew, "OUT", hessian},
        {"edges", "edges at LOW and 3 LOW (2-D: a 0/255 map, 3-D: edge voxels set to 4095)",
         {real("LOW", "the lower gradient threshold"), kIn}, Effect::kNew, "OUT", edges},
        {"rigid", "move a volume by TX TY TZ and turn it by A B C radians about x, y, z, as float",
         {real("TX", "shift along x"), real("TY", "shift along y"), real("TZ", "shift along z"),
          real("A", "turn about x, radians"), real("B", "turn about y, radians"), real("C", "turn about z, radians"),
          {"nearest", Kind::kFlag, "nearest neighbour instead of trilinear", 0, 0, -1, true, 0, true}, kIn},
         Effect::kNew, "OUT", rigid},
        {"colourmap", "slice 0 as an RGB picture; a 2-channel vector field as grey vector lengths", {kIn},
         Effect::kNew, "OUT", colourmap},
    };
    return table;
}

}  // namespace kvelops
