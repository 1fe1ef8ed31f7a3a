// Where ITK places a file's voxels: prints the origin, spacing and direction
// ITK reads (LPS, direction row by row) and, for each physical point given,
// the values of the voxel nearest to it in the first frame, or "outside".
//   itk_probe FILE [X Y Z]...
#include <itkImageFileReader.h>
#include <itkMetaImageIOFactory.h>
#include <itkNiftiImageIOFactory.h>
#include <itkNrrdImageIOFactory.h>
#include <itkVectorImage.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
    if (argc < 2 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr, "usage: itk_probe FILE [X Y Z]...\n");
        return 2;
    }
    // Four dimensions, so that ITK keeps the direction of a 4-D file (read
    // into three it drops it); a 3-D file has one frame.
    using Image = itk::VectorImage<double, 4>;
    itk::MetaImageIOFactory::RegisterOneFactory();
    itk::NiftiImageIOFactory::RegisterOneFactory();
    itk::NrrdImageIOFactory::RegisterOneFactory();
    auto reader = itk::ImageFileReader<Image>::New();
    reader->SetFileName(argv[1]);
    try {
        reader->Update();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "itk_probe: %s\n", e.what());
        return 1;
    }
    const Image* image = reader->GetOutput();
    const auto origin = image->GetOrigin();
    const auto spacing = image->GetSpacing();
    const auto direction = image->GetDirection();
    std::printf("origin %.17g %.17g %.17g\n", origin[0], origin[1], origin[2]);
    std::printf("spacing %.17g %.17g %.17g\n", spacing[0], spacing[1], spacing[2]);
    std::printf("direction");
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) std::printf(" %.17g", direction[r][c]);
    std::printf("\n");
    for (int i = 2; i < argc; i += 3) {
        Image::PointType point;
        for (int a = 0; a < 3; ++a) point[a] = std::atof(argv[i + a]);
        point[3] = origin[3];
        Image::IndexType index;
        if (!image->TransformPhysicalPointToIndex(point, index)) {
            std::printf("outside\n");
            continue;
        }
        const auto value = image->GetPixel(index);
        for (unsigned c = 0; c < value.GetSize(); ++c) std::printf("%s%.17g", c ? " " : "", value[c]);
        std::printf("\n");
    }
    return 0;
}
