// NIfTI-1 and NIfTI-2 through the one entry point: .nii, .nii.gz, and for
// reading .hdr/.img pairs. Voxels keep their stored order (i fastest, along
// x; no row is flipped); where they lie comes from the sform or qform, in
// LPS (nifti_orientation.h). A 5th dimension of vectors is the channels.
// Scaled data (scl_slope) are read as float (double data stay double) with
// the scaling applied.
#include "imagelib/detail/byte_source.h"
#include "imagelib/formats/codecs.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/metaimage_header.h"
#include "imagelib/detail/nifti_header.h"
#include "imagelib/detail/nifti_orientation.h"
#include "imagelib/detail/zlib_stream.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace KVEL {

namespace {

const char* const kExtensions[] = {".nii", ".nii.gz", nullptr};

constexpr int kVectorIntent = 1007;

struct DataType {
    int code;
    const char* name;
    int glType;  // 0: no element type of this library holds it
    int channels;
    int bytes;  // per channel
};

const DataType kDataTypes[] = {
    {2, "UINT8", kGlUnsignedByte, 1, 1},   {256, "INT8", kGlByte, 1, 1},       {4, "INT16", kGlShort, 1, 2},
    {512, "UINT16", kGlUnsignedShort, 1, 2}, {8, "INT32", kGlInt, 1, 4},       {768, "UINT32", kGlUnsignedInt, 1, 4},
    {16, "FLOAT32", kGlFloat, 1, 4},       {64, "FLOAT64", kGlDouble, 1, 8},    {128, "RGB24", kGlUnsignedByte, 3, 1},
    {2304, "RGBA32", kGlUnsignedByte, 4, 1}, {1, "BINARY", 0, 1, 0},          {32, "COMPLEX64", 0, 1, 0},
    {1024, "INT64", 0, 1, 0},              {1280, "UINT64", 0, 1, 0},          {1536, "FLOAT128", 0, 1, 0},
    {1792, "COMPLEX128", 0, 1, 0},         {2048, "COMPLEX256", 0, 1, 0},
};

const DataType* dataType(int code) {
    for (const DataType& t : kDataTypes) {
        if (t.code == code) return &t;
    }
    return nullptr;
}

const DataType* dataTypeFor(int glType, int channels) {
    for (const DataType& t : kDataTypes) {
        if (t.glType == glType && t.glType && t.channels == channels) return &t;
    }
    return nullptr;
}

// Between NIfTI's planar vectors (each component's whole volume in turn) and
// the image's interleaved channels, element by element.
void interleave(const unsigned char* from, unsigned char* to, std::size_t voxels, int channels, int bytes, bool toChannels) {
    for (std::size_t v = 0; v < voxels; ++v) {
        for (int c = 0; c < channels; ++c) {
            const std::size_t planar = (c * voxels + v) * bytes, packed = (v * channels + c) * bytes;
            std::memcpy(to + (toChannels ? packed : planar), from + (toChannels ? planar : packed), bytes);
        }
    }
}

bool isGzip(const unsigned char* bytes, std::size_t size) { return size >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b; }

// A file's bytes, plain or gzip-wrapped, read in order.
class Input {
public:
    Input(const unsigned char* bytes, std::size_t size) : m_bytes(bytes), m_size(size) {
        if (isGzip(bytes, size)) m_gzip = std::make_unique<GunzipStream>(bytes, size);
    }
    // Exactly n bytes into out (null: passed over).
    bool read(void* out, std::size_t n, std::string& why) {
        if (m_gzip) return m_gzip->read(out, n, why);
        if (n > m_size - m_position) {
            why = "the file ends " + std::to_string(n - (m_size - m_position)) + " bytes early";
            return false;
        }
        if (out) std::memcpy(out, m_bytes + m_position, n);
        m_position += n;
        return true;
    }
    // The most bytes the rest of this input can give: checked before anything is allocated.
    unsigned long long most() const {
        return m_gzip ? static_cast<unsigned long long>(m_size) * kMaxInflateRatio : m_size - m_position;
    }

private:
    const unsigned char* m_bytes;
    std::size_t m_size;
    std::size_t m_position = 0;
    std::unique_ptr<GunzipStream> m_gzip;
};

bool readHeader(Input& in, NiftiHeader& header, std::size_t& size, std::string& why) {
    unsigned char head[kNifti2Size];
    if (!in.read(head, kNifti1Size, why)) return false;
    size = niftiHeaderSize(head, kNifti1Size);
    if (size == kNifti2Size && !in.read(head + kNifti1Size, kNifti2Size - kNifti1Size, why)) return false;
    if (!parseNiftiHeader(head, size, header)) {
        why = "no NIfTI header";
        return false;
    }
    return true;
}

bool recognise(const unsigned char* bytes, std::size_t size) {
    if (!isGzip(bytes, size)) {
        NiftiHeader header;
        return parseNiftiHeader(bytes, size, header);
    }
    Input in(bytes, size);
    NiftiHeader header;
    std::size_t headerSize;
    std::string why;
    return readHeader(in, header, headerSize, why);
}

Image* refuse(const std::string& name, const std::string& why) {
    reportFailure("Error: " + name + " is a NIfTI file this library does not read: " + why);
    return nullptr;
}

// Scaled values are float, or double for double data.
int scaledType(int glType) { return glType == kGlDouble ? kGlDouble : kGlFloat; }

bool isBigEndianMachine() {
    const unsigned short one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

std::unique_ptr<Image> applyScaling(std::unique_ptr<Image> image, double slope, double inter) {
    std::unique_ptr<Image> scaled(createImage(scaledType(glTypeOf(image.get()))));
    const int* d = image->m_dim;
    if (scaled->init(d[0], d[1], d[2], d[3], image->m_channels) != 0) return nullptr;
    withTypedImage(image.get(), [&](auto& in) {
        withTypedImage(scaled.get(), [&](auto& out) {
            using Out = std::remove_reference_t<decltype(*out.m_data)>;
            for (int i = 0; i < in.m_image_size; ++i) out.m_data[i] = static_cast<Out>(in.m_data[i] * slope + inter);
        });
    });
    return scaled;
}

float finiteOr(double value, float otherwise) {
    return std::isfinite(value) && std::fabs(value) <= 3.4e38 ? static_cast<float>(value) : otherwise;
}

// What the header says the elements are; the reason when it is nothing this
// library reads. At most `limit` elements.
struct Layout {
    const DataType* type = nullptr;
    long long dims[8] = {};
    int channels = 0;  // the type's own, or the vector components of a 5th dimension
    unsigned long long bytes = 0;
};

std::string layoutOf(const NiftiHeader& h, long long limit, Layout& layout) {
    const DataType* type = dataType(h.datatype);
    if (!type) return "datatype " + std::to_string(h.datatype) + " is not NIfTI's";
    if (!type->glType) return std::string(type->name) + " elements, which no element type here holds";
    if (h.dim[0] < 1 || h.dim[0] > 7) return "dim[0] is " + std::to_string(h.dim[0]) + ", not 1 to 7";
    long long elements = type->channels;
    for (int i = 1; i < 8; ++i) {
        const long long extent = i <= h.dim[0] ? h.dim[i] : 1;
        layout.dims[i] = extent;
        const std::string says = "dimension " + std::to_string(i) + " is " + std::to_string(extent);
        if (extent < 1 || extent > INT_MAX) return says;
        // The 5th dimension holds each voxel's vector: its channels.
        const bool vectors = i == 5 && type->channels == 1 && extent <= kMaxChannels;
        if (i >= 5 && extent > 1 && !vectors) {
            return says + "; images of up to 4 dimensions and " + std::to_string(kMaxChannels) +
                   " vector components are read";
        }
        if (elements > limit / extent) return "more than " + std::to_string(limit) + " elements";
        elements *= extent;
    }
    layout.type = type;
    layout.channels = layout.dims[5] > 1 ? static_cast<int>(layout.dims[5]) : type->channels;
    layout.bytes = static_cast<unsigned long long>(elements) * type->bytes;
    return "";
}

// Whether stored values are scaled into others (read as float, or double).
bool isScaled(const NiftiHeader& h, const DataType& type) {
    return type.channels == 1 && std::isfinite(h.slope) && h.slope != 0 && std::isfinite(h.inter) &&
           !(h.slope == 1 && h.inter == 0);
}

// Spacing, position and direction as the header's forms give them (LPS).
void placeImage(const NiftiHeader& h, const NiftiPlacement& placement, Image& image) {
    const float frameStep = h.dim[0] >= 4 && h.pixdim[4] != 0 ? std::fabs(finiteOr(h.pixdim[4], 1)) : 1;
    image.setSpacing(finiteOr(placement.spacing[0], 1), finiteOr(placement.spacing[1], 1),
                     finiteOr(placement.spacing[2], 1), frameStep);
    for (int i = 0; i < 3; ++i) image.m_position[i] = static_cast<float>(placement.position[i]);
    setDirection(image, placement.direction);
}

// The image the header describes, its data read from data (the rest of the
// header's own input when the data follow the header).
Image* decodeParts(Input& header, Input* data, const std::string& name) {
    NiftiHeader h;
    std::size_t headerSize = 0;
    std::string why;
    if (!readHeader(header, h, headerSize, why)) return refuse(name, why);
    if (h.pair && !data) return refuse(name, "it is the header of a .hdr/.img pair, whose data are in the .img file");
    Layout layout;
    why = layoutOf(h, INT_MAX, layout);
    if (!why.empty()) return refuse(name, why);
    NiftiPlacement placement;
    if (!niftiPlacement(h, placement, why)) return refuse(name, why);
    const long long* dims = layout.dims;
    const int channels = layout.channels;
    const DataType* type = layout.type;
    const unsigned long long bytes = layout.bytes;
    Input& source = data ? *data : header;
    const long long consumed = data ? 0 : static_cast<long long>(headerSize);
    if (h.voxOffset < consumed) return refuse(name, "vox_offset " + std::to_string(h.voxOffset) + " lies inside the header");
    const auto skip = static_cast<unsigned long long>(h.voxOffset - consumed);
    // Before anything is allocated: the bytes at hand must be able to hold the data.
    if (skip + bytes > source.most()) {
        return refuse(name, "the header claims " + std::to_string(bytes) + " bytes of data at offset " +
                                std::to_string(h.voxOffset) + ", which the file's bytes cannot hold");
    }
    std::unique_ptr<Image> image(createImage(type->glType));
    if (image->init(static_cast<int>(dims[1]), static_cast<int>(dims[2]), static_cast<int>(dims[3]),
                    static_cast<int>(dims[4]), channels) != 0) {
        return refuse(name, "no memory for the image");
    }
    void* out = nullptr;
    withTypedImage(image.get(), [&](auto& typed) { out = typed.m_data; });
    if (channels == type->channels) {
        if (!source.read(nullptr, skip, why) || !source.read(out, bytes, why)) return refuse(name, why);
    } else {
        // Stored one component's volume after another; the image interleaves them.
        std::vector<unsigned char> planes(bytes);
        if (!source.read(nullptr, skip, why) || !source.read(planes.data(), bytes, why)) return refuse(name, why);
        interleave(planes.data(), static_cast<unsigned char*>(out), bytes / type->bytes / channels, channels, type->bytes, true);
    }
    if (h.swapped) image->swapByteOrder();
    if (isScaled(h, *layout.type)) {
        image = applyScaling(std::move(image), h.slope, h.inter);
        if (!image) return refuse(name, "no memory for the scaled image");
    }
    placeImage(h, placement, *image);
    image->computeRange();
    return image.release();
}

Image* decode(const unsigned char* bytes, std::size_t size, const std::string& name) {
    Input in(bytes, size);
    return decodeParts(in, nullptr, name);
}

// The .img beside a pair's .hdr (or .hdr.gz), plain or gzip-wrapped.
bool readDataFile(const std::string& path, std::vector<unsigned char>& bytes, std::string& why) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::size_t dot = lower.rfind(".hdr");
    if (dot == std::string::npos || (dot + 4 != lower.size() && lower.compare(dot, std::string::npos, ".hdr.gz") != 0)) {
        why = "a .hdr/.img pair's header must be named .hdr or .hdr.gz";
        return false;
    }
    const std::string stem = path.substr(0, dot);
    for (const char* ending : {".img", ".img.gz", ".IMG"}) {
        if (readWholeFile(stem + ending, bytes, why)) return true;
    }
    why = "no data file " + stem + ".img beside the header";
    return false;
}

Image* readFile(const std::string& path) {
    std::vector<unsigned char> bytes;
    if (!readWholeFileReporting(path, bytes)) return nullptr;
    std::string why;
    Input header(bytes.data(), bytes.size());
    NiftiHeader h;
    std::size_t headerSize;
    if (!readHeader(header, h, headerSize, why) || !h.pair) return decode(bytes.data(), bytes.size(), path);
    std::vector<unsigned char> dataBytes;
    if (!readDataFile(path, dataBytes, why)) return refuse(path, why);
    Input again(bytes.data(), bytes.size());
    Input data(dataBytes.data(), dataBytes.size());
    return decodeParts(again, &data, path);
}

bool endsWithGz(const std::string& name) {
    return name.size() >= 3 && std::tolower(static_cast<unsigned char>(name[name.size() - 1])) == 'z' &&
           std::tolower(static_cast<unsigned char>(name[name.size() - 2])) == 'g' && name[name.size() - 3] == '.';
}

bool encode(std::FILE* out, Image& image, const WriteOptions&, const std::string& name) {
    // Colour bytes are RGB24 / RGBA32; other channels are a 5th dimension of vectors.
    const DataType* type = dataTypeFor(glTypeOf(&image), image.m_channels);
    const bool vectors = !type && image.m_channels > 1 && image.m_channels <= kMaxChannels;
    if (vectors) type = dataTypeFor(glTypeOf(&image), 1);
    const int* d = image.m_dim;
    void* data = nullptr;
    withTypedImage(&image, [&](auto& typed) { data = typed.m_data; });
    if (!type || !data || d[0] < 1 || d[1] < 1 || d[2] < 1 || d[3] < 1) {
        refuseImage("NIfTI", "any element type with up to " + std::to_string(kMaxChannels) + " channels", image, name);
        return false;
    }
    NiftiHeader h;
    // NIfTI-1 keeps each dimension in 16 bits.
    h.version = std::max({d[0], d[1], d[2], d[3], image.m_channels}) > 32767 ? 2 : 1;
    // At least three, so that a picture keeps its slice thickness.
    h.dim[0] = vectors ? 5 : d[3] > 1 ? 4 : 3;
    for (int i = 0; i < 4; ++i) {
        h.dim[i + 1] = d[i];
        h.pixdim[i + 1] = image.m_spacing[i];
    }
    h.dim[5] = vectors ? image.m_channels : 1;
    for (int i = 6; i < 8; ++i) h.dim[i] = 1;
    if (vectors) h.intent = kVectorIntent;
    h.datatype = type->code;
    h.bitpix = 8 * type->bytes * type->channels;
    h.units = 2 | 8;  // millimetres, seconds
    // The four bytes after the header say that no extension follows.
    const std::size_t headerBytes = (h.version == 1 ? kNifti1Size : kNifti2Size) + 4;
    h.voxOffset = static_cast<long long>(headerBytes);
    setNiftiPlacement(image, h);
    unsigned char header[kNifti2Size + 4] = {};
    writeNiftiHeader(h, header);
    const std::size_t bytes = static_cast<std::size_t>(image.m_image_size) * type->bytes;
    std::vector<unsigned char> planes;
    if (vectors) {
        planes.resize(bytes);
        interleave(static_cast<const unsigned char*>(data), planes.data(), bytes / type->bytes / image.m_channels,
                   image.m_channels, type->bytes, false);
        data = planes.data();
    }
    bool written;
    if (endsWithGz(name)) {
        GzipWriter gzip(out);
        written = gzip.write(header, headerBytes) && gzip.write(data, bytes) && gzip.finish();
    } else {
        written = std::fwrite(header, 1, headerBytes, out) == headerBytes && std::fwrite(data, 1, bytes, out) == bytes;
    }
    if (!written) reportFailure("Error: cannot write NIfTI file " + name);
    return written;
}

}  // namespace

