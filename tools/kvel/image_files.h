#pragma once

// Reading and writing images by file name extension: .bmp, .mhd (with its
// .raw) and .mha.

#include <kvel/imagebase.h>

#include <memory>
#include <string>

// Throws a usage Failure for a name with any other extension.
void checkImageFileName(const std::string& path);

// The image with its range and channel windows computed, progress messages off.
std::unique_ptr<KVEL::Image> readImage(const std::string& path);

// Writes beside the target under temporary names, then renames, so a failure
// never leaves a half-written file. A .bmp gets 8-bit channels: other element
// types go through the channel windows, as toBytes maps them.
void writeImage(KVEL::Image& image, const std::string& path);
