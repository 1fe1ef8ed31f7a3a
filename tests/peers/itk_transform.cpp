// ITK's reading of a transform file: maps the points given as arguments
// (x y z triples, or x y pairs for a 2-D transform) and prints one per line.
// usage: itk_transform FILE.tfm X Y [Z] ...

#include <itkTransform.h>
#include <itkTransformFileReader.h>
#include <itkTransformFactoryBase.h>
#include <itkTxtTransformIOFactory.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    itk::TransformFactoryBase::RegisterDefaultTransforms();
    itk::TxtTransformIOFactory::RegisterOneFactory();
    auto reader = itk::TransformFileReaderTemplate<double>::New();
    reader->SetFileName(argv[1]);
    try {
        reader->Update();
    } catch (const itk::ExceptionObject& e) {
        std::fprintf(stderr, "%s\n", e.GetDescription());
        return 1;
    }
    const auto* list = reader->GetTransformList();
    if (list->size() != 1) return 1;
    using Transform2 = itk::Transform<double, 2, 2>;
    using Transform3 = itk::Transform<double, 3, 3>;
    const auto* base = list->front().GetPointer();
    if (const auto* t = dynamic_cast<const Transform3*>(base)) {
        for (int i = 2; i + 2 < argc; i += 3) {
            Transform3::InputPointType p;
            for (int k = 0; k < 3; ++k) p[k] = std::atof(argv[i + k]);
            const auto q = t->TransformPoint(p);
            std::printf("%.17g %.17g %.17g\n", q[0], q[1], q[2]);
        }
    } else if (const auto* t2 = dynamic_cast<const Transform2*>(base)) {
        for (int i = 2; i + 1 < argc; i += 2) {
            Transform2::InputPointType p;
            for (int k = 0; k < 2; ++k) p[k] = std::atof(argv[i + k]);
            const auto q = t2->TransformPoint(p);
            std::printf("%.17g %.17g\n", q[0], q[1]);
        }
    } else {
        return 1;
    }
    return 0;
}
