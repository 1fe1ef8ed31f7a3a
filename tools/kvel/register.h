#pragma once

// kvel register: outside the operation table, because it reports progress
// and parameters as it goes and its Python form returns a transform.

#include <string>
#include <vector>

int registerCommand(std::vector<std::string> args);
