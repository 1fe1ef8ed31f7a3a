// kvel.read and kvel.write: the library's one entry point for files, with a
// file that cannot be opened told apart from one the library refuses.

#include "files.h"

#include "operations/operation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <kvel/image_file.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

namespace kvelpy {

namespace {

// The name as the operating system sees it (str, bytes or os.PathLike).
std::string fileName(const py::object& path) {
    return py::module_::import("os").attr("fsencode")(path).cast<std::string>();
}

std::string shown(const std::string& name) {
    return py::module_::import("os").attr("fsdecode")(py::bytes(name)).cast<std::string>();
}

// A folder is read as a DICOM series.
void checkReadable(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw FileError(errno, shown(name));
    ::close(fd);
}

// The folder must let us create the file; an existing folder of that name
// cannot be replaced by it.
void checkWritable(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0) throw FileError(errno, shown(name));
    if (!S_ISDIR(info.st_mode)) throw FileError(ENOTDIR, shown(name));
    if (::access(folder.c_str(), W_OK | X_OK) != 0) throw FileError(errno, shown(name));
    if (::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) throw FileError(EISDIR, shown(name));
}

// The z slices a Python slice names: start (0 when None) and a count (-1,
// to the last, when stop is None).
void setSlab(const py::object& slices, KVEL::ReadOptions& options) {
    if (slices.is_none()) return;
    if (!py::isinstance<py::slice>(slices)) throw py::type_error("slices must be a slice, such as slice(4, 8), or None");
    const auto bound = [&](const char* which) -> long long {
        const py::object value = slices.attr(which);
        if (value.is_none()) return -1;
        const long long n = py::cast<long long>(value);
        if (n < 0 || n > INT_MAX) throw py::value_error("slices count from 0 and end before 2^31: no negative bounds");
        return n;
    };
    const py::object step = slices.attr("step");
    if (!step.is_none() && py::cast<long long>(step) != 1) throw py::value_error("slices takes no step");
    const long long start = std::max(0LL, bound("start")), stop = bound("stop");
    if (stop != -1 && stop <= start) throw py::value_error("slices must hold at least one slice");
    options.firstSlice = static_cast<int>(start);
    options.sliceCount = stop == -1 ? -1 : static_cast<int>(stop - start);
}

}  // namespace

ImagePtr read(const py::object& path, const std::string& series, const py::object& slices) {
    const std::string name = fileName(path);
    KVEL::ReadOptions options{series};
    setSlab(slices, options);
    checkReadable(name);
    ImagePtr image;
    {
        py::gil_scoped_release release;
        image.reset(KVEL::readImage(name.c_str(), options));
    }
    if (!image) throw LibraryError(shown(name), kvelops::libraryReason("not an image file KVEL can read"));
    image->m_verbose = 0;
    return image;
}

py::dict readHeader(const py::object& path, const std::string& series) {
    const std::string name = fileName(path);
    checkReadable(name);
    KVEL::ImageHeader h;
    int status;
    {
        py::gil_scoped_release release;
        status = KVEL::readHeader(name.c_str(), h, KVEL::ReadOptions{series});
    }
    if (status != 0) throw LibraryError(shown(name), kvelops::libraryReason("not an image file KVEL can read"));
    const int axes = axisCount(h.dim);
    py::tuple spacing(axes), position(std::min(axes, 3)), direction(3);
    for (int i = 0; i < axes; ++i) spacing[i] = h.spacing[i];
    for (int i = 0; i < std::min(axes, 3); ++i) position[i] = h.position[i];
    for (int r = 0; r < 3; ++r) direction[r] = py::make_tuple(h.direction[r][0], h.direction[r][1], h.direction[r][2]);
    py::dict header;
    header["format"] = KVEL::formatName(h.format);
    header["shape"] = py::tuple(py::cast(shapeOf(h.dim, h.channels)));
    header["dtype"] = dtypeOfGlType(h.glType);
    header["channels"] = h.channels;
    header["spacing"] = spacing;
    header["position"] = position;
    header["direction"] = direction;
    header["data_file"] = h.dataFile.empty() ? py::object(py::none()) : py::object(py::str(shown(h.dataFile)));
    header["offset"] = h.dataOffset;
    header["byte_order"] = h.bigEndian ? ">" : "<";
    return header;
}

void write(const py::object& path, const py::handle& imageOrArray, const py::object& spacing,
           const py::object& position, const py::object& direction) {
    const std::string name = fileName(path);
    if (KVEL::formatForName(name.c_str()) == KVEL::FileFormat::kUnknown) {
        throw py::value_error("no image format for the name " + shown(name) +
                              " (the extension names it: .bmp, .mha, .mhd, ...)");
    }
    Source source(imageOrArray);
    KVEL::Image& image = source.image();
    setGeometry(image, spacing, position, direction);
    checkWritable(name);
    int status;
    {
        py::gil_scoped_release release;
        status = KVEL::writeImage(name.c_str(), &image);
    }
    if (status != 0) throw LibraryError(shown(name), kvelops::libraryReason("cannot be written"));
}

}  // namespace kvelpy