bool readNiftiFileHeader(const std::string& path, ImageHeader& described) {
    long long size = 0;
    std::string why;
    File file = openRegularFile(path, size, why);
    unsigned char head[kNifti2Size] = {};
    const std::size_t got = file ? std::fread(head, 1, sizeof head, file.get()) : 0;
    NiftiHeader h;
    const std::size_t headerSize = niftiHeaderSize(head, got);
    if (isGzip(head, got) || (headerSize && got >= headerSize && parseNiftiHeader(head, headerSize, h) && h.pair)) {
        // Compressed, or with its data in another file: only the whole read says what it holds.
        std::unique_ptr<Image> image(readFile(path));
        if (image) describeImage(*image, described);
        return image != nullptr;
    }
    if (!file) {
        reportFailure("Error: " + why);
        return false;
    }
    if (!headerSize || got < headerSize || !parseNiftiHeader(head, headerSize, h)) {
        refuse(path, "no NIfTI header");
        return false;
    }
    Layout layout;
    why = layoutOf(h, kMaxDescribedElements, layout);
    if (why.empty() && h.voxOffset < static_cast<long long>(headerSize)) {
        why = "vox_offset " + std::to_string(h.voxOffset) + " lies inside the header";
    }
    if (why.empty() && static_cast<unsigned long long>(h.voxOffset) + layout.bytes > static_cast<unsigned long long>(size)) {
        why = "the header claims " + std::to_string(layout.bytes) + " bytes of data at offset " +
              std::to_string(h.voxOffset) + ", which the file's bytes cannot hold";
    }
    NiftiPlacement placement;
    if (why.empty()) niftiPlacement(h, placement, why);
    if (!why.empty()) {
        refuse(path, why);
        return false;
    }
    const bool scaled = isScaled(h, *layout.type);
    std::unique_ptr<Image> image(createImage(scaled ? scaledType(layout.type->glType) : layout.type->glType));
    placeImage(h, placement, *image);
    describeImage(*image, described);
    for (int i = 0; i < 4; ++i) described.dim[i] = static_cast<int>(layout.dims[i + 1]);
    described.channels = layout.channels;
    if (!scaled && layout.channels == layout.type->channels) {
        // Stored values are the elements, interleaved as they lie: they can be mapped.
        described.dataFile = path;
        described.dataOffset = h.voxOffset;
        described.bigEndian = h.swapped != isBigEndianMachine();
    }
    return true;
}

const Codec kNiftiCodec = {FileFormat::kNifti, "NIfTI", kExtensions, recognise, decode, readFile, encode, nullptr, nullptr};

}  // namespace KVEL
