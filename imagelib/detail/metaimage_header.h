#pragma once

// The MetaImage header: key = value lines up to ElementDataFile, which is
// always the last key (the data, or the list of data files, follow it).

#include "imagelib/detail/byte_source.h"
#include "imagelib/space.h"

#include <string>
#include <vector>

namespace KVEL {

struct ElementTypeName {
    const char* name;
    int glType;
};
extern const ElementTypeName kElementTypeNames[8];

// The POSIX dirname (directory) or basename of path.
std::string pathPart(const std::string& path, bool directory);

// Beyond this a channel count is a hostile header, not an image.
constexpr int kMaxChannels = 256;

struct MetaHeader {
    enum class Data { kNone, kFile, kLocal, kList };

    int dims = 0;
    int size[4] = {1, 1, 1, 1};
    float spacing[4] = {1, 1, 1, 1};
    float position[3] = {0, 0, 0};  // ImagePositionPatient
    float offset[4] = {0, 0, 0, 0};  // Offset or Origin, else Position
    bool hasPosition = false;
    bool hasOffset = false;
    // TransformMatrix (or Rotation, Orientation): the index axes' directions,
    // axis 0's first, as the toolkits write them; else AnatomicalOrientation.
    double matrix[16] = {};
    bool hasMatrix = false;
    std::string anatomical;
    int channels = 1;
    long long headerSize = 0;
    bool bigEndian = false;
    bool compressed = false;
    long long compressedSize = -1;  // -1: the stream runs to the end of the data
    int glType = 0;
    Data data = Data::kNone;
    std::string dataFile;
    // LIST: one file per chunk of listDims dimensions.
    int listDims = 0;
    std::vector<std::string> listFiles;
};

// Reads the header from source up to the end of the ElementDataFile line (and
// the LIST names after it). False with the line to print in why; unknown keys
// only warn, on standard output. name is the header's name in messages.
bool parseMetaHeader(ByteSource& source, const std::string& name, MetaHeader& header, std::string& why);

// Writes NAME.mhd (headerName ends in it) and NAME.raw with the header the
// single-file writer uses: 0 on success, 1 on failure, both files as they
// were after a failure.
int writeSplitMetaImage(const std::string& headerName, Image& image);

// The header's direction of the x, y and z index axes in LPS; false with why
// when it is not orthonormal or names no axes.
bool metaDirection(const MetaHeader& header, Matrix3& direction, std::string& why);

}  // namespace KVEL
