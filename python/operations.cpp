// The kvel tool's operations, under its names and with its meanings: each
// reads its image without changing it and returns a new one.

#include "operations.h"

#include <kvel/edges.h>
#include <kvel/rigid.h>
#include <kvel/visualise.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace kvelpy {

namespace {

// Image sizes asked of the library; larger requests are refused.
constexpr int kMaxExtent = 65536;
constexpr int kMaxKernel = 99;

// Runs the library without the GIL, so other Python threads go on meanwhile;
// a null result is the library's refusal.
template <class F>
ImagePtr run(const char* operation, F&& call) {
    ImagePtr result;
    {
        py::gil_scoped_release release;
        result = call();
    }
    if (!result) throw LibraryError(operation, libraryReason("refused"));
    if (!elementsOf(*result)) throw std::bad_alloc();
    result->m_verbose = 0;
    return result;
}

int inRange(int value, const char* what, int low, int high) {
    if (value < low || value > high) {
        throw py::value_error(std::string(what) + " must be from " + std::to_string(low) + " to " +
                              std::to_string(high) + ", not " + std::to_string(value));
    }
    return value;
}

float finite(float value, const char* what) {
    if (!std::isfinite(value)) throw py::value_error(std::string(what) + " must be finite");
    return value;
}

// The square, odd-sized kernel as row-major floats, rows along y.
std::vector<float> kernelValues(const py::object& kernel, int& size) {
    using Floats = py::array_t<float, py::array::c_style | py::array::forcecast>;
    const Floats values = Floats::ensure(kernel);
    if (!values) {
        PyErr_Clear();
        throw py::type_error("the kernel must be a k x k array of numbers");
    }
    if (values.ndim() != 2 || values.shape(0) != values.shape(1) || values.shape(0) % 2 == 0 ||
        values.shape(0) > kMaxKernel) {
        throw py::value_error("the kernel must be k x k numbers with k odd and at most " +
                              std::to_string(kMaxKernel));
    }
    size = static_cast<int>(values.shape(0));
    std::vector<float> result(values.data(), values.data() + values.size());
    for (float v : result) finite(v, "the kernel");
    return result;
}

}  // namespace

ImagePtr downsample(const py::handle& in, int fx, int fy, int fz, int ft) {
    Source source(in);
    KVEL::Image& image = source.image();
    const char* names[4] = {"fx", "fy", "fz", "ft"};
    const int factors[4] = {fx, fy, fz, ft};
    for (int i = 0; i < 4; ++i) inRange(factors[i], names[i], 1, image.m_dim[i]);
    return run("downsample", [&] { return ImagePtr(image.downsample(fx, fy, fz, ft, true)); });
}

ImagePtr resample2d(const py::handle& in, int width, int height) {
    // The step (old - 1) / (new - 1) needs two samples per axis.
    inRange(width, "width", 2, kMaxExtent);
    inRange(height, "height", 2, kMaxExtent);
    Source source(in);
    return run("resample2d", [&] { return ImagePtr(source.image().resample2D(width, height, nullptr)); });
}

// The turn and the padding run on the header over the caller's elements:
// the library writes their result into a new buffer, so nothing is copied
// first.
ImagePtr rotate(const py::handle& in, int axis) {
    inRange(axis, "axis", 0, 2);
    Source source(in);
    return run("rotate", [&] {
        const void* before = elementsOf(source.image());
        source.image().rotate(axis);
        // A turn always moves the elements; when they stayed, there was no room for the new buffer.
        if (!ownsNewBuffer(source.image(), before)) throw std::bad_alloc();
        return source.take();
    });
}

namespace {

ImagePtr pad(const py::handle& in, bool withDepth) {
    Source source(in);
    return run(withDepth ? "pad3d" : "pad2d", [&] {
        KVEL::Image& image = source.image();
        const void* before = elementsOf(image);
        withDepth ? image.padToPowerOfTwo3D() : image.padToPowerOfTwo2D();
        if (ownsNewBuffer(image, before)) return source.take();
        // Nothing moved: the extents were powers of two already, or the padded image did not fit.
        for (int i = 0; i < (withDepth ? 3 : 2); ++i) {
            if ((image.m_dim[i] & (image.m_dim[i] - 1)) != 0) return ImagePtr();
        }
        return source.copy();
    });
}

}  // namespace

ImagePtr pad2d(const py::handle& in) { return pad(in, false); }

ImagePtr pad3d(const py::handle& in) { return pad(in, true); }

