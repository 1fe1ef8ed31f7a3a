// Writing MetaImage files: the split ".mhd" + ".raw" form with its fixed
// header, and the single-file form the common imaging toolkits write.
#include "imagelib/metaimage.h"

#include "imagelib/detail/element_types.h"
#include "imagelib/detail/metaimage_header.h"
#include "imagelib/detail/zlib_stream.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace KVEL {

namespace {

const char* typeNameOf(const Image* image) {
    const int glType = glTypeOf(image);
    for (const ElementTypeName& type : kElementTypeNames) {
        if (type.glType == glType) return type.name;
    }
    std::cout << "Error: cannot write an image of unknown element type!" << std::endl;
    return nullptr;
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

}  // namespace

int writeMetaImage(const char* baseName, Image* image) {
    if (!baseName || !image) return 1;
    const char* typeName = typeNameOf(image);
    if (!typeName) return 1;
    const std::string headerName = std::string(baseName) + ".mhd";
    const std::string dataName = std::string(baseName) + ".raw";
    std::FILE* header = std::fopen(headerName.c_str(), "w");
    if (!header) return 1;

    const int dims = headerDims(*image);
    const char* zeros[] = {"", "0", "0 0", "0 0 0", "0 0 0 0"};
    std::fprintf(header, "NDims = %i\n", dims);
    writeValues(header, "DimSize", " %i", image->m_dim, dims);
    writeValues(header, "ElementSpacing", " %f", image->m_spacing, dims);
    std::fprintf(header, "Position = %s\n", zeros[dims]);
    if (dims < 4) writeValues(header, "ImagePositionPatient", " %f", image->m_position, 3);
    std::fprintf(header, "ElementByteOrderMSB = False\n");
    if (image->m_channels > 1) std::fprintf(header, "ElementNumberOfChannels = %i\n", image->m_channels);
    std::fprintf(header, "ElementType = %s\n", typeName);
    std::fprintf(header, "ElementDataFile = %s\n", pathPart(dataName, false).c_str());
    if (std::fclose(header) != 0) return 1;
    return image->saveRaw(dataName.c_str()) == 0 ? 0 : 1;
}

int writeMetaImageFile(const char* fileName, Image* image, bool compress) {
    if (!fileName || !image) return 1;
    const char* typeName = typeNameOf(image);
    if (!typeName) return 1;
    const void* data = nullptr;
    std::size_t bytes = 0;
    withTypedImage(image, [&](auto& typed) {
        data = typed.m_data;
        bytes = sizeof(*typed.m_data) * static_cast<std::size_t>(typed.m_image_size);
    });
    if (!data && bytes > 0) return 1;
    std::vector<unsigned char> stream;
    if (compress && !deflateBytes(data, bytes, stream)) return 1;
    std::FILE* file = std::fopen(fileName, "wb");
    if (!file) return 1;

    const int dims = headerDims(*image);
    const float offset[4] = {image->m_position[0], image->m_position[1], image->m_position[2], 0};
    float identity[16] = {};
    for (int i = 0; i < dims; ++i) identity[i * dims + i] = 1;
    std::fprintf(file, "ObjectType = Image\nNDims = %i\nBinaryData = True\nBinaryDataByteOrderMSB = False\n", dims);
    std::fprintf(file, "CompressedData = %s\n", compress ? "True" : "False");
    if (compress) std::fprintf(file, "CompressedDataSize = %zu\n", stream.size());
    writeValues(file, "TransformMatrix", " %g", identity, dims * dims);
    // Nine significant digits give every float back exactly.
    writeValues(file, "Offset", " %.9g", offset, dims);
    writeValues(file, "ElementSpacing", " %.9g", image->m_spacing, dims);
    writeValues(file, "DimSize", " %i", image->m_dim, dims);
    if (image->m_channels > 1) std::fprintf(file, "ElementNumberOfChannels = %i\n", image->m_channels);
    std::fprintf(file, "ElementType = %s\nElementDataFile = LOCAL\n", typeName);
    const void* body = compress ? static_cast<const void*>(stream.data()) : data;
    const std::size_t bodyBytes = compress ? stream.size() : bytes;
    bool ok = bodyBytes == 0 || std::fwrite(body, 1, bodyBytes, file) == bodyBytes;
    if (std::fclose(file) != 0) ok = false;
    return ok ? 0 : 1;
}

}  // namespace KVEL
