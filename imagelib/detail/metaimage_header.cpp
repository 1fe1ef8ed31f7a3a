#include "imagelib/detail/metaimage_header.h"

#include "imagelib/imagebase.h"
#include "imagelib/detail/grid_axes.h"
#include "imagelib/detail/messages.h"

#include <libgen.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace KVEL {

const ElementTypeName kElementTypeNames[8] = {
    {"MET_UCHAR", kGlUnsignedByte}, {"MET_CHAR", kGlByte},        {"MET_USHORT", kGlUnsignedShort},
    {"MET_SHORT", kGlShort},        {"MET_UINT", kGlUnsignedInt}, {"MET_INT", kGlInt},
    {"MET_FLOAT", kGlFloat},        {"MET_DOUBLE", kGlDouble},
};

std::string pathPart(const std::string& path, bool directory) {
    std::vector<char> copy(path.begin(), path.end());
    copy.push_back('\0');
    return directory ? dirname(copy.data()) : basename(copy.data());
}

namespace {

// The line this reader has always printed for an element type it lacks.
const char kUnknownType[] = "Unknown MetaImage data type!";

// A header line longer than this is no header.
constexpr std::size_t kMaxLine = 1 << 16;

std::string compact(std::string s) {
    s.erase(std::remove_if(s.begin(), s.end(), [](unsigned char c) { return std::isspace(c); }), s.end());
    return s;
}

// False at the end of the source (or with why set for an overlong line).
bool readLine(ByteSource& source, std::string& line, std::string& why) {
    line.clear();
    int c = source.get();
    if (c < 0) return false;
    for (; c >= 0 && c != '\n'; c = source.get()) {
        if (line.size() == kMaxLine) {
            why = "a line longer than " + std::to_string(kMaxLine) + " bytes";
            return false;
        }
        line.push_back(static_cast<char>(c));
    }
    return true;
}

template <class V>
bool readNumbers(const std::string& value, V* out, int count) {
    std::istringstream in(value);
    for (int i = 0; i < count; ++i) {
        if (!(in >> out[i])) return false;
    }
    return true;
}

bool isTrue(const std::string& value) {
    const std::string v = compact(value);
    return v == "True" || v == "1";
}

// Each handler stores its value or returns the reason for refusing the file.
using KeyHandler = std::string (*)(const std::string& value, MetaHeader& h);

std::string readNDims(const std::string& v, MetaHeader& h) {
    if (!readNumbers(v, &h.dims, 1)) return "unreadable NDims value";
    if (h.dims < 0 || h.dims > 4) return "NDims " + std::to_string(h.dims) + " is not between 0 and 4";
    return "";
}

std::string readDimSize(const std::string& v, MetaHeader& h) {
    if (!readNumbers(v, h.size, h.dims)) return "unreadable DimSize value";
    for (int i = 0; i < h.dims; ++i) {
        if (h.size[i] <= 0) return "DimSize " + std::to_string(h.size[i]) + " is not positive";
    }
    return "";
}

std::string readSpacing(const std::string& v, MetaHeader& h) {
    return readNumbers(v, h.spacing, h.dims) ? "" : "unreadable ElementSpacing value";
}

std::string readOffset(const std::string& v, MetaHeader& h) {
    h.hasOffset = true;
    return readNumbers(v, h.offset, h.dims) ? "" : "unreadable Offset value";
}

// Position is a third name for the offset, the one the others lose to.
std::string readPositionKey(const std::string& v, MetaHeader& h) {
    if (h.hasOffset) return "";
    return readNumbers(v, h.offset, h.dims) ? "" : "unreadable Position value";
}

std::string readMatrix(const std::string& v, MetaHeader& h) {
    h.hasMatrix = true;
    return readNumbers(v, h.matrix, h.dims * h.dims) ? "" : "unreadable TransformMatrix value";
}

std::string readAnatomical(const std::string& v, MetaHeader& h) {
    h.anatomical = compact(v);
    return "";
}

std::string readPatientPosition(const std::string& v, MetaHeader& h) {
    h.hasPosition = true;
    return readNumbers(v, h.position, 3) ? "" : "unreadable ImagePositionPatient value";
}

std::string readByteOrder(const std::string& v, MetaHeader& h) {
    h.bigEndian = isTrue(v);
    return "";
}

std::string readCompressed(const std::string& v, MetaHeader& h) {
    h.compressed = isTrue(v);
    return "";
}

std::string readCompressedSize(const std::string& v, MetaHeader& h) {
    if (!readNumbers(v, &h.compressedSize, 1)) return "unreadable CompressedDataSize value";
    if (h.compressedSize < 0) return "CompressedDataSize " + std::to_string(h.compressedSize) + " is negative";
    return "";
}

std::string readChannels(const std::string& v, MetaHeader& h) {
    if (!readNumbers(v, &h.channels, 1)) return "unreadable ElementNumberOfChannels value";
    if (h.channels <= 0) return "ElementNumberOfChannels " + std::to_string(h.channels) + " is not positive";
    if (h.channels > kMaxChannels) {
        return "ElementNumberOfChannels " + std::to_string(h.channels) + " is above " + std::to_string(kMaxChannels);
    }
    return "";
}

std::string readElementType(const std::string& v, MetaHeader& h) {
    const std::string name = compact(v);
    for (const ElementTypeName& type : kElementTypeNames) {
        if (name == type.name) {
            h.glType = type.glType;
            return "";
        }
    }
    return kUnknownType;
}

std::string readHeaderSize(const std::string& v, MetaHeader& h) {
    if (!readNumbers(v, &h.headerSize, 1)) return "unreadable HeaderSize value";
    if (h.headerSize < -1) return "HeaderSize " + std::to_string(h.headerSize) + " is negative";
    if (h.headerSize != 0 && h.headerSize != -1) reportNotice("Warning: " + std::to_string(h.headerSize) + " bytes header");
    return "";
}

// "LIST" or "LIST nD": how many dimensions each listed file holds.
std::string readListDims(const std::string& rest, MetaHeader& h) {
    h.listDims = h.dims - 1;
    if (rest.empty()) return h.dims > 0 ? "" : "ElementDataFile LIST without NDims";
    if (rest.size() == 2 && rest[0] >= '1' && rest[0] <= '4' && (rest[1] == 'D' || rest[1] == 'd')) {
        h.listDims = rest[0] - '0';
        if (h.listDims <= h.dims) return "";
    }
    return "ElementDataFile LIST " + rest + " does not fit NDims " + std::to_string(h.dims);
}

std::string readDataFile(const std::string& v, MetaHeader& h) {
    if (!h.glType) return "ElementDataFile before ElementType";
    const std::string name = compact(v);
    if (name == "LOCAL") {
        h.data = MetaHeader::Data::kLocal;
        return "";
    }
    if (name.compare(0, 4, "LIST") == 0) {
        h.data = MetaHeader::Data::kList;
        return readListDims(name.substr(4), h);
    }
    if (name.empty()) return "empty ElementDataFile";
    if (name.find('%') != std::string::npos) return "ElementDataFile pattern " + name + " is not supported";
    h.data = MetaHeader::Data::kFile;
    h.dataFile = name;
    return "";
}

struct HeaderKey {
    const char* name;
    KeyHandler read;  // null: written by common tools, needs no action here
};
const HeaderKey kHeaderKeys[] = {
    {"NDims", readNDims},
    {"DimSize", readDimSize},
    {"ElementSpacing", readSpacing},
    {"Offset", readOffset},
    {"Origin", readOffset},
    {"ImagePositionPatient", readPatientPosition},
    {"ElementByteOrderMSB", readByteOrder},
    {"BinaryDataByteOrderMSB", readByteOrder},
    {"CompressedData", readCompressed},
    {"CompressedDataSize", readCompressedSize},
    {"ElementNumberOfChannels", readChannels},
    {"ElementType", readElementType},
    {"HeaderSize", readHeaderSize},
    {"ElementDataFile", readDataFile},
    {"Position", readPositionKey},
    {"ObjectType", nullptr},
    {"BinaryData", nullptr},
    {"TransformMatrix", readMatrix},
    {"Rotation", readMatrix},
    {"Orientation", readMatrix},
    {"CenterOfRotation", nullptr},
    {"AnatomicalOrientation", readAnatomical},
    {"ElementSize", nullptr},
    {"ElementMin", nullptr},
    {"ElementMax", nullptr},
};

// The names after "ElementDataFile = LIST": one per chunk, in order.
bool readListNames(ByteSource& source, MetaHeader& h, std::string& why) {
    long long files = 1;
    for (int i = h.listDims; i < h.dims; ++i) files *= h.size[i];
    std::string line;
    while (static_cast<long long>(h.listFiles.size()) < files && readLine(source, line, why)) {
        const std::string name = compact(line);
        if (!name.empty()) h.listFiles.push_back(name);
    }
    if (!why.empty()) return false;
    if (static_cast<long long>(h.listFiles.size()) == files) return true;
    why = "ElementDataFile LIST names " + std::to_string(h.listFiles.size()) + " of " + std::to_string(files) +
          " files";
    return false;
}

// AnatomicalOrientation names the side each axis starts from: "RAI" is
// x from right to left, y from anterior to posterior, z from inferior to
// superior, the identity in LPS.
bool anatomicalDirection(const std::string& code, int dims, Matrix3& direction) {
    static const char kFrom[] = "RAILPS";
    if (static_cast<int>(code.size()) != dims || dims < 2) return false;
    direction = {};
    bool used[3] = {};
    for (int c = 0; c < dims && c < 3; ++c) {
        const char* at = std::strchr(kFrom, std::toupper(static_cast<unsigned char>(code[c])));
        if (!at || !*at) return false;
        const int axis = static_cast<int>(at - kFrom) % 3;
        if (used[axis]) return false;
        used[axis] = true;
        direction[axis][c] = at - kFrom < 3 ? 1 : -1;
    }
    if (dims == 2) {
        for (int r = 0; r < 3; ++r) direction[r][2] = !used[r];
    }
    return true;
}

}  // namespace

