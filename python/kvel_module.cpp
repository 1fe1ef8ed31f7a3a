// The kvel Python module: images as numpy arrays, the library's files and
// the kvel tool's operations. Nothing is printed; refusals raise kvel.Error.

#include <kvel/build_info.h>
#include <kvel/errors.h>
#include <kvel/threads.h>
#include <pybind11/stl.h>

#include <cstring>
#include <optional>

#include "bridge.h"
#include "files.h"
#include "operations.h"
#include "registration.h"

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

PYBIND11_MODULE(_kvel, m) {
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
               std::optional<int> channels, const py::object& direction) {
                if (channels && *channels < 1) throw py::value_error("channels must be 1 or more");
                ImagePtr image = imageFromArray(array, channels.value_or(0));
                setGeometry(*image, spacing, position, direction);
                return image;
            },
            py::arg("array"), py::arg("spacing") = py::none(), py::arg("position") = py::none(), py::kw_only(),
            py::arg("channels") = py::none(), py::arg("direction") = py::none(),
            R"doc(A new image holding a copy of the array's elements.

Axes as Image.array shows them: (height, width[, channels]),
(depth, height, width[, channels]) or (frames, depth, height, width[, channels]).
A last axis of at most 4 elements in a 3- or 4-axis array is taken as channels;
channels=1 says there is none, channels=n that the last axis holds n.
spacing is (x, y[, z[, t]]), position (x, y[, z]), direction a 3 x 3 matrix
whose columns are the x, y and z axes' directions in LPS (identity by default).)doc")
        .def_property_readonly(
            "array", [](const py::object& self) { return arrayView(self.cast<KVEL::Image&>(), self); },
            "The elements as a numpy array over the image's own buffer (no copy), slowest axis first.")
        .def_property_readonly("spacing", &spacingOf, "Voxel size in x, y(, z(, t)) order.")
        .def_property_readonly("position", &positionOf, "Position of the first voxel in x, y(, z) order.")
        .def_property_readonly("direction", &directionOf,
                               "The x, y and z axes' directions as the columns of a 3 x 3 array, in LPS "
                               "(x to the patient's left, y to posterior, z up).")
        .def_property_readonly(
            "channels", [](const KVEL::Image& image) { return image.m_channels; }, "Interleaved channels per voxel.")
        .def("__repr__", &describe);

    m.def("read", &kvelpy::read, py::arg("path"), py::arg("series") = "", py::arg("slices") = py::none(),
          "The image in the file, in any format KVEL reads; a folder is read as DICOM, its largest series\n"
          "or the one whose SeriesInstanceUID is series. slices=slice(first, stop) reads only those z slices\n"
          "(position moved to the first): a TIFF decodes only those pages, a DICOM series only those\n"
          "slices' files; other formats are decoded whole and cut.");
    m.def("read_header", &kvelpy::readHeader, py::arg("path"), py::arg("series") = "",
          "What the file holds, as a dict: format, shape and dtype as Image.array would show them, channels,\n"
          "spacing, position, direction (columns: the index axes x, y, z in LPS). data_file, offset and\n"
          "byte_order say where the elements lie raw in one piece (MetaImage, uncompressed NIfTI and NRRD),\n"
          "so that they can be mapped (data_file None otherwise). MetaImage, NIfTI, NRRD and DICOM elements\n"
          "are not read (a compressed NIfTI is); series picks a DICOM folder's series as for read.");
    m.def("write", &kvelpy::write, py::arg("path"), py::arg("image"), py::arg("spacing") = py::none(),
          py::arg("position") = py::none(), py::arg("direction") = py::none(),
          "Writes an Image or an array in the format the file name's extension names. A format that cannot\n"
          "hold the image refuses it (kvel.Error): kvel.to_bytes makes 8-bit pictures of other element types.");

    // First, so that resample with a kvel.Transform is tried before the table's form with a file.
    addRegistration(m);
    {
        // Their docstrings open with the signature the table gives.
        py::options options;
        options.disable_function_signatures();
        defineOperations(m);
    }

    m.def(
        "set_threads",
        [](int count) {
            if (count < 0) throw py::value_error("the thread count must be 0 (the default) or more");
            KVEL::setThreadCount(count);
        },
        py::arg("count"), "Threads each operation may use; 0 restores the default.");
    m.def("threads", &KVEL::threadCount, "Threads each operation may use.");
    m.def(
        "build_info",
        [] {
            const KVEL::BuildInfo info = KVEL::buildInfo();
            py::dict d;
            d["build_type"] = info.buildType;
            d["compile_flags"] = info.compileFlags;
            d["optimised"] = info.optimised;
            return d;
        },
        "How the library inside this module was compiled: build_type, compile_flags, optimised.");
}
