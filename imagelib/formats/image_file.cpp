// The one entry point: picks a reader by the file's first bytes and a writer
// by the name's extension, from the table of codecs below.
#include "imagelib/image_file.h"

#include "imagelib/errors.h"

#include "imagelib/detail/atomic_file.h"
#include "imagelib/detail/byte_source.h"
#include "imagelib/formats/codecs.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/metaimage_header.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace KVEL {

namespace {

// Binary signatures first, DICOM's before all (its preamble may hold another
// format's header); MetaImage, recognised by its text, last.
const Codec* const kCodecs[] = {&kDicomCodec, &kPngCodec, &kJpegCodec, &kTiffCodec,     &kNiftiCodec,
                                 &kNrrdCodec,  &kBmpCodec, &kMetaImageCodec};

// Enough for every signature, including a gzip-wrapped NIfTI header.
constexpr std::size_t kHeadBytes = 4096;

const Codec* codecOf(const unsigned char* bytes, std::size_t size) {
    for (const Codec* codec : kCodecs) {
        if (codec->recognise(bytes, size)) return codec;
    }
    return nullptr;
}

const Codec* codecFor(FileFormat format) {
    for (const Codec* codec : kCodecs) {
        if (codec->format == format) return codec;
    }
    return nullptr;
}

std::string lowerCase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string knownExtensions() {
    std::string list;
    for (const Codec* codec : kCodecs) {
        for (const char* const* e = codec->extensions; *e; ++e) list += (list.empty() ? "" : ", ") + std::string(*e);
    }
    return list;
}

// A status-returning call lets no allocation failure escape.
template <class Call>
auto withoutThrowing(const std::string& name, Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        reportFailure("Error: out of memory for image file " + name);
        return decltype(call())();
    }
}

Image* decodeWith(const Codec& codec, const unsigned char* bytes, std::size_t size, const std::string& name) {
    Image* image = codec.decode(bytes, size, name);
    if (!image && *lastError() == '\0') reportFailure("Error: cannot read " + std::string(codec.name) + " file " + name);
    return image;
}

// The image in a file or folder: the slices the options ask for when the
// format reads them alone (sliced), else the whole image.
Image* readFileOrFolder(const std::string& name, const ReadOptions& options, bool& sliced) {
    sliced = true;
    if (isFolder(name)) return readDicomFolder(name, options);
    long long size = 0;
    File file = openRegularFileReporting(name, size);
    if (!file) return nullptr;
    std::vector<unsigned char> bytes;
    if (!readHeadReporting(file.get(), name, size, kHeadBytes, bytes)) return nullptr;
    const Codec* codec = codecOf(bytes.data(), bytes.size());
    if (!codec) {
        reportFailure("Error: " + name + " is not an image file of a known format");
        return nullptr;
    }
    sliced = codec->readSlab != nullptr;
    if (codec->readSlab || codec->readFile) {
        file.reset();
        Image* image = codec->readSlab ? codec->readSlab(name, options) : codec->readFile(name);
        if (!image && *lastError() == '\0') reportFailure("Error: cannot read " + std::string(codec->name) + " file " + name);
        return image;
    }
    // The file's size backs this allocation; decoders check the rest.
    const std::size_t head = bytes.size();
    bytes.resize(static_cast<std::size_t>(size));
    if (std::fread(bytes.data() + head, 1, bytes.size() - head, file.get()) != bytes.size() - head) {
        reportFailure("Error: cannot read " + name);
        return nullptr;
    }
    file.reset();
    return decodeWith(*codec, bytes.data(), bytes.size(), name);
}

}  // namespace

const char* formatName(FileFormat format) {
    const Codec* codec = codecFor(format);
    return codec ? codec->name : "unknown";
}

FileFormat formatOf(const void* bytes, std::size_t size) {
    const Codec* codec = bytes ? codecOf(static_cast<const unsigned char*>(bytes), size) : nullptr;
    return codec ? codec->format : FileFormat::kUnknown;
}

