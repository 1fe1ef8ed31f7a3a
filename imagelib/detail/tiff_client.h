#pragma once

// libtiff over bytes in memory (reading) and over an open stream (writing).
// Each handle keeps libtiff's first error for the caller and swallows its
// warnings: the process-wide handlers, which print on standard error and
// are not thread-safe to change, are never reached.

#include <tiffio.h>

#include <cstdio>
#include <memory>
#include <string>

namespace KVEL {

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

// What a handle reads from or writes to, and what libtiff said. It must
// outlive the handle.
struct TiffClient {
    const unsigned char* bytes = nullptr;  // reading: the whole file
    toff_t size = 0;
    toff_t position = 0;
    std::FILE* file = nullptr;  // writing, or reading a file
    bool failed = false;        // a write or seek on file failed
    std::string error;          // libtiff's first error, "" when none
};

// Null when libtiff cannot parse the header; the reason is in client.error.
// No single allocation inside libtiff may exceed maxAllocation bytes.
Tiff openTiffBytes(TiffClient& client, const unsigned char* bytes, std::size_t size, tmsize_t maxAllocation);
// Reading from an open file: libtiff reads only the bytes it needs.
Tiff openTiffFile(TiffClient& client, std::FILE* file, tmsize_t maxAllocation);
// bigTiff for images whose data would pass the classic format's 4 GiB.
Tiff openTiffStream(TiffClient& client, std::FILE* file, bool bigTiff);

struct WriteOptions;
class Image;
// The TIFF codec's writer: 0, or 1 with the reason reported.
int writeTiffFile(const std::string& path, Image& image, const WriteOptions& options);

}  // namespace KVEL
