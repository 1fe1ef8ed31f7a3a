#pragma once

// MetaImage files and a directory listing helper. Read: a ".mhd" header with
// its data file (ElementDataFile names it, relative to the header's folder),
// a single ".mha" file (ElementDataFile = LOCAL: the data follow the header),
// a LIST of one file per slice, raw or zlib-compressed (CompressedData).

#include <kvel/imagebase.h>

#include <cstddef>
#include <string>
#include <vector>

namespace KVEL {

// A new image (owned by the caller) or null, with one line saying why. A name
// ending in ".bmp" is read as a BMP picture.
KVEL_API Image* readMetaImage(const char* fileName);
// The same from memory: header holds the header (and for LOCAL the data after
// it); data holds what the header's data files would (null when it names
// none; for a LIST, the files one after another). Nothing is opened.
KVEL_API Image* readMetaImage(const void* header, std::size_t headerSize, const void* data, std::size_t dataSize);
// Writes baseName.mhd and baseName.raw: 0 on success, 1 on failure. Either
// writer leaves the previous files as they were when it fails.
KVEL_API int writeMetaImage(const char* baseName, Image* image);
// Writes the single-file form (ElementDataFile = LOCAL, usually named ".mha")
// as the common imaging toolkits do, the data zlib-compressed when asked: 0 on
// success, 1 on failure.
KVEL_API int writeMetaImageFile(const char* fileName, Image* image, bool compress);
// Appends every file below path (or path itself when it is no directory).
KVEL_API void listFiles(const std::string& path, std::vector<std::string>& files, bool recursive);

}  // namespace KVEL
