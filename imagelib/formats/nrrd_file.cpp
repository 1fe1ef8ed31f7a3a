// NRRD through the one entry point: .nrrd with its data attached, and for
// reading .nhdr headers whose "data file" lies in the header's folder. Raw
// and gzip data in either byte order; the space (LPS, RAS, LAS, scanner) is
// turned into LPS; a first axis of vectors (any kind other than domain,
// space or time, or one without a space direction) is the channels.
#include "imagelib/detail/byte_source.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/grid_axes.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/metaimage_header.h"
#include "imagelib/detail/nrrd_header.h"
#include "imagelib/detail/zlib_stream.h"
#include "imagelib/formats/codecs.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

namespace KVEL {

namespace {

const char* const kExtensions[] = {".nrrd", nullptr};

bool bigEndianMachine() {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

Image* refuse(const std::string& name, const std::string& why) {
    reportFailure("Error: " + name + " is a NRRD file this library does not read: " + why);
    return nullptr;
}

// The image's shape and placement from the header's axes.
struct Layout {
    int channels = 1;
    int dims[4] = {1, 1, 1, 1};
    Vec3 spacing;
    Matrix3 direction;
    double frameStep = 1;
};

bool layoutOf(const NrrdHeader& h, Layout& l, std::string& why) {
    for (int i = 0; i < h.dimension; ++i) {
        if (h.sizes[i] < 1) {
            why = "no size for axis " + std::to_string(i);
            return false;
        }
    }
    const bool vectorAxis = h.dimension > 1 && (h.vectorKind[0] || (h.hasDirections && h.noDirection[0]));
    const int first = vectorAxis ? 1 : 0, axes = h.dimension - first;
    for (int i = 1; i < h.dimension; ++i) {
        if (h.vectorKind[i]) why = "axis " + std::to_string(i) + " holds vectors; only the first axis may";
    }
    if (axes > 4) why = "more than 4 axes of space and time";
    if (vectorAxis && h.sizes[0] > kMaxChannels) why = "more than " + std::to_string(kMaxChannels) + " vector components";
    if (!why.empty()) return false;
    l.channels = vectorAxis ? static_cast<int>(h.sizes[0]) : 1;
    for (int a = 0; a < axes; ++a) l.dims[a] = static_cast<int>(h.sizes[first + a]);
    Matrix3 steps{};
    for (int a = 0; a < 3; ++a) {
        const int axis = first + a;
        if (a >= axes) {
            // Unused axes: a 2-D grid's third is completed by splitAxes.
            if (!h.hasDirections) steps[a][a] = 1;
        } else if (!h.hasDirections) {
            steps[a][a] = h.spacings[axis] > 0 ? h.spacings[axis] : 1;
        } else if (h.noDirection[axis]) {
            why = "axis " + std::to_string(axis) + " of space has no space direction";
            return false;
        } else {
            for (int r = 0; r < 3; ++r) steps[r][a] = h.directions[axis][r];
        }
    }
    if (axes == 4) {
        // The frames' axis: a step in time only, or no direction at all.
        const int axis = first + 3;
        const Vec3& move = h.directions[axis];
        if (h.hasDirections && !h.noDirection[axis] && (move[0] != 0 || move[1] != 0 || move[2] != 0)) {
            why = "a fourth axis that moves in space";
            return false;
        }
        if (h.timeSteps[axis] != 0) l.frameStep = std::fabs(h.timeSteps[axis]);
        if (h.spacings[axis] > 0) l.frameStep = h.spacings[axis];
    }
    return splitAxes(steps, l.spacing, l.direction, why);
}

// Bytes per element of the header's type; 0 for none.
std::size_t elementBytesOf(int glType) {
    std::unique_ptr<Image> image(createImage(glType));
    std::size_t bytes = 0;
    withTypedImage(image.get(), [&](auto& typed) { bytes = sizeof(*typed.m_data); });
    return bytes;
}

void placeImage(const NrrdHeader& h, const Layout& l, Image& image) {
    image.setSpacing(static_cast<float>(l.spacing[0]), static_cast<float>(l.spacing[1]), static_cast<float>(l.spacing[2]),
                     static_cast<float>(l.frameStep));
    for (int i = 0; i < 3; ++i) image.m_position[i] = static_cast<float>(h.origin[i]);
    setDirection(image, l.direction);
}

// The data's bytes, from the header's own bytes or its data file.
Image* decodeWith(const unsigned char* bytes, std::size_t size, const std::string& name, const std::string* folder) {
    NrrdHeader h;
    std::size_t headerBytes = 0;
    std::string why;
    Layout l;
    if (!parseNrrdHeader(bytes, size, h, headerBytes, why) || !layoutOf(h, l, why)) return refuse(name, why);
    std::unique_ptr<Image> image(createImage(h.glType));
    const std::size_t elementBytes = elementBytesOf(h.glType);
    if (elementBytes > 1 && !h.hasEndian) return refuse(name, "no endian for elements of several bytes");
    long long elements = l.channels;
    for (int d : l.dims) {
        elements *= d;
        if (elements > INT_MAX) return refuse(name, "more than 2^31 - 1 elements");
    }
    const auto imageBytes = static_cast<unsigned long long>(elements) * elementBytes;

    std::vector<unsigned char> detached;
    const unsigned char* data = bytes + headerBytes;
    std::size_t dataSize = size - headerBytes;
    if (!h.dataFile.empty()) {
        if (!folder) return refuse(name, "its data are in the file " + h.dataFile + ", which bytes in memory cannot reach");
        if (!staysInsideFolder(*folder, h.dataFile)) {
            return refuse(name, "the data file " + h.dataFile + " lies outside the header's folder");
        }
        if (!readWholeFile(*folder + "/" + h.dataFile, detached, why)) return refuse(name, why);
        data = detached.data();
        dataSize = detached.size();
    }
    for (long long line = 0; line < h.lineSkip; ++line) {
        const void* end = std::memchr(data, '\n', dataSize);
        if (!end) return refuse(name, "line skip " + std::to_string(h.lineSkip) + " passes the end of the data");
        const std::size_t passed = static_cast<const unsigned char*>(end) - data + 1;
        data += passed;
        dataSize -= passed;
    }
    // For gzip the byte skip counts inflated bytes; -1 puts raw data at the end.
    if (h.gzip && h.byteSkip < 0) return refuse(name, "byte skip -1 with gzip data");
    const unsigned long long skip = h.byteSkip >= 0 ? static_cast<unsigned long long>(h.byteSkip)
                                                     : dataSize >= imageBytes ? dataSize - imageBytes : 0;
    // Before anything is allocated: the bytes at hand must be able to hold the data.
    const unsigned long long most = h.gzip ? static_cast<unsigned long long>(dataSize) * kMaxInflateRatio : dataSize;
    if (skip > most || imageBytes > most - skip) {
        return refuse(name, "the header claims " + std::to_string(imageBytes) + " bytes of data, which " +
                                std::to_string(dataSize) + (h.gzip ? " gzip" : "") + " bytes cannot hold");
    }
    if (image->init(l.dims[0], l.dims[1], l.dims[2], l.dims[3], l.channels) != 0 ||
        (imageBytes > 0 && image->m_image_size == 0)) {
        return refuse(name, "no memory for the image");
    }
    void* out = nullptr;
    withTypedImage(image.get(), [&](auto& typed) { out = typed.m_data; });
    if (h.gzip) {
        GunzipStream gzip(data, dataSize);
        if (!gzip.read(nullptr, skip, why) || !gzip.read(out, imageBytes, why)) return refuse(name, why);
    } else {
        std::memcpy(out, data + skip, imageBytes);
    }
    if (elementBytes > 1 && h.bigEndian != bigEndianMachine()) image->swapByteOrder();
    placeImage(h, l, *image);
    image->computeRange();
    return image.release();
}

bool recognise(const unsigned char* bytes, std::size_t size) { return isNrrd(bytes, size); }

Image* decode(const unsigned char* bytes, std::size_t size, const std::string& name) {
    return decodeWith(bytes, size, name, nullptr);
}

Image* readFile(const std::string& path) {
    std::vector<unsigned char> bytes;
    if (!readWholeFileReporting(path, bytes)) return nullptr;
    const std::string folder = pathPart(path, true);
    return decodeWith(bytes.data(), bytes.size(), path, &folder);
}

// A vector as NRRD writes them; with frames, in a space with time.
std::string vector(const double (&v)[4], bool frames) {
    std::ostringstream out;
    out.precision(17);
    out << "(" << v[0] << "," << v[1] << "," << v[2];
    if (frames) out << "," << v[3];
    out << ")";
    return out.str();
}

bool encode(std::FILE* file, Image& image, const WriteOptions& options, const std::string& name) {
    const char* type = nrrdTypeName(glTypeOf(&image));
    const void* data = nullptr;
    std::size_t bytes = 0;
    withTypedImage(&image, [&](auto& typed) {
        data = typed.m_data;
        bytes = sizeof(*typed.m_data) * static_cast<std::size_t>(typed.m_image_size);
    });
    const int* d = image.m_dim;
    if (!type || !data || d[0] < 1 || d[1] < 1 || d[2] < 1 || d[3] < 1 || image.m_channels < 1) {
        refuseImage("NRRD", "an image with elements", image, name);
        return false;
    }
    const bool vectors = image.m_channels > 1, frames = d[3] > 1;
    std::ostringstream h;
    h.precision(17);
    h << "NRRD0004\ntype: " << type << "\ndimension: " << (3 + vectors + frames)
      << "\nspace: left-posterior-superior" << (frames ? "-time" : "") << "\nsizes:";
    if (vectors) h << " " << image.m_channels;
    for (int i = 0; i < 3 + frames; ++i) h << " " << d[i];
    h << "\nspace directions:" << (vectors ? " none" : "");
    for (int axis = 0; axis < 3 + frames; ++axis) {
        double v[4] = {0, 0, 0, axis == 3 ? image.m_spacing[3] : 0};
        for (int r = 0; r < 3 && axis < 3; ++r) v[r] = image.m_direction[r][axis] * image.m_spacing[axis];
        h << " " << vector(v, frames);
    }
    const double origin[4] = {image.m_position[0], image.m_position[1], image.m_position[2], 0};
    h << "\nkinds:" << (vectors ? " vector" : "") << " domain domain domain" << (frames ? " domain" : "")
      << "\nendian: " << (bigEndianMachine() ? "big" : "little") << "\nencoding: " << (options.compress ? "gzip" : "raw")
      << "\nspace origin: " << vector(origin, frames) << "\n\n";
    const std::string header = h.str();
    bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    if (options.compress) {
        GzipWriter gzip(file);
        written = written && gzip.write(data, bytes) && gzip.finish();
    } else {
        written = written && std::fwrite(data, 1, bytes, file) == bytes;
    }
    if (!written) reportFailure("Error: cannot write NRRD file " + name);
    return written;
}

// Beyond this a header is taken to have no end: the rest would be data.
constexpr std::size_t kMaxHeaderBytes = 1 << 20;

// Where raw elements lie in one piece: the file after its header, or the
// data file a detached header names, past its byte skip. False (nothing to
// map) for gzip data and line skips; false with why set when the file
// cannot hold the elements.
bool rawData(const NrrdHeader& h, const std::string& path, long long size, long long headerBytes,
             unsigned long long bytes, ImageHeader& described, std::string& why) {
    if (h.gzip || h.lineSkip > 0) return false;
    std::string dataPath = path;
    long long offset = headerBytes;
    if (!h.dataFile.empty()) {
        const std::string folder = pathPart(path, true);
        if (!staysInsideFolder(folder, h.dataFile)) {
            why = "the data file " + h.dataFile + " lies outside the header's folder";
            return false;
        }
        dataPath = folder + "/" + h.dataFile;
        if (!openRegularFile(dataPath, size, why)) return false;
        offset = 0;
    }
    // A byte skip of -1 puts the elements at the end.
    const long long available = size - offset, need = static_cast<long long>(bytes);
    const long long skip = h.byteSkip >= 0 ? h.byteSkip : available - need;
    if (skip < 0 || skip > available || need > available - skip) {
        why = "the header claims " + std::to_string(bytes) + " bytes of data, which the " + std::to_string(available) +
              " bytes of " + dataPath + " cannot hold";
        return false;
    }
    described.dataFile = dataPath;
    described.dataOffset = offset + skip;
    described.bigEndian = h.bigEndian;
    return true;
}

}  // namespace

bool readNrrdFileHeader(const std::string& path, ImageHeader& described) {
    long long size = 0;
    std::string why;
    const auto fail = [&](const std::string& reason) { return refuse(path, reason) != nullptr; };
    File file = openRegularFileReporting(path, size);
    if (!file) return false;
    std::vector<unsigned char> head;
    if (!readHeadReporting(file.get(), path, size, kMaxHeaderBytes, head)) return false;
    // A part of the file ends at its last whole line.
    const bool whole = static_cast<long long>(head.size()) == size;
    std::size_t text = head.size();
    while (!whole && text > 0 && head[text - 1] != '\n') --text;
    NrrdHeader h;
    std::size_t headerBytes = 0;
    Layout l;
    if (!parseNrrdHeader(head.data(), text, h, headerBytes, why) || !layoutOf(h, l, why)) return fail(why);
    if (!whole && headerBytes >= text) return fail("a header longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
    const std::size_t elementBytes = elementBytesOf(h.glType);
    if (elementBytes > 1 && !h.hasEndian) return fail("no endian for elements of several bytes");
    long long elements = l.channels;
    for (int d : l.dims) {
        if (elements > kMaxDescribedElements / d) return fail("more than 2^48 elements");
        elements *= d;
    }
    std::unique_ptr<Image> image(createImage(h.glType));
    placeImage(h, l, *image);
    describeImage(*image, described);
    for (int i = 0; i < 4; ++i) described.dim[i] = l.dims[i];
    described.channels = l.channels;
    const auto bytes = static_cast<unsigned long long>(elements) * elementBytes;
    if (!rawData(h, path, size, static_cast<long long>(headerBytes), bytes, described, why) && !why.empty()) {
        return fail(why);
    }
    return true;
}

const Codec kNrrdCodec = {FileFormat::kNrrd, "NRRD", kExtensions, recognise, decode, readFile, encode, nullptr, nullptr};

}  // namespace KVEL
