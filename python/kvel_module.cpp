// The kvel Python module: images as numpy arrays, the library's files and
// the kvel tool's operations. Nothing is printed; refusals raise kvel.Error.

#include <kvel/errors.h>
#include <kvel/threads.h>
#include <pybind11/stl.h>

#include <cstring>
#include <optional>

#include "bridge.h"
#include "files.h"
#include "operations.h"

namespace py = pybind11;
using namespace kvelpy;

namespace {

PyObject* errorType = nullptr;
PyObject* fileErrorType = nullptr;

void raise(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const LibraryError& e) {
        py::object error = py::reinterpret_borrow<py::object>(errorType)(e.what());
        error.attr("reason") = e.reason;
        PyErr_SetObject(errorType, error.ptr());
    } catch (const FileError& e) {
        py::object error = py::reinterpret_borrow<py::object>(fileErrorType)(e.error, std::strerror(e.error), e.path);
        PyErr_SetObject(fileErrorType, error.ptr());
    }
}

std::string describe(const KVEL::Image& image) {
    std::string shape;
    for (const py::handle extent : py::tuple(py::cast(image).attr("array").attr("shape"))) {
        shape += (shape.empty() ? "" : ", ") + py::str(extent).cast<std::string>();
    }
    return "kvel.Image(" + py::str(py::cast(image).attr("array").attr("dtype")).cast<std::string>() + ", (" + shape +
           "), spacing=" + py::repr(spacingOf(image)).cast<std::string>() + ")";
}

}  // namespace

namespace kvelpy {

std::string libraryReason(const char* fallback) {
    std::string reason = KVEL::lastError();
    for (const char* prefix : {"Error: ", "Warning: "}) {
        if (reason.rfind(prefix, 0) == 0) reason.erase(0, std::strlen(prefix));
    }
    return reason.empty() ? fallback : reason;
}

}  // namespace kvelpy

PYBIND11_MODULE(kvel, m) {
    // Reasons reach Python as exceptions, never as lines on standard output.
    KVEL::setMessagesPrinted(false);
    m.doc() = "KVEL images as numpy arrays: files, resampling, filters, derivatives, edges, rigid transforms.";

    errorType = PyErr_NewExceptionWithDoc("kvel.Error", "The library refused the call; .reason says why.",
                                          PyExc_RuntimeError, nullptr);
    const py::tuple fileBases = py::make_tuple(py::handle(PyExc_OSError), py::handle(errorType));
    fileErrorType = PyErr_NewExceptionWithDoc("kvel.FileError", "A file that cannot be opened (errno, filename).",
                                              fileBases.ptr(), nullptr);
    m.add_object("Error", py::handle(errorType));
    m.add_object("FileError", py::handle(fileErrorType));
    py::register_exception_translator(raise);

    py::class_<KVEL::Image, ImagePtr>(m, "Image", R"doc(
An image of up to 4 axes (x, y, z, t) with interleaved channels, in one of eight
element types (uint8, int8, uint16, int16, uint32, int32, float32, float64).
Make one with kvel.read or Image.from_array.)doc")
        .def_static(
            "from_array",
            [](const py::object& array, const py::object& spacing, const py::object& position,
               std::optional<int> channels) {
                if (channels && *channels < 1) throw py::value_error("channels must be 1 or more");
                ImagePtr image = imageFromArray(array, channels.value_or(0));
                setGeometry(*image, spacing, position);
                return image;
            },
            py::arg("array"), py::arg("spacing") = py::none(), py::arg("position") = py::none(), py::kw_only(),
            py::arg("channels") = py::none(),
            R"doc(A new image holding a copy of the array's elements.

Axes as Image.array shows them: (height, width[, channels]),
(depth, height, width[, channels]) or (frames, depth, height, width[, channels]).
A last axis of at most 4 elements in a 3- or 4-axis array is taken as channels;
channels=1 says there is none, channels=n that the last axis holds n.
spacing is (x, y[, z[, t]]), position (x, y[, z]).)doc")
        .def_property_readonly(
            "array", [](const py::object& self) { return arrayView(self.cast<KVEL::Image&>(), self); },
            "The elements as a numpy array over the image's own buffer (no copy), slowest axis first.")
        .def_property_readonly("spacing", &spacingOf, "Voxel size in x, y(, z(, t)) order.")
        .def_property_readonly("position", &positionOf, "Position of the first voxel in x, y(, z) order.")
        .def_property_readonly(
            "channels", [](const KVEL::Image& image) { return image.m_channels; }, "Interleaved channels per voxel.")
        .def("__repr__", &describe);

    m.def("read", &kvelpy::read, py::arg("path"), py::arg("series") = "",
          "The image in the file, in any format KVEL reads; a folder is read as DICOM, its largest series\n"
          "or the one whose SeriesInstanceUID is series.");
    m.def("write", &kvelpy::write, py::arg("path"), py::arg("image"), py::arg("spacing") = py::none(),
          py::arg("position") = py::none(),
          "Writes an Image or an array in the format the file name's extension names. A format that cannot\n"
          "hold the image refuses it (kvel.Error): kvel.to_bytes makes 8-bit pictures of other element types.");

    m.def("downsample", &downsample, py::arg("image"), py::arg("fx"), py::arg("fy"), py::arg("fz") = 1,
          py::arg("ft") = 1, "Mean of fx x fy x fz x ft blocks.");
    m.def("resample2d", &resample2d, py::arg("image"), py::arg("width"), py::arg("height"),
          "Bilinear resize of each slice to width x height (one channel only).");
    m.def("rotate", &rotate, py::arg("image"), py::arg("axis"), "Quarter turn about axis 0 (x), 1 (y) or 2 (z).");
    m.def("pad2d", &pad2d, py::arg("image"), "Width and height padded to powers of two with zeros.");
    m.def("pad3d", &pad3d, py::arg("image"), "Width, height and depth padded to powers of two with zeros.");
    m.def("invert", &invert, py::arg("image"), "Every value mirrored within the image's range.");
    m.def("window", &window, py::arg("image"), py::arg("low"), py::arg("high"),
          "Values clamped to [low, high], minus low.");
    m.def("filter", &filter, py::arg("image"), py::arg("kernel"),
          "Convolution of each slice with a k x k kernel (k odd), as float32.");
    m.def("gradient", &gradient, py::arg("image"),
          "Derivatives along each axis as float32, one channel per axis.");
    m.def("hessian", &hessian, py::arg("image"), "Second derivatives xx, xy, yy as float32.");
    m.def("edges", &edges, py::arg("image"), py::arg("low"),
          "Edges at low and 3 low: 2-D a 0/255 map, a volume its edge voxels set to 4095.");
    m.def("rigid", &rigid, py::arg("image"), py::arg("tx"), py::arg("ty"), py::arg("tz"), py::arg("a"), py::arg("b"),
          py::arg("c"), py::arg("nearest") = false,
          "The volume moved by tx, ty, tz and turned by a, b, c radians about x, y, z, as float32.");
    m.def("colourmap", &colourmap, py::arg("image"),
          "Slice 0 as an RGB picture; a 2-channel vector field as grey vector lengths.");
    m.def("to_bytes", &toBytes, py::arg("image"), "The first frame mapped through its range onto uint8 0..255.");

    m.def(
        "set_threads",
        [](int count) {
            if (count < 0) throw py::value_error("the thread count must be 0 (the default) or more");
            KVEL::setThreadCount(count);
        },
        py::arg("count"), "Threads each operation may use; 0 restores the default.");
    m.def("threads", &KVEL::threadCount, "Threads each operation may use.");
}
