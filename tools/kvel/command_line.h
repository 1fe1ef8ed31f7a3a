#pragma once

// An operation's command line turned into the table's values: images read
// from their files, numbers parsed strictly, kernels read from text files.

#include <memory>
#include <string>
#include <vector>

#include "operations/operation.h"

struct ParsedCommand {
    kvelops::Values values;
    std::vector<kvelops::ImagePtr> images;  // owned here; values point at them
    std::string firstImage;                 // the name refusals are reported under
    std::string output;                     // empty when the operation writes no image
    std::string series;                     // --series: the series read from DICOM folders
};

// Throws a usage Failure for text that does not fit the operation.
ParsedCommand parseCommand(const kvelops::Operation& op, std::vector<std::string> args);
