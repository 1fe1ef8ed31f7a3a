#include "image_files.h"

#include <kvel/bitmap.h>
#include <kvel/metaimage.h>

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "failure.h"
#include "library_output.h"

namespace fs = std::filesystem;

namespace {

bool hasExtension(const std::string& path, const char* extension) {
    return fs::path(path).extension() == extension;
}

// A folder beside the target, removed with whatever is left in it.
class ScratchFolder {
public:
    ScratchFolder(const fs::path& target, const std::string& shownName) {
        std::string pattern = (target.parent_path() / ".kvel-XXXXXX").string();
        if (!mkdtemp(&pattern[0])) throw Failure(shownName + ": cannot write there: " + std::strerror(errno));
        m_path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

std::unique_ptr<KVEL::Bitmap> toBitmap(KVEL::Image& image, const std::string& path) {
    if (image.m_dim[2] != 1 || image.m_dim[3] != 1 || image.m_channels < 1 || image.m_channels > 4) {
        throw Failure(path + ": a BMP holds one picture of 1 to 4 channels, this image is " +
                      std::to_string(image.m_dim[0]) + " x " + std::to_string(image.m_dim[1]) + " x " +
                      std::to_string(image.m_dim[2]) + " x " + std::to_string(image.m_dim[3]) + " with " +
                      std::to_string(image.m_channels) + " channels");
    }
    auto bitmap = std::make_unique<KVEL::Bitmap>();
    bitmap->createFromBuffer(image.width(), image.height(), image.m_channels, nullptr);
    const std::size_t bytes = static_cast<std::size_t>(image.m_image_size);
    if (!bitmap->data()) throw Failure(path + ": out of memory");
    if (KVEL::glTypeOf(&image) == KVEL::kGlUnsignedByte) {
        std::memcpy(bitmap->data(), static_cast<KVEL::ImageBase<unsigned char>&>(image).data(), bytes);
    } else {
        std::unique_ptr<unsigned char[]> mapped(image.toBytes(nullptr, false));
        if (!mapped) throw Failure(path + ": out of memory");
        std::memcpy(bitmap->data(), mapped.get(), bytes);
    }
    return bitmap;
}

}  // namespace

void checkImageFileName(const std::string& path) {
    if (!hasExtension(path, ".bmp") && !hasExtension(path, ".mhd") && !hasExtension(path, ".mha")) {
        throw Failure(path + ": unknown file type (the name must end in .bmp, .mhd or .mha)", true);
    }
}

std::unique_ptr<KVEL::Image> readImage(const std::string& path) {
    checkImageFileName(path);
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
    } else {
        throw Failure(path + ": " + std::strerror(errno));
    }
    LibraryOutput chatter;
    std::unique_ptr<KVEL::Image> image(KVEL::readMetaImage(path.c_str()));
    if (!image) throw Failure(path + ": " + chatter.reason("not an image file this tool can read"));
    image->m_verbose = 0;
    image->computeRange();
    return image;
}

void writeImage(KVEL::Image& image, const std::string& path) {
    checkImageFileName(path);
    const fs::path target = fs::absolute(path);
    ScratchFolder scratch(target, path);
    const fs::path staged = scratch.path() / target.filename();
    LibraryOutput chatter;
    bool written;
    if (hasExtension(path, ".bmp")) {
        auto* bitmap = dynamic_cast<KVEL::Bitmap*>(&image);
        std::unique_ptr<KVEL::Bitmap> converted;
        if (!bitmap) {
            converted = toBitmap(image, path);
            bitmap = converted.get();
        }
        written = bitmap->save(staged.c_str()) == 1;
    } else if (hasExtension(path, ".mhd")) {
        written = KVEL::writeMetaImage(fs::path(staged).replace_extension().c_str(), &image) == 0;
    } else {
        written = KVEL::writeMetaImageFile(staged.c_str(), &image, true) == 0;
    }
    if (!written) throw Failure(path + ": " + chatter.reason("cannot be written"));

    // The header goes last, so it never names a data file that is not there yet.
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(scratch.path())) files.push_back(entry.path());
    std::stable_partition(files.begin(), files.end(), [&](const fs::path& p) { return p != staged; });
    for (const fs::path& file : files) {
        std::error_code error;
        fs::rename(file, target.parent_path() / file.filename(), error);
        if (error) throw Failure(path + ": cannot be written: " + error.message());
    }
}
