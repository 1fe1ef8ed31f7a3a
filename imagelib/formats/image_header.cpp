// What a file holds without reading its elements, where the format allows:
// the MetaImage, NIfTI, NRRD, TIFF and DICOM readers stop after their
// headers (TIFF's page directories); other formats are decoded whole.
#include "imagelib/image_file.h"

#include "imagelib/space.h"

#include "imagelib/detail/messages.h"
#include "imagelib/formats/codecs.h"

#include <memory>
#include <new>

namespace KVEL {

void describeImage(const Image& image, ImageHeader& header) {
    header.glType = glTypeOf(&image);
    for (int i = 0; i < 4; ++i) {
        header.dim[i] = image.m_dim[i];
        header.spacing[i] = image.m_spacing[i];
    }
    for (int i = 0; i < 3; ++i) header.position[i] = image.m_position[i];
    header.channels = image.m_channels;
    const Matrix3 direction = directionOf(image);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) header.direction[r][c] = direction[r][c];
    }
}

int readHeader(const char* path, ImageHeader& header, const ReadOptions& options) {
    clearLastError();
    header = ImageHeader();
    if (!path) {
        reportFailure("Error: no image file name given");
        return 1;
    }
    header.format = formatOfFile(path);
    try {
        if (header.format == FileFormat::kMetaImage) return readMetaImageHeader(path, header) ? 0 : 1;
        if (header.format == FileFormat::kNifti) return readNiftiFileHeader(path, header) ? 0 : 1;
        if (header.format == FileFormat::kNrrd) return readNrrdFileHeader(path, header) ? 0 : 1;
        if (header.format == FileFormat::kTiff) return readTiffFileHeader(path, header) ? 0 : 1;
        if (header.format == FileFormat::kDicom) return readDicomFileHeader(path, options, header) ? 0 : 1;
        std::unique_ptr<Image> image(readImage(path));
        if (!image) return 1;
        describeImage(*image, header);
        return 0;
    } catch (const std::bad_alloc&) {
        reportFailure("Error: out of memory for the header of " + std::string(path));
        return 1;
    }
}

}  // namespace KVEL
