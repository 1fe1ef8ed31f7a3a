#include "imagelib/detail/registration_volume.h"

#include "imagelib/detail/element_types.h"
#include "imagelib/detail/thread_pool.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace KVEL {

namespace {

Vec3 affine(const Matrix3& m, const Vec3& offset, const Vec3& v) {
    Vec3 out;
    for (int r = 0; r < 3; ++r) out[r] = offset[r] + m[r][0] * v[0] + m[r][1] * v[1] + m[r][2] * v[2];
    return out;
}

// One separable pass along `axis`: out has `outExtent` voxels on that axis,
// voxel i taken from around in[i * factor + (factor - 1) / 2], edges repeated.
// Each output adds its taps in kernel order, whichever loop runs innermost.
void smoothAxis(const float* in, const int inDim[3], int axis, int factor,
                std::vector<float>& out, int outDim[3]) {
    for (int a = 0; a < 3; ++a) outDim[a] = inDim[a];
    outDim[axis] = std::max(1, inDim[axis] / factor);
    const double sigma = factor / 2.0;
    const int radius = factor > 1 ? static_cast<int>(std::ceil(3 * sigma)) : 0;
    std::vector<double> kernel(2 * radius + 1);
    double total = 0;
    for (int k = -radius; k <= radius; ++k) total += kernel[k + radius] = std::exp(-0.5 * k * k / (sigma * sigma));
    for (double& w : kernel) w /= total;
    const long long inStride[3] = {1, inDim[0], 1LL * inDim[0] * inDim[1]};
    out.resize(static_cast<std::size_t>(1LL * outDim[0] * outDim[1] * outDim[2]));
    const int centre = (factor - 1) / 2;
    const int last = inDim[axis] - 1;
    const long long rows = 1LL * outDim[1] * outDim[2];
    RowParts(rows, 1LL * outDim[0] * (2 * radius + 1)).forEachRange([&](long long first, long long end) {
        std::vector<double> sum(static_cast<std::size_t>(outDim[0]));
        for (long long row = first; row < end; ++row) {
            const int y = static_cast<int>(row % outDim[1]), z = static_cast<int>(row / outDim[1]);
            float* target = out.data() + row * outDim[0];
            if (axis == 0) {
                const float* source = in + y * inStride[1] + z * inStride[2];
                for (int x = 0; x < outDim[0]; ++x) {
                    const int c = x * factor + centre;
                    double s = 0;
                    if (c - radius >= 0 && c + radius <= last) {
                        for (int k = -radius; k <= radius; ++k) s += kernel[k + radius] * source[c + k];
                    } else {
                        for (int k = -radius; k <= radius; ++k)
                            s += kernel[k + radius] * source[std::clamp(c + k, 0, last)];
                    }
                    target[x] = static_cast<float>(s);
                }
                continue;
            }
            // Along y or z every tap is a whole input row: add rows, x innermost.
            const int c = (axis == 1 ? y : z) * factor + centre;
            std::fill(sum.begin(), sum.end(), 0.0);
            for (int k = -radius; k <= radius; ++k) {
                int at[3] = {0, y, z};
                at[axis] = std::clamp(c + k, 0, last);
                const float* source = in + at[1] * inStride[1] + at[2] * inStride[2];
                const double w = kernel[k + radius];
                for (int x = 0; x < outDim[0]; ++x) sum[x] += w * source[x];
            }
            for (int x = 0; x < outDim[0]; ++x) target[x] = static_cast<float>(sum[x]);
        }
    });
}

}  // namespace

Vec3 Volume::point(const Vec3& i) const { return affine(toPoint, origin, i); }
Vec3 Volume::index(const Vec3& p) const { return affine(toIndex, indexOffset, p); }
Vec3 Volume::centre() const { return point({(dim[0] - 1) / 2.0, (dim[1] - 1) / 2.0, (dim[2] - 1) / 2.0}); }

Volume gridOf(const Image& image) {
    Volume v;
    const Vec3 zero{0, 0, 0};
    v.origin = physicalPoint(image, zero);
    v.indexOffset = continuousIndex(image, zero);
    for (int c = 0; c < 3; ++c) {
        Vec3 unit{0, 0, 0};
        unit[c] = 1;
        const Vec3 p = physicalPoint(image, unit), i = continuousIndex(image, unit);
        for (int r = 0; r < 3; ++r) {
            v.toPoint[r][c] = p[r] - v.origin[r];
            v.toIndex[r][c] = i[r] - v.indexOffset[r];
        }
    }
    return v;
}

