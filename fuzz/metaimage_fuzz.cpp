// readMetaImage on a header and its raw file. The input's first two bytes
// (little-endian) give the header's length; the header follows, and the rest
// is the raw file "f.raw" in the same temporary directory.
#include "imagelib/metaimage.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// One scratch directory per process, unique on the machine and removed at exit.
const std::string& directory() {
    static const struct Scratch {
        Scratch() {
            std::string pattern = (std::filesystem::temp_directory_path() / "metaimage_fuzz_XXXXXX").string();
            if (mkdtemp(&pattern[0])) path = pattern;
        }
        ~Scratch() {
            std::error_code ignored;
            if (!path.empty()) std::filesystem::remove_all(path, ignored);
        }
        std::string path;
    } scratch;
    return scratch.path;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

// A header may rightly declare a gigabyte image over a tiny raw file; the
// reader then allocates it. That is memory, not a fault, so such inputs are
// skipped: every number on a size or channel line is multiplied.
bool declaresHugeImage(const std::string& header) {
    double product = 1;
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find('\n', start);
        if (end == std::string::npos) end = header.size();
        std::string line;
        for (std::size_t i = start; i < end; ++i) {
            if (header[i] != ' ') line += header[i];
        }
        const std::size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        if (eq != std::string::npos && (key.find("DimSize") != std::string::npos ||
                                        key.find("ElementNumberOfChannels") != std::string::npos)) {
            const std::string values = header.substr(start, end - start);
            const char* p = values.c_str() + values.find('=') + 1;
            char* next = nullptr;
            for (double v = std::strtod(p, &next); next != p; v = std::strtod(p, &next)) {
                product *= v < 1 ? 1 : v;
                p = next;
            }
        }
        start = end + 1;
    }
    return product > (1 << 22);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || directory().empty()) return 0;
    std::size_t headerSize = data[0] | (data[1] << 8);
    if (headerSize > size - 2) headerSize = size - 2;
    const std::string header(reinterpret_cast<const char*>(data + 2), headerSize);
    if (declaresHugeImage(header)) return 0;
    const std::string headerPath = directory() + "/f.mhd";
    const std::string rawPath = directory() + "/f.raw";
    writeFile(headerPath, data + 2, headerSize);
    writeFile(rawPath, data + 2 + headerSize, size - 2 - headerSize);
    delete KVEL::readMetaImage(headerPath.c_str());
    std::remove(headerPath.c_str());
    std::remove(rawPath.c_str());
    return 0;
}
