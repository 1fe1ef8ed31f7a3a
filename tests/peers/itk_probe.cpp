// Where ITK places a file's voxels: prints the origin, spacing and direction
// ITK reads (LPS, direction row by row), the extents and, for each physical
// point given, the values of the voxel nearest to it in the first frame, or
// "outside". A folder is read as a DICOM series (GDCMSeriesFileNames,
// ImageSeriesReader, GDCMImageIO): the series of that UID, or the one of most files.
//   itk_probe [--series UID] PATH [X Y Z]...
#include <itkGDCMImageIO.h>
#include <itkGDCMSeriesFileNames.h>
#include <itkImageFileReader.h>
#include <itkImageSeriesReader.h>
#include <itkMetaImageIOFactory.h>
#include <itkNiftiImageIOFactory.h>
#include <itkNrrdImageIOFactory.h>
#include <itkVectorImage.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

template <class Image>
void report(const Image* image, int argc, char** argv) {
    const auto origin = image->GetOrigin();
    const auto spacing = image->GetSpacing();
    const auto direction = image->GetDirection();
    const auto size = image->GetLargestPossibleRegion().GetSize();
    std::printf("origin %.17g %.17g %.17g\n", origin[0], origin[1], origin[2]);
    std::printf("spacing %.17g %.17g %.17g\n", spacing[0], spacing[1], spacing[2]);
    std::printf("direction");
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) std::printf(" %.17g", direction[r][c]);
    std::printf("\nsize %lu %lu %lu\n", static_cast<unsigned long>(size[0]), static_cast<unsigned long>(size[1]),
                static_cast<unsigned long>(size[2]));
    for (int i = 0; i + 2 < argc; i += 3) {
        typename Image::PointType point;
        for (unsigned a = 0; a < Image::ImageDimension; ++a) point[a] = a < 3 ? std::atof(argv[i + a]) : origin[a];
        typename Image::IndexType index;
        if (!image->TransformPhysicalPointToIndex(point, index)) {
            std::printf("outside\n");
            continue;
        }
        const auto value = image->GetPixel(index);
        for (unsigned c = 0; c < value.GetSize(); ++c) std::printf("%s%.17g", c ? " " : "", value[c]);
        std::printf("\n");
    }
}

// Slices are stacked into three dimensions (read into four, each file would be a volume).
void reportSeries(const std::string& folder, const std::string& uid, int argc, char** argv) {
    using Image = itk::VectorImage<double, 3>;
    auto names = itk::GDCMSeriesFileNames::New();
    names->SetDirectory(folder);
    std::string pick = uid;
    if (pick.empty()) {
        std::size_t most = 0;
        for (const std::string& series : names->GetSeriesUIDs()) {
            const std::size_t files = names->GetFileNames(series).size();
            if (files > most) most = files, pick = series;
        }
    }
    auto reader = itk::ImageSeriesReader<Image>::New();
    reader->SetImageIO(itk::GDCMImageIO::New());
    reader->SetFileNames(names->GetFileNames(pick));
    reader->Update();
    report(reader->GetOutput(), argc, argv);
}

// Four dimensions, so that ITK keeps the direction of a 4-D file (read into
// three it drops it); a 3-D file has one frame.
void reportFile(const char* path, int argc, char** argv) {
    using Image = itk::VectorImage<double, 4>;
    itk::MetaImageIOFactory::RegisterOneFactory();
    itk::NiftiImageIOFactory::RegisterOneFactory();
    itk::NrrdImageIOFactory::RegisterOneFactory();
    auto reader = itk::ImageFileReader<Image>::New();
    reader->SetFileName(path);
    reader->Update();
    report(reader->GetOutput(), argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    std::string uid;
    if (argc > 2 && std::strcmp(argv[1], "--series") == 0) {
        uid = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc < 2 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr, "usage: itk_probe [--series UID] PATH [X Y Z]...\n");
        return 2;
    }
    struct stat info;
    try {
        if (stat(argv[1], &info) == 0 && S_ISDIR(info.st_mode)) {
            reportSeries(argv[1], uid, argc - 2, argv + 2);
        } else {
            reportFile(argv[1], argc - 2, argv + 2);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "itk_probe: %s\n", e.what());
        return 1;
    }
    return 0;
}
