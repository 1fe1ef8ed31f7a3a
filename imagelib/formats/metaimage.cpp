#include "imagelib/metaimage.h"

#include "imagelib/bitmap.h"
#include "imagelib/detail/byte_source.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/metaimage_header.h"
#include "imagelib/detail/zlib_stream.h"
#include "imagelib/formats/codecs.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <sstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace KVEL {

namespace {

// Spacing, position and direction as the header gives them.
void placeImage(const MetaHeader& h, const Matrix3& direction, Image& image) {
    image.setSpacing(h.spacing[0], h.spacing[1], h.spacing[2], h.spacing[3]);
    // The patient position wins over Offset, which most writers use instead.
    for (int i = 0; i < 3; ++i) image.m_position[i] = h.hasPosition ? h.position[i] : h.offset[i];
    setDirection(image, direction);
}

// One run of image bytes: from a file (path) or from a source in hand.
struct DataPart {
    std::string path;
    ByteSource* source;
    long long begin;
    std::size_t bytes;
    long long skip = 0;    // bytes before the data
    long long stream = 0;  // bytes of the data as stored
};

// Where the part's data lie among the available bytes, checked before
// anything is allocated: the source must back the image.
std::string locate(const MetaHeader& h, long long available, DataPart& part) {
    const long long bytes = static_cast<long long>(part.bytes);
    if (!h.compressed) {
        part.stream = bytes;
    } else if (h.compressedSize >= 0) {
        part.stream = h.compressedSize;
    } else if (h.headerSize == -1) {
        return "compressed data without CompressedDataSize cannot be the last bytes";
    } else {
        part.stream = available - h.headerSize;
    }
    part.skip = h.headerSize == -1 ? available - part.stream : h.headerSize;
    if (part.stream < 0 || part.skip < 0 || part.skip > available || part.stream > available - part.skip) {
        return "the data hold " + std::to_string(available) + " bytes, " +
               std::to_string(std::max(0LL, part.skip) + part.stream) + " needed";
    }
    if (h.compressed && (bytes - 64) / kMaxInflateRatio > part.stream) {
        return std::to_string(part.stream) + " compressed bytes cannot hold the image's " + std::to_string(bytes);
    }
    return "";
}

// locate() for a part in a file of its own or in a source in hand.
std::string locateData(const MetaHeader& h, DataPart& part) {
    long long available = 0;
    std::string why;
    if (part.source) {
        available = part.source->size() - part.begin;
    } else if (!openRegularFile(part.path, available, why)) {
        return why;
    }
    return locate(h, available, part);
}

bool readPart(const MetaHeader& h, ByteSource& source, const DataPart& part, unsigned char* out, std::string& why) {
    if (!source.seek(part.begin + part.skip)) {
        why = "cannot reach the data";
        return false;
    }
    if (h.compressed) return inflateExactly(source, part.stream, out, part.bytes, why);
    if (!source.read(out, part.bytes)) why = "the data end early";
    return why.empty();
}

std::string dataFailure(const std::string& why) {
    return "Warning: could not load image data! (" + why + ")";
}

// Reads the header from source and the data from where it says; memoryData
// stands in for the data files when the header comes from memory. With
// `described`, stops once the data are known to back the image and fills it
// in instead: the image returned then has no elements.
Image* readImage(ByteSource& source, const std::string& name, bool fromFile, ByteSource* memoryData,
                 ImageHeader* described = nullptr) {
    MetaHeader h;
    std::string why;
    if (!parseMetaHeader(source, name, h, why)) {
        reportFailure(why);
        return nullptr;
    }
    const auto refuse = [&](const std::string& line) -> Image* {
        reportFailure(line);
        return nullptr;
    };
    Matrix3 direction;
    if (!metaDirection(h, direction, why)) {
        reportFailure("Error: " + why + " in MetaImage header " + name);
        return nullptr;
    }
    std::unique_ptr<Image> image(createImage(h.glType));
    std::size_t elementBytes = 0;
    withTypedImage(image.get(), [&](auto& typed) { elementBytes = sizeof(*typed.m_data); });
    long long elements = h.channels;
    // A header alone may describe more elements than an image holds (to be mapped in parts).
    const long long limit = described ? kMaxDescribedElements : INT_MAX;
    for (int i = 0; i < 4; ++i) {
        if (elements > limit / std::max(h.size[i], 1)) {
            return refuse("Error: image size too large in MetaImage header " + name);
        }
        elements *= h.size[i];
    }
    const std::size_t imageBytes = static_cast<std::size_t>(elements) * elementBytes;

    std::vector<DataPart> parts;
    if (h.data == MetaHeader::Data::kLocal) {
        parts.push_back({fromFile ? name : "", &source, source.position(), imageBytes});
    } else if (!fromFile) {
        if (!memoryData) return refuse("Error: no data buffer for the data files of MetaImage header " + name);
        parts.push_back({"", memoryData, 0, imageBytes});
    } else {
        const std::vector<std::string> names = h.data == MetaHeader::Data::kList ? h.listFiles
                                                                                : std::vector<std::string>{h.dataFile};
        if (h.compressed && names.size() > 1) return refuse("Error: compressed LIST data in MetaImage header " + name);
        const std::string folder = pathPart(name, true);
        for (const std::string& file : names) {
            if (!staysInsideFolder(folder, file)) {
                return refuse("Error: data file " + file + " lies outside the folder of MetaImage header " + name);
            }
            parts.push_back({folder + "/" + file, nullptr, 0, imageBytes / names.size()});
        }
    }
    for (DataPart& part : parts) {
        why = locateData(h, part);
        if (!why.empty()) return refuse(dataFailure(why));
    }
    if (described) {
        placeImage(h, direction, *image);
        describeImage(*image, *described);
        for (int i = 0; i < 4; ++i) described->dim[i] = h.size[i];
        described->channels = h.channels;
        described->bigEndian = h.bigEndian;
        // Raw elements in one piece can be mapped; compressed or listed ones cannot.
        if (!h.compressed && parts.size() == 1 && !parts[0].path.empty()) {
            described->dataFile = parts[0].path;
            described->dataOffset = parts[0].begin + parts[0].skip;
        }
        return image.release();
    }

    if (image->init(h.size[0], h.size[1], h.size[2], h.size[3], h.channels) != 0 ||
        (imageBytes > 0 && image->m_image_size == 0)) {
        return refuse("Error: no memory for the image of MetaImage header " + name);
    }
    unsigned char* out = nullptr;
    withTypedImage(image.get(), [&](auto& typed) { out = reinterpret_cast<unsigned char*>(typed.m_data); });
    for (const DataPart& part : parts) {
        if (!part.path.empty()) reportNotice("Loading file " + part.path);
        long long size = 0;
        File file;
        if (!part.source) file = openRegularFile(part.path, size, why);
        ByteSource fileSource(file.get(), size);
        if ((!part.source && !file) || !readPart(h, part.source ? *part.source : fileSource, part, out, why)) {
            return refuse(dataFailure(why));
        }
        out += part.bytes;
    }
    if (h.bigEndian) image->swapByteOrder();

    placeImage(h, direction, *image);
    image->computeRange();
    const ChannelWindow window = image->m_channels > 0 ? image->m_channel_windows[0] : ChannelWindow{0, 0, 0, 0};
    std::ostringstream loaded;
    loaded << "Loaded Image, resolution " << image->m_dim[0] << " x " << image->m_dim[1] << " x " << image->m_dim[2]
           << ", min " << window.low << ", max = " << window.high;
    reportNotice(loaded.str());
    return image.release();
}

// A status-returning reader lets no allocation failure escape.
template <class Read>
Image* withoutThrowing(Read read) {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        reportFailure("Error: out of memory while reading a MetaImage");
        return nullptr;
    }
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// readImage of the header file `name`.
Image* readFile(const std::string& name, ImageHeader* described) {
    return withoutThrowing([&]() -> Image* {
        long long size = 0;
        File file = openRegularFileReporting(name, size, "Error: cannot read MetaImage header " + name);
        if (!file) return nullptr;
        ByteSource source(file.get(), size);
        return readImage(source, name, true, nullptr, described);
    });
}

}  // namespace

Image* readMetaImage(const char* fileName) {
    clearLastError();
    if (!fileName) {
        reportFailure("Error: no MetaImage file name given");
        return nullptr;
    }
    const std::string name(fileName);
    if (endsWith(name, ".bmp")) {
        std::unique_ptr<Bitmap> bitmap(new Bitmap);
        if (bitmap->load(fileName) != 1) return nullptr;
        bitmap->computeRange();
        return bitmap.release();
    }
    return readFile(name, nullptr);
}

bool readMetaImageHeader(const std::string& path, ImageHeader& header) {
    return std::unique_ptr<Image>(readFile(path, &header)) != nullptr;
}

Image* readMetaImage(const void* header, std::size_t headerSize, const void* data, std::size_t dataSize) {
    clearLastError();
    return withoutThrowing([&] {
        ByteSource source(header, headerSize);
        ByteSource dataSource(data, dataSize);
        return readImage(source, "in memory", false, data ? &dataSource : nullptr);
    });
}

}  // namespace KVEL
