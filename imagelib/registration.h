#pragma once

// Rigid and affine registration: the transform that lays a moving image on a
// fixed one, found in physical space (LPS, see <kvel/space.h>), so the two
// images may differ in grid, spacing, field of view and orientation.
//
// The transform maps fixed physical points to moving physical points, as ITK's
// do: the moving image resampled through it (resampleOnto) lies on the fixed
// image. Images of depth 1 register in their plane: a rotation about z and two
// translations, or a 2x2 matrix and two translations for affine.
//
// How it searches:
// - A smoothed pyramid: level l shrinks both images by shrinkFactors[l] after
//   a Gaussian of sigma shrink/2 voxels (less for small images: every level
//   keeps 16 voxels along each axis); the last level is usually the images
//   themselves.
// - Samples are the fixed level's voxels on a regular grid (inside the mask),
//   thinned by a whole stride per axis to at most maxSamples: no randomness.
// - Quasi-Newton steps (BFGS on the inverse Hessian) with a backtracking line
//   search, no step longer than the level's spacing. A level ends after its
//   iterations, after three steps in a row shorter than minimumStep level
//   spacings, or when not even a short step along the gradient lowers the
//   metric.
// - Parameter scaling: rotations (and the affine matrix) are measured at the
//   fixed image's radius, so one scaled unit moves its edge by about 1 mm,
//   the same as one unit of translation.
// - Rotations are updated on the rotation group (R <- R exp(w)), so no Euler
//   angle ever locks; the six parameters are derived from the final matrix.
//
// Every sum is taken over blocks of samples whose bounds depend only on the
// sample count, folded in block order: the result is the same bit for bit at
// every thread count and from run to run.

#include <kvel/imagebase.h>
#include <kvel/space.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace KVEL {

// An affine map of physical points, fixed to moving: p' = A p + t.
struct KVEL_API Transform {
    enum class Kind { Rigid, Affine };
    Kind kind = Kind::Rigid;
    int dimension = 3;  // 2: acts in the x-y plane, z kept
    Matrix3 matrix = identityDirection();
    Vec3 translation{0, 0, 0};
    // The centre of rotation; it does not change the map, only how ITK's
    // files and the parameters below split it.
    Vec3 center{0, 0, 0};

    Vec3 apply(const Vec3& point) const;
    // Column-major 4x4 as <kvel/rigid.h> uses it: m[12..14] the translation.
    std::array<double, 16> matrix4() const;
    // tx, ty, tz, a, b, c as matrixToRigid reads the 4x4 (rigid only).
    std::array<double, 6> rigidParameters() const;
};

enum class Metric { MeanSquares, Correlation, MutualInformation };
// Where the search starts: the centres of the two grids, or the intensity-
// weighted centres (above each image's minimum) put on each other.
enum class Start { GeometryCentres, MassCentres };

struct RegistrationProgress {
    int level;  // 0 is the coarsest
    int levels;
    int iteration;
    double metric;
    double step;
};

struct RegistrationOptions {
    Metric metric = Metric::MutualInformation;
    Start start = Start::MassCentres;
    std::vector<int> shrinkFactors{8, 4, 2, 1};
    std::vector<int> iterations{200, 200, 100, 60};  // per level; the last repeats
    int maxSamples = 1 << 15;
    int histogramBins = 32;      // mutual information
    double minimumStep = 0.005;  // in level spacings
    // Nonzero voxels are used; a mask on another grid is looked up through
    // physical space, which resamples it onto the fixed grid.
    const Image* fixedMask = nullptr;
    // Called on the caller's thread after every iteration; false stops the run.
    std::function<bool(const RegistrationProgress&)> progress;
};

struct RegistrationResult {
    std::optional<Transform> transform;  // empty on failure
    std::string error;                   // why, when it failed
    std::array<double, 6> parameters{};  // rigid: tx, ty, tz, a, b, c
    double metric = 0;                   // at the final transform, last level
    std::vector<int> iterations;         // per level
};

// Channel 0 of both images. Neither image is changed.
KVEL_API RegistrationResult registerRigid(const Image& fixed, const Image& moving,
                                          const RegistrationOptions& options = {});
KVEL_API RegistrationResult registerAffine(const Image& fixed, const Image& moving,
                                           const RegistrationOptions& options = {});

enum class Interpolation { Nearest, Linear, Cubic };

// The moving image (channel 0) on the reference's grid through the transform:
// a new ImageBase<float> with the reference's extents and geometry; points
// outside the moving image get `outside`. Null for an empty image.
KVEL_API Image* resampleOnto(Image& moving, const Image& reference, const Transform& transform,
                             Interpolation interpolation, float outside = 0);

// ITK's text transform files (#Insight Transform File V1.0): rigid as
// Euler3DTransform_double_3_3 or Euler2DTransform_double_2_2 with the centre,
// affine as AffineTransform_double_3_3 or _2_2. Writing replaces the file
// only when whole; both return false with the reason in lastError().
KVEL_API bool writeTransform(const Transform& transform, const char* path);
KVEL_API std::optional<Transform> readTransform(const char* path);

}  // namespace KVEL
