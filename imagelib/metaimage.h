#pragma once

// MetaImage files (a ".mhd" text header and a ".raw" element file) and a
// directory listing helper.

#include "imagelib/imagebase.h"

#include <string>
#include <vector>

namespace KVEL {

// A new image (owned by the caller) or null. A name ending in ".bmp" is read
// as a BMP picture.
Image* readMetaImage(const char* fileName);
// Writes baseName.mhd and baseName.raw: 0 on success, 1 when the header
// cannot be created.
int writeMetaImage(const char* baseName, Image* image);
// Appends every file below path (or path itself when it is no directory).
void listFiles(const std::string& path, std::vector<std::string>& files, bool recursive);

}  // namespace KVEL
