#pragma once

// The table's operations as module functions under the tool's names, and
// to_bytes. Each takes kvel.Images or numpy arrays and returns a new image;
// bad arguments raise ValueError or TypeError before the library is called.

#include "bridge.h"

namespace kvelpy {

void defineOperations(py::module_& m);

}  // namespace kvelpy
