#include "imagelib/rigid.h"

#include "imagelib/detail/element_data.h"
#include "imagelib/detail/interpolation.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/thread_pool.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <numeric>
#include <string>
#include <vector>

namespace KVEL {

void transformPoint(float* point, const float* matrix, bool isDirection) {
    const float w = isDirection ? 0.0f : 1.0f;
    float result[3];
    for (int i = 0; i < 3; ++i) {
        result[i] = matrix[i] * point[0] + matrix[i + 4] * point[1] + matrix[i + 8] * point[2] + matrix[i + 12] * w;
    }
    std::memcpy(point, result, sizeof(result));
}

void matrixToRigid(float* params, const float* matrix) {
    // Rounding can push sin(b) just past 1, where asin has no value.
    const float sinB = std::fmax(-1.0f, std::fmin(1.0f, matrix[2]));
    params[0] = matrix[12];
    params[1] = matrix[13];
    params[2] = matrix[14];
    params[3] = std::atan2(-matrix[6], matrix[10]);
    params[4] = std::asin(sinB);
    params[5] = std::atan2(-matrix[1], matrix[0]);
}

void rigidToMatrix(const float* params, float* matrix) {
    const float ca = std::cos(params[3]), sa = std::sin(params[3]);
    const float cb = std::cos(params[4]), sb = std::sin(params[4]);
    const float cc = std::cos(params[5]), sc = std::sin(params[5]);
    const float m[16] = {cb * cc,
                         -cb * sc,
                         sb,
                         0,
                         sc * ca + cc * sa * sb,
                         cc * ca - sc * sa * sb,
                         -cb * sa,
                         0,
                         sc * sa - cc * ca * sb,
                         cc * sa + sc * ca * sb,
                         cb * ca,
                         0,
                         params[0],
                         params[1],
                         params[2],
                         1};
    std::memcpy(matrix, m, sizeof(m));
}

void multiplyMatrices(float* a, float* b, bool intoB) {
    float c[16];
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0;
            for (int r = 0; r < 4; ++r) sum += a[4 * r + row] * b[4 * col + r];
            c[4 * col + row] = sum;
        }
    }
    std::memcpy(intoB ? b : a, c, sizeof(c));
}

void invertRigid(const float* matrix, float* out) {
    float inverse[16];
    for (int col = 0; col < 3; ++col) {
        for (int row = 0; row < 3; ++row) inverse[4 * col + row] = matrix[4 * row + col];
        inverse[4 * col + 3] = 0;
    }
    // -(R^T t): row i of R^T is column i of R.
    for (int i = 0; i < 3; ++i) {
        inverse[12 + i] = -(matrix[4 * i] * matrix[12] + matrix[4 * i + 1] * matrix[13] + matrix[4 * i + 2] * matrix[14]);
    }
    inverse[15] = 1;
    std::memcpy(out, inverse, sizeof(inverse));
}

void invertRigidFlipZ(float* matrix, float* out) {
    matrix[14] = -matrix[14];
    const float kept[4] = {matrix[3], matrix[7], matrix[11], matrix[15]};
    invertRigid(matrix, out);
    out[3] = kept[0];
    out[7] = kept[1];
    out[11] = kept[2];
    out[15] = kept[3];
}

void applyRigidTransform(float* vector, const float* params, bool isDirection) {
    const float ca = std::cos(params[3]), sa = std::sin(params[3]);
    const float cb = std::cos(params[4]), sb = std::sin(params[4]);
    const float cc = std::cos(params[5]), sc = std::sin(params[5]);
    float x = vector[0], y = vector[1], z = vector[2];
    if (!isDirection) {
        x += params[0];
        y += params[1];
        z += params[2];
    }
    vector[0] = cb * cc * x + (sa * sb * cc - ca * sc) * y + (ca * sb * cc + sa * sc) * z;
    vector[1] = cb * sc * x + (sa * sb * sc + ca * cc) * y + (ca * sb * sc - sa * cc) * z;
    vector[2] = -sb * x + sa * cb * y + ca * cb * z;
}

