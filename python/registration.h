#pragma once

// kvel.register, kvel.Transform, kvel.read_transform and kvel.resample.

#include "bridge.h"

namespace kvelpy {

void addRegistration(py::module_& m);

}  // namespace kvelpy
