#pragma once

// What every part of the Python module shares: numpy arrays and KVEL images
// in both directions, and the failures it raises.

#include <kvel/imagebase.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvelpy {

namespace py = pybind11;
using ImagePtr = std::unique_ptr<KVEL::Image>;

// The library refused a call: kvel.Error carrying its reason. `where` is the
// file name or the operation.
struct LibraryError : std::runtime_error {
    LibraryError(const std::string& where, const std::string& reason)
        : std::runtime_error(where + ": " + reason), where(where), reason(reason) {}
    std::string where, reason;
};

// A file that cannot be opened: kvel.FileError, an OSError with this errno.
struct FileError : std::runtime_error {
    FileError(int error, const std::string& path) : std::runtime_error(path), error(error), path(path) {}
    int error;
    std::string path;
};

// A new image that owns a copy of the array's (or array-like's) elements, laid out as
// Image.array shows them. `channels` 0 takes a last axis of 1 to 4 elements
// of a 3-D or 4-D array as channels; 1 means no channel axis; more means the
// last axis holds that many. Raises TypeError / ValueError for what no image
// can hold.
ImagePtr imageFromArray(const py::object& array, int channels);

// The numpy element type of a library element type.
py::dtype dtypeOfGlType(int glType);

// Axes in numpy order, slowest first, of extents x, y, z, t (at least two
// axes; z and t only when above 1), channels last when more than one.
std::vector<py::ssize_t> shapeOf(const int* dim, int channels);
// 2, 3 or 4: the axes shapeOf gives besides the channels.
int axisCount(const int* dim);

// The image's elements as a numpy array over its own buffer; `owner` (the
// Python Image) stays alive as long as the array.
py::array arrayView(KVEL::Image& image, py::handle owner);

// Spacing (x, y, z, t) and position (x, y, z) as tuples of as many numbers as
// the image has axes (position at most 3), the direction as a 3 x 3 array
// whose columns are the x, y and z axes' directions in LPS; None leaves them
// as they are. A direction that is not orthonormal is a ValueError.
py::tuple spacingOf(const KVEL::Image& image);
py::tuple positionOf(const KVEL::Image& image);
py::array directionOf(const KVEL::Image& image);
void setGeometry(KVEL::Image& image, const py::object& spacing, const py::object& position,
                 const py::object& direction);

// The image an operation reads: a header of its own over the caller's
// elements (an Image's buffer or a numpy array's), so that concurrent calls on
// one image share no cursor or window. Made and destroyed with the GIL held.
class Source {
public:
    explicit Source(const py::handle& imageOrArray);
    KVEL::Image& image() { return *m_image; }
    // A copy owning its elements, for operations that change their image.
    ImagePtr copy() const;
    // The header itself, once an operation gave it a buffer of its own
    // (ownsNewBuffer); the Source is done with then.
    ImagePtr take() { return std::move(m_image); }

private:
    py::object m_keep;  // whatever owns the elements m_image reads
    ImagePtr m_image;
};

// Turning and padding give their image a new buffer and let go of the old
// one, never freeing a buffer the image does not own. True when `image` (a
// Source's header) got a new buffer that way: it is then marked as its owner.
bool ownsNewBuffer(KVEL::Image& image, const void* before);

// A new empty image of the element type (no output for the library to print).
ImagePtr newImage(int glType);

}  // namespace kvelpy
