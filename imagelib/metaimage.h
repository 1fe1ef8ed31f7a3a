#pragma once

// MetaImage files (a ".mhd" text header and a ".raw" element file) and a
// directory listing helper.

#include <kvel/imagebase.h>

#include <string>
#include <vector>

namespace KVEL {

// A new image (owned by the caller) or null. A name ending in ".bmp" is read
// as a BMP picture.
KVEL_API Image* readMetaImage(const char* fileName);
// Writes baseName.mhd and baseName.raw: 0 on success, 1 when the header
// cannot be created.
KVEL_API int writeMetaImage(const char* baseName, Image* image);
// Appends every file below path (or path itself when it is no directory).
KVEL_API void listFiles(const std::string& path, std::vector<std::string>& files, bool recursive);

}  // namespace KVEL
