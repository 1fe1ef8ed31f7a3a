// MetaImage through the one entry point. A header has no signature, so it is
// recognised by its first line: a key, an equals sign, printable text.
#include "imagelib/metaimage.h"

#include "imagelib/detail/metaimage_header.h"
#include "imagelib/formats/codecs.h"

#include <cctype>

namespace KVEL {

namespace {

const char* const kExtensions[] = {".mha", ".mhd", nullptr};

bool recognise(const unsigned char* bytes, std::size_t size) {
    std::size_t i = 0;
    while (i < size && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) ++i;
    if (i == size || !std::isalpha(bytes[i])) return false;
    for (; i < size && bytes[i] != '\n'; ++i) {
        if (bytes[i] == '=') return true;
        if (!std::isalnum(bytes[i]) && bytes[i] != '_' && bytes[i] != ' ' && bytes[i] != '\t') return false;
    }
    return false;
}

Image* decode(const unsigned char* bytes, std::size_t size, const std::string&) {
    return readMetaImage(bytes, size, nullptr, 0);
}

Image* readFile(const std::string& path) { return readMetaImage(path.c_str()); }

int writeFile(const std::string& path, Image& image, const WriteOptions& options) {
    // ".mhd" (any case) is the split form; ".mha" the single file. Both
    // carry the toolkits' keys, so that every reader places the image alike.
    if (std::tolower(static_cast<unsigned char>(path.back())) == 'd') return writeSplitMetaImage(path, image);
    return writeMetaImageFile(path.c_str(), &image, options.compress);
}

}  // namespace

const Codec kMetaImageCodec = {FileFormat::kMetaImage, "MetaImage", kExtensions, recognise, decode, readFile, nullptr,
                               writeFile, nullptr};

}  // namespace KVEL
