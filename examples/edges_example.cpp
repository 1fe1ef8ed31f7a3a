// Loads a BMP, smooths it with a Gaussian, finds its edges and writes them as
// a MetaImage.  usage: edges_example IN.bmp OUT_BASE LOW_THRESHOLD

#include <kvel/bitmap.h>
#include <kvel/edges.h>
#include <kvel/metaimage.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s IN.bmp OUT_BASE LOW_THRESHOLD\n", argv[0]);
        return 2;
    }
    KVEL::Bitmap picture;
    if (picture.load(argv[1]) != 1) {
        std::fprintf(stderr, "%s: cannot load %s\n", argv[0], argv[1]);
        return 1;
    }
    std::unique_ptr<float[]> kernel(KVEL::gaussianKernel(5, 5, 1.0f));
    std::unique_ptr<KVEL::Image> smooth(picture.filter(KVEL::kGlFloat, kernel.get(), 5, nullptr));
    if (!smooth) return 1;

    KVEL::Bitmap edges;
    edges.createFromBuffer(smooth->width(), smooth->height(), 1, nullptr);
    if (KVEL::detectEdges2D(smooth.get(), std::strtof(argv[3], nullptr), edges.data()) != 0) return 1;
    return KVEL::writeMetaImage(argv[2], &edges);
}
