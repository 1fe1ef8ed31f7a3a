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
    // For formats that decode only the z slices the options ask for; null:
    // the whole image is decoded and cut.
    Image* (*readSlab)(const std::string& path, const ReadOptions& options);
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
bool readNrrdFileHeader(const std::string& path, ImageHeader& header);
bool readTiffFileHeader(const std::string& path, ImageHeader& header);
// A DICOM file, or a folder's series picked as for readImage.
bool readDicomFileHeader(const std::string& path, const ReadOptions& options, ImageHeader& header);
// Element type, extents, channels, spacing, position and direction of an
// image (placed by a full reader's own code, with or without elements).
void describeImage(const Image& image, ImageHeader& header);
extern const Codec kDicomCodec;

// A DICOM folder: the series of options.series, or the largest when that is
// empty; only the slices the options ask for.
Image* readDicomFolder(const std::string& folder, const ReadOptions& options);
std::vector<DicomSeries> listSeriesIn(const std::string& folder);

// Whether the options ask for every slice.
bool isWholeSlab(const ReadOptions& options);
// The options' slices within an image of depth slices: first and count (a
// count of -1 resolved); false with the reason reported when they are not
// all there.
bool slabWithin(const ReadOptions& options, int depth, const std::string& name, int& first, int& count);
// Slices first to first + count - 1 of every frame, placed where they lie in
// the whole image; null with the reason reported.
Image* cutSlab(Image& whole, int first, int count);

// Refuses an image a format cannot hold, in one wording for every format:
// "Error: a PNG file holds WHAT, not a W x H x D x T image of C channels of MET_... (NAME)".
void refuseImage(const char* format, const std::string& holds, const Image& image, const std::string& name);

// Swaps the first and third channel of every pixel of 3- and 4-channel bytes:
// BMP's blue-first order to red-first and back.
void swapRedBlue(unsigned char* data, std::size_t pixels, int channels);

}  // namespace KVEL
