#include <kvel/space.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "bridge.h"
#include "operations/elements.h"

namespace kvelpy {

using kvelops::elementsOf;
using kvelops::withElements;

namespace {

struct ElementType {
    int glType;
    const char* dtype;
};

// The eight element types and their numpy names.
constexpr ElementType kElementTypes[] = {
    {KVEL::kGlUnsignedByte, "uint8"}, {KVEL::kGlByte, "int8"},           {KVEL::kGlUnsignedShort, "uint16"},
    {KVEL::kGlShort, "int16"},        {KVEL::kGlUnsignedInt, "uint32"}, {KVEL::kGlInt, "int32"},
    {KVEL::kGlFloat, "float32"},      {KVEL::kGlDouble, "float64"},
};

int glTypeOfDtype(const py::dtype& dtype) {
    // numpy's type numbers, looked up once: making a dtype from its name on
    // every call costs more than a small operation.
    static const std::vector<int> numbers = [] {
        std::vector<int> n;
        for (const ElementType& type : kElementTypes) n.push_back(py::dtype(type.dtype).num());
        return n;
    }();
    const char order = dtype.byteorder();
    if (order == '=' || order == '|') {
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            if (dtype.num() == numbers[i]) return kElementTypes[i].glType;
        }
    }
    for (const ElementType& type : kElementTypes) {
        if (dtype.equal(py::dtype(type.dtype))) return type.glType;
    }
    std::string names;
    for (const ElementType& type : kElementTypes) names += std::string(names.empty() ? "" : ", ") + type.dtype;
    throw py::type_error("kvel images hold " + names + ", not " + dtype.attr("name").cast<std::string>() +
                         " (convert with array.astype)");
}

}  // namespace

py::dtype dtypeOfGlType(int glType) {
    for (const ElementType& type : kElementTypes) {
        if (type.glType == glType) return py::dtype(type.dtype);
    }
    throw std::logic_error("an image of no known element type");
}

std::vector<py::ssize_t> shapeOf(const int* d, int channels) {
    std::vector<py::ssize_t> shape;
    if (d[3] > 1) shape.push_back(d[3]);
    if (d[3] > 1 || d[2] > 1) shape.push_back(d[2]);
    shape.insert(shape.end(), {d[1], d[0]});
    if (channels > 1) shape.push_back(channels);
    return shape;
}

int axisCount(const int* d) { return d[3] > 1 ? 4 : d[2] > 1 ? 3 : 2; }

namespace {

int axisCount(const KVEL::Image& image) { return kvelpy::axisCount(image.m_dim); }

// Extents x, y, z, t and the channel count of an array of this shape.
std::vector<int> geometryOf(const py::array& array, int channels) {
    const py::ssize_t n = array.ndim();
    if (n < 2 || n > 5) {
        throw py::value_error("an image array has 2 to 5 axes ((height, width) up to (frames, depth, height, "
                              "width, channels)), not " + std::to_string(n));
    }
    std::vector<py::ssize_t> axes(array.shape(), array.shape() + n);
    bool hasChannelAxis = n == 5;
    if (channels > 1) {
        if (axes.back() != channels) {
            throw py::value_error("the last axis holds " + std::to_string(axes.back()) + " elements, not " +
                                  std::to_string(channels) + " channels");
        }
        hasChannelAxis = true;
    } else if (channels == 0 && (n == 3 || n == 4)) {
        hasChannelAxis = axes.back() <= 4;
    }
    if (channels == 1 && n == 5) throw py::value_error("a 5-axis array has a channel axis");
    std::vector<py::ssize_t> spatial(axes.begin(), axes.end() - (hasChannelAxis ? 1 : 0));
    if (spatial.size() < 2 || spatial.size() > 4) {
        throw py::value_error("an image has 2 to 4 axes besides its channels, this array " +
                              std::to_string(spatial.size()));
    }
    std::vector<int> geometry(5, 1);
    long long elements = 1;
    for (std::size_t i = 0; i < spatial.size(); ++i) {
        const py::ssize_t extent = spatial[spatial.size() - 1 - i];
        if (extent < 1) throw py::value_error("an image cannot be empty");
        geometry[i] = static_cast<int>(std::min<py::ssize_t>(extent, INT_MAX));
        elements *= geometry[i];
        if (elements > INT_MAX) throw py::value_error("an image holds fewer than 2**31 elements");
    }
    geometry[4] = hasChannelAxis ? static_cast<int>(std::min<py::ssize_t>(axes.back(), INT_MAX)) : 1;
    if (geometry[4] < 1) throw py::value_error("an image cannot be empty");
    if (elements * geometry[4] > INT_MAX) throw py::value_error("an image holds fewer than 2**31 elements");
    return geometry;
}

// Numbers from a sequence of `low` to `high` finite values.
std::vector<float> numbers(const py::object& sequence, const char* what, std::size_t low, std::size_t high) {
    if (py::isinstance<py::str>(sequence) || !py::isinstance<py::sequence>(sequence)) {
        throw py::type_error(std::string(what) + " must be a sequence of numbers");
    }
    const py::object real = py::module_::import("numbers").attr("Real");
    std::vector<float> values;
    for (const py::handle item : sequence) {
        if (!py::isinstance(item, real)) throw py::type_error(std::string(what) + " must be a sequence of numbers");
        const double value = py::float_(py::reinterpret_borrow<py::object>(item));
        if (!std::isfinite(static_cast<float>(value))) throw py::value_error(std::string(what) + " must be finite");
        values.push_back(static_cast<float>(value));
    }
    if (values.size() < low || values.size() > high) {
        throw py::value_error(std::string(what) + " needs " + std::to_string(low) + " to " + std::to_string(high) +
                              " numbers for this image, not " + std::to_string(values.size()));
    }
    return values;
}

// A header of the given geometry over elements it does not own.
ImagePtr header(int glType, const std::vector<int>& g, void* elements) {
    ImagePtr image = newImage(glType);
    withElements(*image, [&](auto& typed) {
        typed.m_external_data = true;
        typed.init(g[0], g[1], g[2], g[3], g[4]);
        typed.m_data = static_cast<std::remove_reference_t<decltype(*typed.m_data)>*>(elements);
    });
    return image;
}

// The array itself when its elements are in C order, else a C-ordered copy.
py::array contiguous(const py::handle& array) {
    py::array elements = py::array::ensure(array, py::array::c_style);
    if (!elements) throw py::error_already_set();
    return elements;
}

}  // namespace

