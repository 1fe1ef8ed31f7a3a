#include "image_files.h"

#include <kvel/image_file.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "failure.h"

namespace {

// Pictures of 8-bit channels, mapped through the channel windows.
std::unique_ptr<KVEL::Image> toBytes(KVEL::Image& image, const std::string& path) {
    auto bytes = std::make_unique<KVEL::ImageBase<unsigned char>>();
    const int* d = image.m_dim;
    if (bytes->init(d[0], d[1], d[2], d[3], image.m_channels) != 0) throw Failure(path + ": out of memory");
    std::unique_ptr<unsigned char[]> mapped(image.toBytes(nullptr, false));
    if (!mapped && image.m_image_size > 0) throw Failure(path + ": out of memory");
    std::memcpy(bytes->data(), mapped.get(), static_cast<std::size_t>(image.m_image_size));
    bytes->setSpacing(image.m_spacing[0], image.m_spacing[1], image.m_spacing[2], image.m_spacing[3]);
    return bytes;
}

bool needsBytes(KVEL::FileFormat format, int glType) {
    switch (format) {
        case KVEL::FileFormat::kBmp:
        case KVEL::FileFormat::kJpeg: return glType != KVEL::kGlUnsignedByte;
        case KVEL::FileFormat::kPng: return glType != KVEL::kGlUnsignedByte && glType != KVEL::kGlUnsignedShort;
        default: return false;
    }
}

}  // namespace

void checkImageFileName(const std::string& path) {
    if (KVEL::formatForName(path.c_str()) == KVEL::FileFormat::kUnknown) {
        throw Failure(path + ": unknown file type (the name must end in .png, .jpg, .jpeg, .tif, .tiff, .nii, .nii.gz, .bmp, .mhd or .mha)", true);
    }
}

std::unique_ptr<KVEL::Image> readImage(const std::string& path, const std::string& series) {
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
    } else {
        throw Failure(path + ": " + std::strerror(errno));
    }
    std::unique_ptr<KVEL::Image> image(KVEL::readImage(path.c_str(), KVEL::ReadOptions{series}));
    if (!image) throw Failure(path + ": " + libraryReason("not an image file this tool can read"));
    if (series.empty() && KVEL::formatOfFile(path.c_str()) == KVEL::FileFormat::kDicom) {
        const std::size_t count = KVEL::listDicomSeries(path.c_str()).size();
        if (count > 1) {
            std::cerr << "kvel: " << path << " holds " << count << " series; read the largest (kvel info " << path
                      << " lists them, --series UID picks one)\n";
        }
    }
    image->m_verbose = 0;
    image->computeRange();
    return image;
}

std::string imageFormatName(const std::string& path) {
    return KVEL::formatName(KVEL::formatOfFile(path.c_str()));
}

void writeImage(KVEL::Image& image, const std::string& path) {
    checkImageFileName(path);
    std::unique_ptr<KVEL::Image> converted;
    KVEL::Image* out = &image;
    if (needsBytes(KVEL::formatForName(path.c_str()), KVEL::glTypeOf(&image))) {
        converted = toBytes(image, path);
        out = converted.get();
    }
    if (KVEL::writeImage(path.c_str(), out) != 0) throw Failure(path + ": " + libraryReason("cannot be written"));
}
