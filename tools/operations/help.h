#pragma once

// The help texts of both front ends, made from the table so that they agree.

#include <string>
#include <vector>

#include "operation.h"

namespace kvelops {

// "rigid TX TY TZ A B C IN OUT [--nearest]": the tool's arguments after `kvel`.
std::string toolUsage(const Operation& op);
// The usage line, the summary and one line per argument.
std::string toolHelp(const Operation& op);

// The module's parameters: images first, then the other positional ones,
// then the named ones (keyword-only); indices into op.arguments.
std::vector<std::size_t> moduleOrder(const Operation& op);
// "downsample(image, fx, fy, fz=1, ft=1) -> kvel.Image", the summary and one line per argument.
std::string moduleDoc(const Operation& op);

}  // namespace kvelops