bool ownsNewBuffer(KVEL::Image& image, const void* before) {
    if (elementsOf(image) == before) return false;
    withElements(image, [](auto& typed) { typed.m_external_data = false; });
    return true;
}

ImagePtr newImage(int glType) {
    ImagePtr image(KVEL::createImage(glType));
    if (!image) throw std::logic_error("no image of element type " + std::to_string(glType));
    image->m_verbose = 0;
    return image;
}

ImagePtr imageFromArray(const py::object& values, int channels) {
    const py::array array = py::module_::import("numpy").attr("asarray")(values);
    const int glType = glTypeOfDtype(array.dtype());
    const std::vector<int> geometry = geometryOf(array, channels);
    const py::array elements = contiguous(array);
    return kvelops::copyImage(*header(glType, geometry, const_cast<void*>(elements.data())));
}

py::array arrayView(KVEL::Image& image, py::handle owner) {
    return py::array(dtypeOfGlType(KVEL::glTypeOf(&image)), shapeOf(image.m_dim, image.m_channels), elementsOf(image), owner);
}

py::tuple spacingOf(const KVEL::Image& image) {
    py::tuple spacing(axisCount(image));
    for (int i = 0; i < axisCount(image); ++i) spacing[i] = image.m_spacing[i];
    return spacing;
}

py::tuple positionOf(const KVEL::Image& image) {
    const int n = std::min(axisCount(image), 3);
    py::tuple position(n);
    for (int i = 0; i < n; ++i) position[i] = image.m_position[i];
    return position;
}

py::array directionOf(const KVEL::Image& image) {
    py::array_t<double> direction({3, 3});
    auto d = direction.mutable_unchecked<2>();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) d(r, c) = image.m_direction[r][c];
    return direction;
}

void setGeometry(KVEL::Image& image, const py::object& spacing, const py::object& position,
                 const py::object& direction) {
    if (!direction.is_none()) {
        const py::array_t<double> values = py::array_t<double, py::array::forcecast>::ensure(direction);
        if (!values || values.ndim() != 2 || values.shape(0) != 3 || values.shape(1) != 3) {
            throw py::value_error("direction must be a 3 x 3 matrix");
        }
        KVEL::Matrix3 m;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) m[r][c] = values.at(r, c);
        if (!KVEL::isOrthonormal(m, 1e-4)) throw py::value_error("direction must have orthonormal columns");
        KVEL::setDirection(image, m);
    }
    const std::size_t axes = static_cast<std::size_t>(axisCount(image));
    if (!spacing.is_none()) {
        const std::vector<float> values = numbers(spacing, "spacing", axes, 4);
        for (float v : values) {
            if (!(v > 0)) throw py::value_error("spacing must be positive");
        }
        std::copy(values.begin(), values.end(), image.m_spacing);
    }
    if (!position.is_none()) {
        const std::vector<float> values = numbers(position, "position", std::min<std::size_t>(axes, 3), 3);
        std::copy(values.begin(), values.end(), image.m_position);
    }
}

Source::Source(const py::handle& imageOrArray) {
    if (py::isinstance<KVEL::Image>(imageOrArray)) {
        KVEL::Image& image = imageOrArray.cast<KVEL::Image&>();
        const int* d = image.m_dim;
        m_keep = py::reinterpret_borrow<py::object>(imageOrArray);
        m_image = header(KVEL::glTypeOf(&image), {d[0], d[1], d[2], d[3], image.m_channels}, elementsOf(image));
        KVEL::copyGeometry(*m_image, image);
        return;
    }
    if (!py::isinstance<py::array>(imageOrArray)) {
        throw py::type_error("expected a kvel.Image or a numpy array, not " +
                             py::str(py::type::handle_of(imageOrArray).attr("__name__")).cast<std::string>());
    }
    const py::array array = py::reinterpret_borrow<py::array>(imageOrArray);
    const int glType = glTypeOfDtype(array.dtype());
    const std::vector<int> geometry = geometryOf(array, 0);
    const py::array elements = contiguous(array);
    // The library's buffers are 16-byte aligned; an array that is not gets copied.
    if (reinterpret_cast<std::uintptr_t>(elements.data()) % 16 != 0) {
        m_image = kvelops::copyImage(*header(glType, geometry, const_cast<void*>(elements.data())));
        return;
    }
    m_keep = elements;
    m_image = header(glType, geometry, const_cast<void*>(elements.data()));
}

ImagePtr Source::copy() const { return kvelops::copyImage(*m_image); }

}  // namespace kvelpy