bool metaDirection(const MetaHeader& h, Matrix3& direction, std::string& why) {
    direction = identityDirection();
    const int n = std::min(h.dims, 3);
    if (h.hasMatrix) {
        // Row i of the stored matrix is index axis i's direction.
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) direction[j][i] = h.matrix[i * h.dims + j];
    } else if (!h.anatomical.empty() && !anatomicalDirection(h.anatomical, h.dims, direction)) {
        direction = identityDirection();
    }
    if (checkDirection(direction, why)) return true;
    why = "TransformMatrix: " + why;
    return false;
}

bool parseMetaHeader(ByteSource& source, const std::string& name, MetaHeader& h, std::string& why) {
    why.clear();
    std::string line;
    std::string problem;
    while (problem.empty() && readLine(source, line, problem)) {
        const std::size_t eq = line.find('=');
        const std::string key = compact(line.substr(0, eq));
        if (key.empty()) continue;
        const HeaderKey* known = nullptr;
        for (const HeaderKey& k : kHeaderKeys) {
            if (key == k.name) known = &k;
        }
        if (!known || eq == std::string::npos) {
            reportNotice("Warning: Unknown keyword \"" + key + "\"");
            continue;
        }
        if (known->read) problem = known->read(line.substr(eq + 1), h);
        if (problem.empty() && h.data != MetaHeader::Data::kNone) {
            if (h.data != MetaHeader::Data::kList || readListNames(source, h, problem)) return true;
        }
    }
    if (problem.empty()) problem = h.glType ? "no ElementDataFile" : "no ElementType";
    why = problem == kUnknownType ? "Error: " + problem : "Error: " + problem + " in MetaImage header " + name;
    return false;
}

}  // namespace KVEL
