#pragma once

#include <kvel/image_file.h>

#include <ostream>
#include <string>

// One block describing the file: format, element type, extents, channels,
// spacing, position, direction, where raw elements lie in one piece, and,
// given the image, each channel's smallest and largest value.
void printInfo(std::ostream& out, const std::string& name, const KVEL::ImageHeader& header, KVEL::Image* image);
// The series a DICOM file or folder holds, one line each; nothing for other files.
void printSeries(std::ostream& out, const std::string& path);
