#pragma once

// The parameters registration moves: small changes around the current
// transform, in scaled units (rotations and matrix entries at the fixed
// image's radius, so every unit moves points by about a millimetre).
//   rigid 3-D:  rotation vector w (3), translation (3)
//   rigid 2-D:  rotation about z (1), translation in x, y (2)
//   affine 3-D: matrix change (9), translation (3)
//   affine 2-D: matrix change (4), translation in x, y (2)

#include "imagelib/registration.h"

#include <vector>

namespace KVEL {

class ParameterModel {
public:
    ParameterModel(Transform::Kind kind, int dimension, double radius);
    int count() const { return m_count; }

    // Adds d(moving point)/d(parameter) . gradient to out[0..count), for the
    // fixed point's offset d from the centre and the moving image's physical
    // gradient there, times weight.
    void accumulate(const Transform& current, const Vec3& d, const Vec3& gradient, double weight,
                    double* out) const;
    // The transform moved by `step` (scaled units).
    Transform moved(const Transform& current, const std::vector<double>& step) const;

private:
    Transform::Kind m_kind;
    int m_dimension;
    double m_radius;
    int m_count;
};

}  // namespace KVEL
