#pragma once

// The text of an ITK transform file read in memory; `name` is how refusals
// name it. Null with the reason recorded (see readTransform).

#include "imagelib/registration.h"

#include <optional>
#include <string>

namespace KVEL {

std::optional<Transform> parseTransform(const std::string& text, const std::string& name);

}  // namespace KVEL
