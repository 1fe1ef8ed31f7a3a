#pragma once

#include <kvel/image_file.h>

#include <ostream>
#include <string>
#include <vector>

// One block describing the file: format, element type, extents, channels,
// spacing, position, direction, where raw elements lie in one piece, and,
// given the image, each channel's smallest and largest value.
void printInfo(std::ostream& out, const std::string& name, const KVEL::ImageHeader& header, KVEL::Image* image);
// The series of a DICOM folder, one line each; nothing when there are none.
void printSeries(std::ostream& out, const std::vector<KVEL::DicomSeries>& series);
