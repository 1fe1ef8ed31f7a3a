#pragma once

#include "bridge.h"

namespace kvelpy {

// Any file the library reads; kvel.FileError when it cannot be opened.
// slices: None, or a slice of z slices (no step, no negative bounds).
ImagePtr read(const py::object& path, const std::string& series, const py::object& slices);

// In the format its extension names; spacing, position and direction, when
// given, replace the image's in the file.
void write(const py::object& path, const py::handle& imageOrArray, const py::object& spacing,
           const py::object& position, const py::object& direction);

// What the file holds, read without its elements where the format allows;
// see kvel.read_header.
py::dict readHeader(const py::object& path, const std::string& series);

}  // namespace kvelpy
