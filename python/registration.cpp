#include "registration.h"

#include <kvel/registration.h>
#include <operations/operation.h>
#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <cmath>
#include <exception>
#include <string>

namespace kvelpy {

namespace {

struct PyTransform {
    KVEL::Transform transform;
    double metric = NAN;  // not a number for a transform read from a file
    std::vector<int> iterations;
};

KVEL::Metric metricNamed(const std::string& name) {
    if (name == "ms") return KVEL::Metric::MeanSquares;
    if (name == "ncc") return KVEL::Metric::Correlation;
    if (name == "mi") return KVEL::Metric::MutualInformation;
    throw py::value_error("metric must be 'ms', 'ncc' or 'mi', not '" + name + "'");
}

KVEL::Interpolation interpolationNamed(const std::string& name) {
    if (name == "nearest") return KVEL::Interpolation::Nearest;
    if (name == "linear") return KVEL::Interpolation::Linear;
    if (name == "cubic") return KVEL::Interpolation::Cubic;
    throw py::value_error("interpolation must be 'nearest', 'linear' or 'cubic', not '" + name + "'");
}

PyTransform registerImages(const py::handle& fixed, const py::handle& moving, const std::string& metric,
                           bool affine, const py::object& mask, const py::object& progress) {
    KVEL::RegistrationOptions options;
    options.metric = metricNamed(metric);
    Source fixedSource(fixed), movingSource(moving);
    std::unique_ptr<Source> maskSource;
    if (!mask.is_none()) {
        maskSource = std::make_unique<Source>(mask);
        options.fixedMask = &maskSource->image();
    }
    std::exception_ptr failure;
    if (!progress.is_none()) {
        options.progress = [&](const KVEL::RegistrationProgress& p) {
            py::gil_scoped_acquire hold;
            try {
                const py::object answer = progress(p.level, p.levels, p.iteration, p.metric);
                return !(py::isinstance<py::bool_>(answer) && !answer.cast<bool>());
            } catch (...) {
                failure = std::current_exception();
                return false;
            }
        };
    }
    KVEL::RegistrationResult r;
    {
        py::gil_scoped_release release;
        r = affine ? KVEL::registerAffine(fixedSource.image(), movingSource.image(), options)
                   : KVEL::registerRigid(fixedSource.image(), movingSource.image(), options);
    }
    if (failure) std::rethrow_exception(failure);
    if (!r.transform) throw LibraryError("register", r.error);
    return {*r.transform, r.metric, r.iterations};
}

py::array_t<double> applyTo(const PyTransform& self, const py::object& points) {
    using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;
    const Doubles in = Doubles::ensure(points);
    if (!in || in.ndim() < 1 || in.ndim() > 2 || in.shape(in.ndim() - 1) != 3) {
        PyErr_Clear();
        throw py::value_error("points must be an array of shape (3,) or (n, 3)");
    }
    Doubles out(std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
    const double* p = in.data();
    double* q = out.mutable_data();
    for (py::ssize_t i = 0; i < in.size() / 3; ++i) {
        const KVEL::Vec3 mapped = self.transform.apply({p[3 * i], p[3 * i + 1], p[3 * i + 2]});
        for (int r = 0; r < 3; ++r) q[3 * i + r] = mapped[r];
    }
    return out;
}

}  // namespace

void addRegistration(py::module_& m) {
    py::class_<PyTransform>(m, "Transform", R"doc(
A map of fixed physical points to moving physical points (LPS, millimetres),
as ITK's transforms are: the moving image resampled through it lies on the
fixed image. Made by kvel.register or kvel.read_transform.)doc")
        .def_property_readonly(
            "parameters",
            [](const PyTransform& t) -> py::object {
                if (t.transform.kind != KVEL::Transform::Kind::Rigid) return py::none();
                return py::cast(t.transform.rigidParameters());
            },
            "Rigid: (tx, ty, tz, a, b, c) as kvel.rigid reads a matrix (angles in radians); None for affine.")
        .def_property_readonly(
            "matrix",
            [](const PyTransform& t) {
                py::array_t<double> out({4, 4});
                const auto m = t.transform.matrix4();
                for (int r = 0; r < 4; ++r)
                    for (int c = 0; c < 4; ++c) out.mutable_at(r, c) = m[c * 4 + r];
                return out;
            },
            "The 4 x 4 matrix acting on (x, y, z, 1) columns.")
        .def_readonly("metric", &PyTransform::metric, "The metric at the result (lower is better); NaN when read.")
        .def_readonly("iterations", &PyTransform::iterations, "Iterations per pyramid level.")
        .def("apply", &applyTo, py::arg("points"), "Points of shape (3,) or (n, 3) mapped.")
        .def(
            "write",
            [](const PyTransform& t, const std::string& path) {
                if (!KVEL::writeTransform(t.transform, path.c_str())) throw LibraryError(path, kvelops::libraryReason("cannot write it"));
            },
            py::arg("path"), "Writes ITK's text transform format (.tfm).");

    m.def("register", &registerImages, py::arg("fixed"), py::arg("moving"), py::arg("metric") = "mi",
          py::arg("affine") = false, py::arg("mask") = py::none(), py::arg("progress") = py::none(),
          "The transform that lays moving on fixed: metric 'ms', 'ncc' or 'mi'. progress(level, levels,\n"
          "iteration, metric) is called after each iteration; returning False stops the run (kvel.Error).");
    m.def(
        "read_transform",
        [](const std::string& path) {
            const auto t = KVEL::readTransform(path.c_str());
            if (!t) throw LibraryError(path, kvelops::libraryReason("not a transform file"));
            return PyTransform{*t, NAN, {}};
        },
        py::arg("path"), "A transform from ITK's text format.");
    m.def(
        "resample",
        [](const py::handle& moving, const py::handle& reference, const PyTransform& t,
           const std::string& interpolation, float outside) {
            const KVEL::Interpolation how = interpolationNamed(interpolation);
            Source movingSource(moving), referenceSource(reference);
            ImagePtr result;
            {
                py::gil_scoped_release release;
                result.reset(KVEL::resampleOnto(movingSource.image(), referenceSource.image(), t.transform, how, outside));
            }
            if (!result) throw LibraryError("resample", kvelops::libraryReason("refused"));
            result->m_verbose = 0;
            return result;
        },
        py::arg("moving"), py::arg("reference"), py::arg("transform"), py::arg("interpolation") = "linear",
        py::arg("outside") = 0.0f, "moving on reference's grid through the transform, as float32.");
}

}  // namespace kvelpy
