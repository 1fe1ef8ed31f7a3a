// Writing MetaImage files: the split ".mhd" + ".raw" form with its fixed
// header, and the single-file form the common imaging toolkits write.
#include "imagelib/metaimage.h"

#include "imagelib/detail/atomic_file.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/metaimage_header.h"
#include "imagelib/detail/zlib_stream.h"

#include <cstdio>
#include <string>
#include <vector>

namespace KVEL {

namespace {

const char* typeNameOf(const Image* image) {
    const int glType = glTypeOf(image);
    for (const ElementTypeName& type : kElementTypeNames) {
        if (type.glType == glType) return type.name;
    }
    reportFailure("Error: cannot write an image of unknown element type!");
    return nullptr;
}

// The elements as they lie in memory; false when an image of elements has no buffer.
bool elementBytes(Image* image, const void*& data, std::size_t& bytes) {
    withTypedImage(image, [&](auto& typed) {
        data = typed.m_data;
        bytes = sizeof(*typed.m_data) * static_cast<std::size_t>(typed.m_image_size);
    });
    if (data || bytes == 0) return true;
    reportFailure("Error: the image has no element buffer to write");
    return false;
}

// 4 with more than one frame, else 3 with more than one slice, else 2.
int headerDims(const Image& image) {
    return image.m_dim[3] != 1 ? 4 : (image.m_dim[2] != 1 ? 3 : 2);
}

template <class V>
void writeValues(std::FILE* f, const char* key, const char* format, const V* values, int count) {
    std::fprintf(f, "%s =", key);
    for (int i = 0; i < count; ++i) std::fprintf(f, format, values[i]);
    std::fprintf(f, "\n");
}

int cannotWrite(const std::string& name, const AtomicFile& file) {
    reportFailure("Error: cannot write " + name + " (" + file.why() + ")");
    return 1;
}

}  // namespace

// Both files are written whole under temporary names before either replaces
// its target, the data first: a header never names data that were not written.
int writeMetaImage(const char* baseName, Image* image) {
    clearLastError();
    if (!baseName || !image) {
        reportFailure("Error: writing a MetaImage needs a base name and an image");
        return 1;
    }
    const char* typeName = typeNameOf(image);
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (!typeName || !elementBytes(image, data, bytes)) return 1;
    const std::string headerName = std::string(baseName) + ".mhd";
    const std::string dataName = std::string(baseName) + ".raw";
    AtomicFile header(headerName);
    if (!header.get()) return cannotWrite(headerName, header);
    AtomicFile dataFile(dataName);
    if (!dataFile.write(data, bytes) || !dataFile.finish()) {
        reportFailure("Warning: could not save image data!");
        return 1;
    }

    std::FILE* h = header.get();
    const int dims = headerDims(*image);
    const char* zeros[] = {"", "0", "0 0", "0 0 0", "0 0 0 0"};
    std::fprintf(h, "NDims = %i\n", dims);
    writeValues(h, "DimSize", " %i", image->m_dim, dims);
    writeValues(h, "ElementSpacing", " %f", image->m_spacing, dims);
    std::fprintf(h, "Position = %s\n", zeros[dims]);
    if (dims < 4) writeValues(h, "ImagePositionPatient", " %f", image->m_position, 3);
    std::fprintf(h, "ElementByteOrderMSB = False\n");
    if (image->m_channels > 1) std::fprintf(h, "ElementNumberOfChannels = %i\n", image->m_channels);
    std::fprintf(h, "ElementType = %s\n", typeName);
    std::fprintf(h, "ElementDataFile = %s\n", pathPart(dataName, false).c_str());
    if (!header.finish()) return cannotWrite(headerName, header);
    if (!dataFile.commit()) {
        reportFailure("Warning: could not save image data!");
        return 1;
    }
    return header.commit() ? 0 : cannotWrite(headerName, header);
}

namespace {

// The header the common toolkits write, ending with ElementDataFile: the
// position as Offset, the direction as TransformMatrix (axis 0's direction
// first), every number as precise as the image holds it.
void writeToolkitHeader(std::FILE* file, const Image& image, const char* typeName, long long compressedSize,
                        const std::string& dataFile) {
    const int dims = headerDims(image);
    const float offset[4] = {image.m_position[0], image.m_position[1], image.m_position[2], 0};
    double matrix[16] = {};
    for (int i = 0; i < dims; ++i)
        for (int j = 0; j < dims; ++j) matrix[i * dims + j] = i < 3 && j < 3 ? image.m_direction[j][i] : i == j;
    std::fprintf(file, "ObjectType = Image\nNDims = %i\nBinaryData = True\nBinaryDataByteOrderMSB = False\n", dims);
    std::fprintf(file, "CompressedData = %s\n", compressedSize >= 0 ? "True" : "False");
    if (compressedSize >= 0) std::fprintf(file, "CompressedDataSize = %lld\n", compressedSize);
    writeValues(file, "TransformMatrix", " %.17g", matrix, dims * dims);
    // Nine significant digits give every float back exactly.
    writeValues(file, "Offset", " %.9g", offset, dims);
    writeValues(file, "ElementSpacing", " %.9g", image.m_spacing, dims);
    writeValues(file, "DimSize", " %i", image.m_dim, dims);
    if (image.m_channels > 1) std::fprintf(file, "ElementNumberOfChannels = %i\n", image.m_channels);
    std::fprintf(file, "ElementType = %s\nElementDataFile = %s\n", typeName, dataFile.c_str());
}

}  // namespace

int writeMetaImageFile(const char* fileName, Image* image, bool compress) {
    clearLastError();
    if (!fileName || !image) {
        reportFailure("Error: writing a MetaImage needs a file name and an image");
        return 1;
    }
    const char* typeName = typeNameOf(image);
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (!typeName || !elementBytes(image, data, bytes)) return 1;
    std::vector<unsigned char> stream;
    if (compress && !deflateBytes(data, bytes, stream)) {
        reportFailure("Error: cannot compress the data of " + std::string(fileName));
        return 1;
    }
    AtomicFile out(fileName);
    std::FILE* file = out.get();
    if (!file) return cannotWrite(fileName, out);
    writeToolkitHeader(file, *image, typeName, compress ? static_cast<long long>(stream.size()) : -1, "LOCAL");
    const void* body = compress ? static_cast<const void*>(stream.data()) : data;
    const std::size_t bodyBytes = compress ? stream.size() : bytes;
    if (!out.write(body, bodyBytes) || !out.commit()) return cannotWrite(fileName, out);
    return 0;
}

int writeSplitMetaImage(const std::string& headerName, Image& image) {
    clearLastError();
    const char* typeName = typeNameOf(&image);
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (!typeName || !elementBytes(&image, data, bytes)) return 1;
    const std::string dataName = headerName.substr(0, headerName.size() - 4) + ".raw";
    AtomicFile header(headerName);
    if (!header.get()) return cannotWrite(headerName, header);
    AtomicFile dataFile(dataName);
    if (!dataFile.write(data, bytes) || !dataFile.finish()) return cannotWrite(dataName, dataFile);
    writeToolkitHeader(header.get(), image, typeName, -1, pathPart(dataName, false));
    if (!header.finish()) return cannotWrite(headerName, header);
    if (!dataFile.commit()) return cannotWrite(dataName, dataFile);
    return header.commit() ? 0 : cannotWrite(headerName, header);
}

}  // namespace KVEL
