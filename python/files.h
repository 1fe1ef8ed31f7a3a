#pragma once

#include "bridge.h"

namespace kvelpy {

// Any file the library reads; kvel.FileError when it cannot be opened.
ImagePtr read(const py::object& path, const std::string& series);

// In the format its extension names; spacing and position, when given,
// replace the image's in the file.
void write(const py::object& path, const py::handle& imageOrArray, const py::object& spacing,
           const py::object& position);

}  // namespace kvelpy