FileFormat formatOfFile(const char* path) {
    if (!path) return FileFormat::kUnknown;
    if (isFolder(path)) return FileFormat::kDicom;
    long long size = 0;
    std::string why;
    File file = openRegularFile(path, size, why);
    if (!file) return FileFormat::kUnknown;
    unsigned char head[kHeadBytes];
    const std::size_t got = std::fread(head, 1, sizeof head, file.get());
    return formatOf(head, got);
}

FileFormat formatForName(const char* path) {
    if (!path) return FileFormat::kUnknown;
    const std::string name = lowerCase(path);
    for (const Codec* codec : kCodecs) {
        for (const char* const* e = codec->extensions; *e; ++e) {
            if (endsWith(name, *e)) return codec->format;
        }
    }
    return FileFormat::kUnknown;
}

Image* readImage(const char* path) { return readImage(path, ReadOptions()); }

Image* readImage(const char* path, const ReadOptions& options) {
    clearLastError();
    if (!path) {
        reportFailure("Error: no image file name given");
        return nullptr;
    }
    const std::string name(path);
    return withoutThrowing(name, [&]() -> Image* {
        bool sliced = false;
        std::unique_ptr<Image> image(readFileOrFolder(name, options, sliced));
        int first = 0, count = 0;
        if (!image || sliced || isWholeSlab(options)) return image.release();
        if (!slabWithin(options, image->m_dim[2], name, first, count)) return nullptr;
        return cutSlab(*image, first, count);
    });
}

std::vector<DicomSeries> listDicomSeries(const char* folder) {
    clearLastError();
    if (!folder) {
        reportFailure("Error: no folder name given");
        return {};
    }
    return withoutThrowing(folder, [&] { return listSeriesIn(folder); });
}

Image* readImage(const void* bytes, std::size_t size) {
    clearLastError();
    const std::string name = "in memory";
    return withoutThrowing(name, [&]() -> Image* {
        const auto* data = static_cast<const unsigned char*>(bytes);
        const Codec* codec = data ? codecOf(data, size) : nullptr;
        if (!codec) {
            reportFailure("Error: the bytes are no image file of a known format");
            return nullptr;
        }
        return decodeWith(*codec, data, size, name);
    });
}

int writeImage(const char* path, Image* image, const WriteOptions& options) {
    clearLastError();
    if (!path || !image) {
        reportFailure("Error: writing an image needs a file name and an image");
        return 1;
    }
    const std::string name(path);
    const Codec* codec = codecFor(formatForName(path));
    if (!codec) {
        reportFailure("Error: no image format for the name " + name + " (known endings: " + knownExtensions() + ")");
        return 1;
    }
    return withoutThrowing(name, [&]() -> int {
        if (codec->writeFile) {
            const int status = codec->writeFile(name, *image, options);
            if (status != 0 && *lastError() == '\0') reportFailure("Error: cannot write " + name);
            return status;
        }
        AtomicFile out(name);
        if (!out.get()) {
            reportFailure("Error: cannot write " + name + " (" + out.why() + ")");
            return 1;
        }
        if (!codec->encode(out.get(), *image, options, name)) {
            if (*lastError() == '\0') reportFailure("Error: cannot write " + name);
            return 1;
        }
        if (!out.commit()) {
            reportFailure("Error: cannot write " + name + " (" + out.why() + ")");
            return 1;
        }
        return 0;
    });
}

void refuseImage(const char* format, const std::string& holds, const Image& image, const std::string& name) {
    const char* type = "unknown elements";
    for (const ElementTypeName& t : kElementTypeNames) {
        if (t.glType == glTypeOf(&image)) type = t.name;
    }
    reportFailure("Error: a " + std::string(format) + " file holds " + holds + ", not a " + std::to_string(image.m_dim[0]) +
                  " x " + std::to_string(image.m_dim[1]) + " x " + std::to_string(image.m_dim[2]) + " x " +
                  std::to_string(image.m_dim[3]) + " image of " + std::to_string(image.m_channels) + " channel" +
                  (image.m_channels == 1 ? "" : "s") + " of " + type + " (" + name + ")");
}

void swapRedBlue(unsigned char* data, std::size_t pixels, int channels) {
    if (channels < 3) return;
    for (std::size_t i = 0; i < pixels; ++i, data += channels) std::swap(data[0], data[2]);
}

}  // namespace KVEL