Volume channelZero(const Image& image) {
    Volume v = gridOf(image);
    if (image.m_channels <= 0 || image.m_dim[0] <= 0 || image.m_dim[1] <= 0 || image.m_dim[2] <= 0) return v;
    withTypedImage(const_cast<Image*>(&image), [&](auto& typed) {
        using T = std::remove_reference_t<decltype(*typed.data())>;
        if (!typed.data()) return;
        for (int a = 0; a < 3; ++a) v.dim[a] = image.m_dim[a];
        if constexpr (std::is_same_v<T, float>) {
            if (image.m_channels == 1) {
                v.values = typed.data();
                return;
            }
        }
        v.owned.resize(static_cast<std::size_t>(v.size()));
        const auto* data = typed.data();
        const long long channels = image.m_channels;
        for (long long i = 0; i < v.size(); ++i) v.owned[i] = static_cast<float>(data[i * channels]);
        v.values = v.owned.data();
    });
    if (!v.values) v.dim[0] = v.dim[1] = v.dim[2] = 0;
    return v;
}

Volume shrink(const Volume& volume, const int factor[3]) {
    Volume out;
    out.toPoint = volume.toPoint;
    out.toIndex = volume.toIndex;
    out.indexOffset = volume.indexOffset;
    std::vector<float> a, b;
    const float* from = volume.values;  // the last pass's result
    int inDim[3] = {volume.dim[0], volume.dim[1], volume.dim[2]}, outDim[3];
    Vec3 shift{};
    for (int axis = 0; axis < 3; ++axis) {
        const int f = std::clamp(factor[axis], 1, std::max(1, inDim[axis]));
        if (f > 1) {
            smoothAxis(from, inDim, axis, f, b, outDim);
            a.swap(b);
            from = a.data();
            for (int k = 0; k < 3; ++k) inDim[k] = outDim[k];
        }
        shift[axis] = (f - 1) / 2.0;
        for (int r = 0; r < 3; ++r) {
            out.toPoint[r][axis] = volume.toPoint[r][axis] * f;
            out.toIndex[axis][r] = volume.toIndex[axis][r] / f;
        }
        out.indexOffset[axis] = (volume.indexOffset[axis] - shift[axis]) / f;
    }
    out.origin = volume.point(shift);
    for (int k = 0; k < 3; ++k) out.dim[k] = inDim[k];
    if (from == volume.values) a.assign(volume.begin(), volume.end());  // nothing shrank
    out.owned.swap(a);
    out.values = out.owned.data();
    return out;
}

bool linearAt(const Volume& v, const Vec3& index, float& value, Vec3& gradient) {
    int i[3];
    double f[3];
    for (int a = 0; a < 3; ++a) {
        const double p = index[a];
        if (v.dim[a] == 1) {
            if (!(std::fabs(p) <= 0.5)) return false;
            i[a] = 0;
            f[a] = 0;
            continue;
        }
        if (!(p >= 0 && p <= v.dim[a] - 1)) return false;
        i[a] = std::min(static_cast<int>(p), v.dim[a] - 2);
        f[a] = p - i[a];
    }
    const long long sx = v.dim[0] > 1 ? 1 : 0, sy = v.dim[1] > 1 ? v.dim[0] : 0,
                    sz = v.dim[2] > 1 ? 1LL * v.dim[0] * v.dim[1] : 0;
    const float* p = v.values + i[0] + 1LL * i[1] * v.dim[0] + 1LL * i[2] * v.dim[0] * v.dim[1];
    const double c000 = p[0], c100 = p[sx], c010 = p[sy], c110 = p[sx + sy];
    const double c001 = p[sz], c101 = p[sx + sz], c011 = p[sy + sz], c111 = p[sx + sy + sz];
    const double fx = f[0], fy = f[1], fz = f[2];
    const double c00 = c000 + fx * (c100 - c000), c10 = c010 + fx * (c110 - c010);
    const double c01 = c001 + fx * (c101 - c001), c11 = c011 + fx * (c111 - c011);
    const double c0 = c00 + fy * (c10 - c00), c1 = c01 + fy * (c11 - c01);
    value = static_cast<float>(c0 + fz * (c1 - c0));
    const double dx0 = (c100 - c000) + fy * ((c110 - c010) - (c100 - c000));
    const double dx1 = (c101 - c001) + fy * ((c111 - c011) - (c101 - c001));
    gradient[0] = sx ? dx0 + fz * (dx1 - dx0) : 0;
    gradient[1] = sy ? (c10 - c00) + fz * ((c11 - c01) - (c10 - c00)) : 0;
    gradient[2] = sz ? c1 - c0 : 0;
    return true;
}

}  // namespace KVEL