// Every value mirrored within the image's range, as the tool sees it after
// reading (every channel's window is the whole image's range).
ImagePtr invert(const py::handle& in) {
    Source source(in);
    return run("invert", [&] {
        ImagePtr image = source.copy();
        image->computeRange();
        image->invert();
        return image;
    });
}

ImagePtr window(const py::handle& in, float low, float high) {
    finite(low, "low");
    finite(high, "high");
    if (!(low < high)) throw py::value_error("low must be below high");
    Source source(in);
    return run("window", [&] {
        ImagePtr image = source.copy();
        for (int c = 0; c < image->m_channels; ++c) image->setRange(low, high, c);
        image->applyWindowLevel(false);
        return image;
    });
}

// Filters and derivatives give float images: the library refuses unsigned
// output types.
ImagePtr filter(const py::handle& in, const py::object& kernel) {
    int size = 0;
    const std::vector<float> values = kernelValues(kernel, size);
    Source source(in);
    return run("filter",
               [&] { return ImagePtr(source.image().filter(KVEL::kGlFloat, values.data(), size, nullptr)); });
}

ImagePtr gradient(const py::handle& in) {
    Source source(in);
    KVEL::Image& image = source.image();
    return run("gradient", [&] {
        if (image.depth() > 1) return ImagePtr(image.gradient3D(KVEL::kGlFloat, nullptr, true, false, nullptr));
        return ImagePtr(image.gradient(KVEL::kGlFloat, nullptr, true, nullptr));
    });
}

ImagePtr hessian(const py::handle& in) {
    Source source(in);
    KVEL::Image& image = source.image();
    return run("hessian", [&] {
        if (!KVEL::isUnsignedType(KVEL::glTypeOf(&image))) {
            return ImagePtr(image.hessian(KVEL::kGlFloat, nullptr, nullptr));
        }
        // The library takes the gradient in the source's own type and refuses unsigned ones.
        ImagePtr copy(KVEL::floatCopy(&image));
        return copy ? ImagePtr(copy->hessian(KVEL::kGlFloat, nullptr, nullptr)) : ImagePtr();
    });
}

// 2-D: a 0/255 edge map of slice 0; a volume: its edge voxels set to 4095.
ImagePtr edges(const py::handle& in, float low) {
    finite(low, "low");
    Source source(in);
    KVEL::Image& image = source.image();
    return run("edges", [&] {
        if (image.depth() > 1) {
            ImagePtr volume = source.copy();
            return KVEL::detectEdges3D(volume.get(), low) == 0 ? std::move(volume) : nullptr;
        }
        ImagePtr map = newImage(KVEL::kGlUnsignedByte);
        map->init(image.width(), image.height(), 1, 1, 1);
        auto* bytes = static_cast<KVEL::ImageBase<unsigned char>*>(map.get())->data();
        return bytes && KVEL::detectEdges2D(&image, low, bytes) == 0 ? std::move(map) : nullptr;
    });
}

ImagePtr rigid(const py::handle& in, float tx, float ty, float tz, float a, float b, float c, bool nearest) {
    const float params[6] = {finite(tx, "tx"), finite(ty, "ty"), finite(tz, "tz"),
                             finite(a, "a"),   finite(b, "b"),   finite(c, "c")};
    Source source(in);
    return run("rigid", [&] { return ImagePtr(KVEL::resampleRigid(params, &source.image(), nullptr, !nearest)); });
}

// Slice 0 as a picture, red first (see KVEL::colourPicture).
ImagePtr colourmap(const py::handle& in) {
    Source source(in);
    KVEL::Image& image = source.image();
    return run("colourmap", [&] { return ImagePtr(KVEL::colourPicture(&image)); });
}

// The first frame through the image's range onto 0..255, channels kept.
ImagePtr toBytes(const py::handle& in) {
    Source source(in);
    KVEL::Image& image = source.image();
    return run("to_bytes", [&] {
        ImagePtr bytes = newImage(KVEL::kGlUnsignedByte);
        bytes->init(image.m_dim[0], image.m_dim[1], image.m_dim[2], 1, image.m_channels);
        unsigned char* out = static_cast<KVEL::ImageBase<unsigned char>*>(bytes.get())->data();
        if (!out) return ImagePtr();
        std::memcpy(bytes->m_spacing, image.m_spacing, sizeof bytes->m_spacing);
        std::memcpy(bytes->m_position, image.m_position, sizeof bytes->m_position);
        image.computeRange();
        image.toBytes(out, false);
        return bytes;
    });
}

}  // namespace kvelpy
