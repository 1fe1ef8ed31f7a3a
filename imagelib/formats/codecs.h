#pragma once

// The file formats behind the one entry point. Each format's file defines its
// Codec; image_file.cpp lists them. Decoders take the whole file in memory,
// encoders write a whole file to an open stream; both report why they refuse
// (reportFailure) and return null / false.

#include "imagelib/image_file.h"

#include <cstddef>
#include <cstdio>
#include <string>

namespace KVEL {

struct Codec {
    FileFormat format;
    const char* name;
    // Lower-case file name endings that select this format for writing.
    const char* const* extensions;
    // Whether a file starting with these bytes is of this format; size may be
    // just the first few hundred bytes of a longer file.
    bool (*recognise)(const unsigned char* bytes, std::size_t size);
    Image* (*decode)(const unsigned char* bytes, std::size_t size, const std::string& name);
    // For formats that read files beside the named one; null: the file's
    // bytes go to decode.
    Image* (*readFile)(const std::string& path);
    // Null for formats that write through writeFile.
    bool (*encode)(std::FILE* out, Image& image, const WriteOptions& options, const std::string& name);
    // For formats whose writers place their own files; null: encode into one file.
    int (*writeFile)(const std::string& path, Image& image, const WriteOptions& options);
};

extern const Codec kPngCodec;
extern const Codec kJpegCodec;
extern const Codec kBmpCodec;
extern const Codec kMetaImageCodec;
extern const Codec kTiffCodec;
extern const Codec kNiftiCodec;
extern const Codec kNrrdCodec;

// Beyond this a header describing elements to be mapped in parts is hostile.
constexpr long long kMaxDescribedElements = 1LL << 48;

// The header-only readers behind readHeader: false with the reason reported.
bool readMetaImageHeader(const std::string& path, ImageHeader& header);
bool readNiftiFileHeader(const std::string& path, ImageHeader& header);
// Element type, extents, channels, spacing, position and direction of an
// image (placed by a full reader's own code, with or without elements).
void describeImage(const Image& image, ImageHeader& header);
extern const Codec kDicomCodec;

// A DICOM folder: the series options.series names, or the largest when it is empty.
Image* readDicomFolder(const std::string& folder, const ReadOptions& options);
std::vector<DicomSeries> listSeriesIn(const std::string& folder);

// Refuses an image a format cannot hold, in one wording for every format:
// "Error: a PNG file holds WHAT, not a W x H x D x T image of C channels of MET_... (NAME)".
void refuseImage(const char* format, const std::string& holds, const Image& image, const std::string& name);

// Swaps the first and third channel of every pixel of 3- and 4-channel bytes:
// BMP's blue-first order to red-first and back.
void swapRedBlue(unsigned char* data, std::size_t pixels, int channels);

}  // namespace KVEL
