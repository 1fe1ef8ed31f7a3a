#pragma once

#include <kvel/imagebase.h>

#include <ostream>
#include <string>

// One block describing the image: file format, element type, extents, channels, spacing,
// position and each channel's smallest and largest value.
void printInfo(std::ostream& out, const std::string& name, const std::string& format, KVEL::Image& image);

// The series a DICOM file or folder holds, one line each; nothing for other files.
void printSeries(std::ostream& out, const std::string& path);
