#pragma once

// One entry point for every image file the library reads and writes. A file
// is read by what its first bytes say it is, whatever its name; it is written
// in the format its name's extension gives. Through this entry point every
// picture has row 0 at the top and its colour channels in the order red,
// green, blue(, alpha), whatever order the file stores them in.

#include <kvel/imagebase.h>

#include <cstddef>
#include <string>
#include <vector>

namespace KVEL {

enum class FileFormat { kUnknown, kBmp, kMetaImage, kPng, kJpeg, kTiff, kNifti, kNrrd, kDicom };

struct WriteOptions {
    int quality = 95;      // JPEG quality, 1 to 100
    bool compress = true;  // deflate where the format allows it (.mha, .nii.gz is always compressed)
};

// "BMP", "MetaImage", "PNG", ...; "unknown" for kUnknown.
KVEL_API const char* formatName(FileFormat format);
// What the bytes (a file's first bytes are enough) are; kUnknown when nothing fits.
KVEL_API FileFormat formatOf(const void* bytes, std::size_t size);
// The same for a file's first bytes; kUnknown when it cannot be read.
KVEL_API FileFormat formatOfFile(const char* path);
// The format writeImage picks for this name: by extension, case ignored.
KVEL_API FileFormat formatForName(const char* path);

struct DicomSeries {
    std::string uid;          // SeriesInstanceUID
    std::string description;  // SeriesDescription
    int slices = 0;           // frames of all its files
    int width = 0, height = 0;
};

struct ReadOptions {
    // The SeriesInstanceUID to read from a DICOM folder; empty: the series
    // with the most slices (a notice names the others).
    std::string series;
    // The z slices firstSlice to firstSlice + sliceCount - 1 of every frame;
    // a count of -1: to the last. Position moves to the first slice read.
    // TIFF pages and DICOM slices outside them are not decoded; other
    // formats are decoded whole and cut.
    int firstSlice = 0;
    int sliceCount = -1;
    // When set, receives every image series of a DICOM folder read, as
    // listDicomSeries has them, from the same scan of the folder.
    std::vector<DicomSeries>* seriesFound = nullptr;
};

// A new image (owned by the caller) or null, with the reason in lastError().
// A folder is read as DICOM: its files and sub-folders, grouped by series.
KVEL_API Image* readImage(const char* path);
KVEL_API Image* readImage(const char* path, const ReadOptions& options);
KVEL_API Image* readImage(const void* bytes, std::size_t size);

// Every image series below a folder, the one readImage picks first; empty
// with the reason in lastError() when it holds none.
KVEL_API std::vector<DicomSeries> listDicomSeries(const char* folder);

// 0 on success, 1 on failure (reason in lastError()). An image the format
// cannot hold is refused, never converted. A failed write leaves any
// previous file of that name as it was.
KVEL_API int writeImage(const char* path, Image* image, const WriteOptions& options = WriteOptions());

// What a file holds, read without its elements where the headers tell it
// (MetaImage, NIfTI, NRRD, TIFF, DICOM; a compressed .nii.gz or .hdr/.img
// pair and any other format are decoded whole to learn it).
struct ImageHeader {
    FileFormat format = FileFormat::kUnknown;
    int glType = 0;
    int dim[4] = {1, 1, 1, 1};
    int channels = 1;
    float spacing[4] = {1, 1, 1, 1};
    float position[3] = {0, 0, 0};
    double direction[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};  // as Image::m_direction
    // Set when the elements lie in dataFile uncompressed and unscaled, in x,
    // y, z, t order with channels interleaved, from byte dataOffset on, so
    // that they can be mapped into memory as they are; empty otherwise.
    std::string dataFile;
    long long dataOffset = 0;
    bool bigEndian = false;
};

// 0 on success, 1 on failure (reason in lastError()). The options pick a
// DICOM folder's series as for readImage.
KVEL_API int readHeader(const char* path, ImageHeader& header, const ReadOptions& options = ReadOptions());

}  // namespace KVEL
