#include "image_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <kvel/image_file.h>

#include "operations/pictures.h"
#include "failure.h"

void checkImageFileName(const std::string& path) {
    if (KVEL::formatForName(path.c_str()) == KVEL::FileFormat::kUnknown) {
        throw Failure(path + ": unknown file type (the name must end in .png, .jpg, .jpeg, .tif, .tiff, .nii, .nii.gz, .nrrd, .bmp, .mhd or .mha)", true);
    }
}

std::string takeSeries(std::vector<std::string>& args) {
    const auto at = std::find(args.begin(), args.end(), "--series");
    if (at == args.end()) return "";
    if (at + 1 == args.end()) throw Failure("--series needs a SeriesInstanceUID", true);
    const std::string uid = *(at + 1);
    args.erase(at, at + 2);
    return uid;
}

std::unique_ptr<KVEL::Image> readImage(const std::string& path, const std::string& series) {
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
    } else {
        throw Failure(path + ": " + std::strerror(errno));
    }
    std::vector<KVEL::DicomSeries> found;
    std::unique_ptr<KVEL::Image> image(KVEL::readImage(path.c_str(), KVEL::ReadOptions{series, 0, -1, &found}));
    if (!image) throw Failure(path + ": " + kvelops::libraryReason("not an image file this tool can read"));
    if (series.empty() && found.size() > 1) {
        std::cerr << "kvel: " << path << " holds " << found.size() << " series; read the largest (kvel info " << path
                  << " lists them, --series UID picks one)\n";
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
    if (kvelops::needsBytes(KVEL::formatForName(path.c_str()), KVEL::glTypeOf(&image))) {
        try {
            converted = kvelops::toBytes(image);
        } catch (const kvelops::Refusal& refusal) {
            throw Failure(path + ": " + refusal.reason);
        }
        out = converted.get();
    }
    if (KVEL::writeImage(path.c_str(), out) != 0) throw Failure(path + ": " + kvelops::libraryReason("cannot be written"));
}
