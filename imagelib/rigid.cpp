#include "imagelib/rigid.h"

#include "imagelib/element_data.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

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

Image* resampleRigid(const float* params, Image* source, Image* out, bool interpolate) {
    if (!hasElementData(source) || !params) {
        std::printf("Error: rigid resampling needs a source image with data!\n");
        return nullptr;
    }
    const int dim[3] = {source->width(), source->height(), source->depth()};
    const long long voxels = static_cast<long long>(dim[0]) * dim[1] * dim[2];
    if (out && (out->m_image_size != voxels || !hasElementData(out))) {
        std::printf("Error: rigid resampling output holds %d elements, not %lld!\n", out->m_image_size, voxels);
        return nullptr;
    }
    if (!out) {
        out = new ImageBase<float>;
        out->init(dim[0], dim[1], dim[2], 1, 1);
        out->setSpacing(source->m_spacing[0], source->m_spacing[1], source->m_spacing[2], 1.0f);
    }
    out->resetIteration();

    // The source's corner relative to its centre, transformed, back in voxels.
    float origin[3];
    for (int i = 0; i < 3; ++i) origin[i] = -0.5f * dim[i] * source->m_spacing[i];
    applyRigidTransform(origin, params, false);
    for (int i = 0; i < 3; ++i) origin[i] = origin[i] / source->m_spacing[i] + 0.5f * dim[i];
    float steps[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (float* step : steps) applyRigidTransform(step, params, true);
    const float* ex = steps[0];
    const float* ey = steps[1];
    const float* ez = steps[2];

    long long inside = 0;
    for (int z = 0; z < dim[2]; ++z) {
        for (int y = 0; y < dim[1]; ++y) {
            for (int x = 0; x < dim[0]; ++x) {
                float p[3];
                for (int i = 0; i < 3; ++i) p[i] = origin[i] + z * ez[i] + y * ey[i] + x * ex[i];
                float value = 0;
                if (p[0] >= 0 && p[1] >= 0 && p[2] >= 0 && p[0] < dim[0] - 1 && p[1] < dim[1] - 1 &&
                    p[2] < dim[2] - 1) {
                    value = interpolate ? source->getTrilinear(p[0], p[1], p[2])
                                        : source->getNearest(p[0], p[1], p[2]);
                    ++inside;
                }
                out->setNext(value);
            }
        }
    }
    if (source->m_verbose) {
        std::cout << "Used " << static_cast<double>(inside) * 100 / static_cast<double>(voxels) << " % of voxels"
                  << std::endl;
    }
    return out;
}

}  // namespace KVEL
