#pragma once

// Reading images of every format the library knows (recognised by their first
// bytes) and writing them in the format of the name's extension.

#include <kvel/imagebase.h>

#include <memory>
#include <string>
#include <vector>

// Throws a usage Failure for a name no format is chosen by.
void checkImageFileName(const std::string& path);

// Takes "--series UID" out of a command's arguments: the series every DICOM
// folder among its inputs is read from. Empty when not given.
std::string takeSeries(std::vector<std::string>& args);

// The image with its range and channel windows computed, progress messages off.
// A DICOM folder gives the series of that UID, or its largest (standard
// error then names how many others there are).
std::unique_ptr<KVEL::Image> readImage(const std::string& path, const std::string& series = "");

// The name of the format a file's first bytes show.
std::string imageFormatName(const std::string& path);

// A failed write leaves any previous file as it was. Formats of pictures
// (.bmp, .jpg, and .png beyond 16-bit unsigned) get 8-bit channels: other
// element types go through the channel windows, as toBytes maps them.
void writeImage(KVEL::Image& image, const std::string& path);
