// The moving image on a reference grid through a transform of physical points.

#include "imagelib/registration.h"

#include "imagelib/detail/messages.h"
#include "imagelib/detail/registration_volume.h"
#include "imagelib/detail/thread_pool.h"
#include "imagelib/errors.h"

#include <cmath>
#include <memory>
#include <vector>

namespace KVEL {

Image* resampleOnto(Image& moving, const Image& reference, const Transform& transform,
                    Interpolation interpolation, float outside) {
    clearLastError();
    const Volume source = channelZero(moving);
    const int* d = reference.m_dim;
    if (source.empty() || d[0] <= 0 || d[1] <= 0 || d[2] <= 0) {
        reportFailure("Error: resampleOnto needs two images with voxels");
        return nullptr;
    }
    auto out = std::make_unique<ImageBase<float>>();
    out->m_verbose = reference.m_verbose;
    if (out->init(d[0], d[1], d[2], 1, 1) != 0) return nullptr;
    copyGeometry(*out, reference);
    const Volume grid = gridOf(*out);
    float* data = out->data();
    RowParts(1LL * d[1] * d[2], 30LL * d[0]).forEachRange([&](long long first, long long last) {
        std::vector<float> channels(static_cast<std::size_t>(moving.m_channels));
        for (long long row = first; row < last; ++row) {
            const int y = static_cast<int>(row % d[1]), z = static_cast<int>(row / d[1]);
            for (int x = 0; x < d[0]; ++x) {
                const Vec3 i = source.index(transform.apply(grid.point({double(x), double(y), double(z)})));
                float value = outside;
                Vec3 gradient;
                if (interpolation == Interpolation::Nearest) {
                    long long at = 0, scale = 1;
                    bool inside = true;
                    for (int a = 0; a < 3 && inside; ++a) {
                        const double r = std::floor(i[a] + 0.5);
                        inside = r >= 0 && r < source.dim[a];
                        if (inside) at += static_cast<long long>(r) * scale;
                        scale *= source.dim[a];
                    }
                    if (inside) value = source.values[at];
                } else if (linearAt(source, i, value, gradient)) {
                    if (interpolation == Interpolation::Cubic) {
                        moving.getTricubic(channels.data(), float(i[0]), float(i[1]), float(i[2]));
                        value = channels[0];
                    }
                } else {
                    value = outside;
                }
                data[x + 1LL * d[0] * row] = value;
            }
        }
    });
    return out.release();
}

}  // namespace KVEL