namespace {

// Voxels x0 <= x < x1 of one output row: voxel x samples the source at
// base + x * ex, or is 0 where that lies outside. Returns how many samples lay
// inside. Branch-free, as the inside test flips unpredictably along turned
// rows: outside samples read voxel (0, 0, 0) and are dropped.
template <bool interpolate, class T, class U>
long long sampleRow(const ImageBase<T>& source, const float* base, const float* ex, int x0, int x1, U* out) {
    const int w = source.m_dim[0], h = source.m_dim[1], ch = source.m_channels;
    const float limit[3] = {static_cast<float>(w - 1), static_cast<float>(h - 1),
                            static_cast<float>(source.m_dim[2] - 1)};
    const T* data = source.m_data;
    long long inside = 0;
    for (int x = x0; x < x1; ++x) {
        const float fx = static_cast<float>(x);
        const float px = base[0] + fx * ex[0], py = base[1] + fx * ex[1], pz = base[2] + fx * ex[2];
        const int in = static_cast<int>(px >= 0) & static_cast<int>(py >= 0) & static_cast<int>(pz >= 0) &
                       static_cast<int>(px < limit[0]) & static_cast<int>(py < limit[1]) &
                       static_cast<int>(pz < limit[2]);
        const float cx = in ? px : 0.0f, cy = in ? py : 0.0f, cz = in ? pz : 0.0f;
        const int i = static_cast<int>(cx), j = static_cast<int>(cy), k = static_cast<int>(cz);
        float value;
        if (interpolate) {
            value = trilinearAt(data + i + w * (j + h * k), 1, w, w * h, cx - static_cast<float>(i),
                                cy - static_cast<float>(j), cz - static_cast<float>(k));
        } else {
            value = static_cast<float>(data[i * ch + j * source.m_stride + k * source.m_slice_size]);
        }
        out[x] = toElement<U>(in ? value : 0.0f);
        inside += in;
    }
    return inside;
}

// Fills out voxel (x, y, z) from origin + z * ez + y * ey + x * ex.
template <bool interpolate, class T, class U>
long long sampleVolume(const ImageBase<T>& source, const float* origin, const float (*steps)[3], ImageBase<U>& out) {
    const int w = source.m_dim[0], h = source.m_dim[1], d = source.m_dim[2];
    // Below 2 voxels along an axis nothing lies inside (and the row loop
    // would have no neighbours to read).
    if (w < 2 || h < 2 || d < 2) {
        std::fill(out.m_data, out.m_data + out.m_image_size, U(0));
        return 0;
    }
    // Tiles of output voxels sample a compact block of the source, which
    // stays in cache however the transform turns the rows.
    constexpr int kTile = 16;
    const int tilesY = (h + kTile - 1) / kTile, tilesZ = (d + kTile - 1) / kTile;
    // Parts take whole rows of tiles; the inside counts add up in any order.
    const RowParts parts(static_cast<long long>(tilesZ) * tilesY, 30LL * kTile * kTile * w);
    std::vector<long long> inside(parts.count(), 0);
    parts.run([&](int part) {
        for (long long tileRow = parts.begin(part); tileRow < parts.end(part); ++tileRow) {
            const int z0 = static_cast<int>(tileRow / tilesY) * kTile, y0 = static_cast<int>(tileRow % tilesY) * kTile;
            for (int x0 = 0; x0 < w; x0 += kTile) {
                for (int z = z0; z < std::min(d, z0 + kTile); ++z) {
                    for (int y = y0; y < std::min(h, y0 + kTile); ++y) {
                        float base[3];
                        for (int i = 0; i < 3; ++i) base[i] = origin[i] + z * steps[2][i] + y * steps[1][i];
                        U* row = out.m_data + w * (y + static_cast<std::size_t>(h) * z);
                        inside[part] += sampleRow<interpolate>(source, base, steps[0], x0, std::min(w, x0 + kTile), row);
                    }
                }
            }
        }
    });
    return std::accumulate(inside.begin(), inside.end(), 0LL);
}

}  // namespace

Image* resampleRigid(const float* params, Image* source, Image* out, bool interpolate) {
    clearLastError();
    if (!hasElementData(source) || !params) {
        reportFailure("Error: rigid resampling needs a source image with data!");
        return nullptr;
    }
    const int dim[3] = {source->width(), source->height(), source->depth()};
    const long long voxels = static_cast<long long>(dim[0]) * dim[1] * dim[2];
    if (out && (out->m_image_size != voxels || !hasElementData(out))) {
        reportFailure("Error: rigid resampling output holds " + std::to_string(out->m_image_size) + " elements, not " +
                      std::to_string(voxels) + "!");
        return nullptr;
    }
    if (!out) {
        out = new ImageBase<float>;
        if (out->init(dim[0], dim[1], dim[2], 1, 1) != 0) {
            delete out;
            return nullptr;
        }
        out->setSpacing(source->m_spacing[0], source->m_spacing[1], source->m_spacing[2], 1.0f);
    }

    // The source's corner relative to its centre, transformed, back in voxels.
    float origin[3];
    for (int i = 0; i < 3; ++i) origin[i] = -0.5f * dim[i] * source->m_spacing[i];
    applyRigidTransform(origin, params, false);
    for (int i = 0; i < 3; ++i) origin[i] = origin[i] / source->m_spacing[i] + 0.5f * dim[i];
    float steps[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (float* step : steps) applyRigidTransform(step, params, true);

    long long inside = 0;
    withTypedImage(source, [&](auto& typedSource) {
        withTypedImage(out, [&](auto& typedOut) {
            inside = interpolate ? sampleVolume<true>(typedSource, origin, steps, typedOut)
                                 : sampleVolume<false>(typedSource, origin, steps, typedOut);
        });
    });
    out->m_iteration = out->m_image_size;
    if (source->m_verbose) {
        std::cout << "Used " << static_cast<double>(inside) * 100 / static_cast<double>(voxels) << " % of voxels"
                  << std::endl;
    }
    return out;
}

}  // namespace KVEL
