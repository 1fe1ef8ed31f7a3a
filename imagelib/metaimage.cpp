#include "imagelib/metaimage.h"

#include "imagelib/bitmap.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/raw_file.h"

#include <libgen.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace KVEL {

namespace {

// POSIX dirname/basename work on a modifiable copy.
std::string pathPart(const std::string& path, bool directory) {
    std::vector<char> copy(path.begin(), path.end());
    copy.push_back('\0');
    return directory ? dirname(copy.data()) : basename(copy.data());
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string withoutSpaces(std::string s, bool allWhitespace) {
    s.erase(std::remove_if(s.begin(), s.end(),
                           [&](unsigned char c) { return c == ' ' || c == '\r' || (allWhitespace && std::isspace(c)); }),
            s.end());
    return s;
}

struct ElementTypeName {
    const char* name;
    int glType;
};
const ElementTypeName kElementTypes[] = {
    {"MET_UCHAR", kGlUnsignedByte}, {"MET_CHAR", kGlByte},  {"MET_USHORT", kGlUnsignedShort},
    {"MET_SHORT", kGlShort},        {"MET_UINT", kGlUnsignedInt}, {"MET_INT", kGlInt},
    {"MET_FLOAT", kGlFloat},        {"MET_DOUBLE", kGlDouble},
};

// What the header has said so far; values go into the image only when the
// data file is named.
struct HeaderState {
    std::string fileName;
    int dims = 0;
    int size[4] = {1, 1, 1, 1};
    float spacing[4] = {1, 1, 1, 1};
    float position[3] = {0, 0, 0};
    int channels = 1;
    long long headerSize = 0;
    bool bigEndian = false;
    std::unique_ptr<Image> image;
};

// Each handler reads its value from the stream; false refuses the file (the
// handler has printed why).
using KeyHandler = bool (*)(std::istream&, HeaderState&);

bool fail(const HeaderState& s, const std::string& why) {
    std::cout << "Error: " << why << " in MetaImage header " << s.fileName << std::endl;
    return false;
}

template <class V>
bool readValues(std::istream& in, HeaderState& s, V* values, int count, const char* key) {
    for (int i = 0; i < count; ++i) {
        if (!(in >> values[i])) return fail(s, std::string("unreadable ") + key + " value");
    }
    return true;
}

std::string restOfLine(std::istream& in) {
    std::string value;
    std::getline(in, value);
    return withoutSpaces(value, false);
}

bool readNDims(std::istream& in, HeaderState& s) {
    if (!readValues(in, s, &s.dims, 1, "NDims")) return false;
    if (s.dims < 0 || s.dims > 4) return fail(s, "NDims " + std::to_string(s.dims) + " is not between 0 and 4");
    return true;
}

bool readDimSize(std::istream& in, HeaderState& s) {
    if (!readValues(in, s, s.size, s.dims, "DimSize")) return false;
    for (int i = 0; i < s.dims; ++i) {
        if (s.size[i] <= 0) return fail(s, "DimSize " + std::to_string(s.size[i]) + " is not positive");
    }
    return true;
}

bool readSpacing(std::istream& in, HeaderState& s) {
    return readValues(in, s, s.spacing, s.dims, "ElementSpacing");
}

bool readPosition(std::istream& in, HeaderState& s) {
    float ignored[4];
    return readValues(in, s, ignored, s.dims, "Position");
}

bool readPatientPosition(std::istream& in, HeaderState& s) {
    return readValues(in, s, s.position, 3, "ImagePositionPatient");
}

bool readByteOrder(std::istream& in, HeaderState& s) {
    const std::string value = restOfLine(in);
    s.bigEndian = value == "True" || value == "1";
    return true;
}

bool readChannels(std::istream& in, HeaderState& s) {
    if (!readValues(in, s, &s.channels, 1, "ElementNumberOfChannels")) return false;
    if (s.channels <= 0) return fail(s, "ElementNumberOfChannels " + std::to_string(s.channels) + " is not positive");
    return true;
}

bool readElementType(std::istream& in, HeaderState& s) {
    const std::string value = restOfLine(in);
    for (const ElementTypeName& type : kElementTypes) {
        if (value == type.name) {
            s.image.reset(createImage(type.glType));
            return true;
        }
    }
    std::cout << "Error: Unknown MetaImage data type!" << std::endl;
    return false;
}

bool readHeaderSize(std::istream& in, HeaderState& s) {
    if (!readValues(in, s, &s.headerSize, 1, "HeaderSize")) return false;
    if (s.headerSize < -1) return fail(s, "HeaderSize " + std::to_string(s.headerSize) + " is negative");
    if (s.headerSize != 0 && s.headerSize != -1) std::cout << "Warning: " << s.headerSize << " bytes header" << std::endl;
    return true;
}

bool readDataFile(std::istream& in, HeaderState& s) {
    const std::string path = pathPart(s.fileName, true) + "/" + restOfLine(in);
    if (!s.image) return fail(s, "ElementDataFile before ElementType");
    long long elements = s.channels;
    for (int i = 0; i < 4; ++i) {
        elements *= s.size[i];
        if (elements > INT_MAX) return fail(s, "image size too large");
    }
    std::cout << "Loading file " << path << std::endl;
    Image& image = *s.image;
    image.init(s.size[0], s.size[1], s.size[2], s.size[3], s.channels);
    if (elements > 0 && image.m_image_size == 0) return fail(s, "no memory for the image");
    withTypedImage(&image, [&](auto& typed) {
        readRawFile(path.c_str(), typed.m_data, sizeof(*typed.m_data) * static_cast<std::size_t>(typed.m_image_size),
                    s.headerSize);
    });
    if (s.bigEndian) image.swapByteOrder();
    return true;
}

struct HeaderKey {
    const char* name;
    KeyHandler read;
    bool skipsRestOfLine;  // number keys leave the end of their line behind
};
const HeaderKey kHeaderKeys[] = {
    {"NDims", readNDims, true},
    {"DimSize", readDimSize, true},
    {"ElementSpacing", readSpacing, true},
    {"Position", readPosition, true},
    {"ImagePositionPatient", readPatientPosition, true},
    {"ElementByteOrderMSB", readByteOrder, false},
    {"ElementNumberOfChannels", readChannels, true},
    {"ElementType", readElementType, false},
    {"HeaderSize", readHeaderSize, true},
    {"ElementDataFile", readDataFile, false},
};

void skipLine(std::istream& in) {
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
}

Image* readHeader(const std::string& fileName) {
    std::ifstream in(fileName);
    if (!in) {
        std::cout << "Error: cannot read MetaImage header " << fileName << std::endl;
        return nullptr;
    }
    HeaderState s;
    s.fileName = fileName;
    std::string key;
    while (in.good() && std::getline(in, key, '=')) {
        if (in.eof()) break;  // trailing text without "="
        key = withoutSpaces(key, true);
        if (key.empty()) continue;
        const HeaderKey* known = nullptr;
        for (const HeaderKey& k : kHeaderKeys) {
            if (key == k.name) known = &k;
        }
        if (!known) {
            std::cout << "Warning: Unknown keyword \"" << key << "\"" << std::endl;
            skipLine(in);
            continue;
        }
        if (!known->read(in, s)) return nullptr;
        if (known->skipsRestOfLine) skipLine(in);
    }
    if (!s.image) {
        std::cout << "Error: no ElementType in MetaImage header " << fileName << std::endl;
        return nullptr;
    }
    Image* image = s.image.release();
    image->setSpacing(s.spacing[0], s.spacing[1], s.spacing[2], s.spacing[3]);
    image->computeRange();
    for (int i = 0; i < 3; ++i) image->m_position[i] = s.position[i];
    const ChannelWindow window = image->m_channels > 0 ? image->m_channel_windows[0] : ChannelWindow{0, 0, 0, 0};
    std::cout << "Loaded Image, resolution " << image->m_dim[0] << " x " << image->m_dim[1] << " x "
              << image->m_dim[2] << ", min " << window.low << ", max = " << window.high << std::endl;
    return image;
}

}  // namespace

Image* readMetaImage(const char* fileName) {
    if (!fileName) return nullptr;
    const std::string name(fileName);
    if (endsWith(name, ".bmp")) {
        Bitmap* bitmap = new Bitmap;
        if (bitmap->load(fileName) != 1) {
            delete bitmap;
            return nullptr;
        }
        bitmap->computeRange();
        return bitmap;
    }
    return readHeader(name);
}

int writeMetaImage(const char* baseName, Image* image) {
    if (!baseName || !image) return 1;
    const int glType = glTypeOf(image);
    const char* typeName = nullptr;
    for (const ElementTypeName& type : kElementTypes) {
        if (type.glType == glType) typeName = type.name;
    }
    if (!typeName) {
        std::cout << "Error: cannot write an image of unknown element type!" << std::endl;
        return 1;
    }
    const std::string headerName = std::string(baseName) + ".mhd";
    const std::string dataName = std::string(baseName) + ".raw";
    std::FILE* header = std::fopen(headerName.c_str(), "w");
    if (!header) return 1;

    const int* d = image->m_dim;
    const float* sp = image->m_spacing;
    const float* pos = image->m_position;
    const int dims = d[3] != 1 ? 4 : (d[2] != 1 ? 3 : 2);
    std::fprintf(header, "NDims = %i\n", dims);
    if (dims == 2) {
        std::fprintf(header, "DimSize = %i %i\n", d[0], d[1]);
        std::fprintf(header, "ElementSpacing = %f %f\n", sp[0], sp[1]);
        std::fprintf(header, "Position = 0 0\n");
    } else if (dims == 3) {
        std::fprintf(header, "DimSize = %i %i %i\n", d[0], d[1], d[2]);
        std::fprintf(header, "ElementSpacing = %f %f %f\n", sp[0], sp[1], sp[2]);
        std::fprintf(header, "Position = 0 0 0\n");
    } else {
        std::fprintf(header, "DimSize = %i %i %i %i\n", d[0], d[1], d[2], d[3]);
        std::fprintf(header, "ElementSpacing = %f %f %f %f\n", sp[0], sp[1], sp[2], sp[3]);
        std::fprintf(header, "Position = 0 0 0 0\n");
    }
    if (dims < 4) std::fprintf(header, "ImagePositionPatient = %f %f %f\n", pos[0], pos[1], pos[2]);
    std::fprintf(header, "ElementByteOrderMSB = False\n");
    if (image->m_channels > 1) std::fprintf(header, "ElementNumberOfChannels = %i\n", image->m_channels);
    std::fprintf(header, "ElementType = %s\n", typeName);
    std::fprintf(header, "ElementDataFile = %s\n", pathPart(dataName, false).c_str());
    if (std::fclose(header) != 0) return 1;
    return image->saveRaw(dataName.c_str()) == 0 ? 0 : 1;
}

}  // namespace KVEL
