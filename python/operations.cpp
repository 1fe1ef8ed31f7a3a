// The module's side of the operation table: Python arguments into the
// table's values, images into headers over the caller's elements.

#include "operations.h"

#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "operations/elements.h"
#include "operations/help.h"
#include "operations/operation.h"
#include "operations/pictures.h"

namespace kvelpy {

namespace {

using kvelops::Argument;
using kvelops::Kind;

// The square kernel as row-major floats, rows along y; the table checks its size.
kvelops::Kernel kernelOf(const py::handle& kernel) {
    using Floats = py::array_t<float, py::array::c_style | py::array::forcecast>;
    const Floats values = Floats::ensure(kernel);
    if (!values) {
        PyErr_Clear();
        throw py::type_error("the kernel must be a k x k array of numbers");
    }
    if (values.ndim() != 2 || values.shape(0) != values.shape(1)) {
        throw py::value_error("the kernel must be a k x k array of numbers");
    }
    return {std::vector<float>(values.data(), values.data() + values.size()), static_cast<int>(values.shape(0))};
}

double numberOf(const Argument& a, const py::handle& value) {
    const auto name = [&] { return kvelops::spelled(a, kvelops::Spelling::kModule); };
    if (a.kind == Kind::kInt) {
        if (!py::isinstance<py::int_>(value)) throw py::type_error(name() + " must be an int");
        // Beyond any limit either way; the table's check names the limits.
        return py::cast<double>(py::float_(py::reinterpret_borrow<py::object>(value)));
    }
    if (!py::isinstance<py::int_>(value) && !py::isinstance<py::float_>(value)) {
        throw py::type_error(name() + " must be a number");
    }
    return py::cast<double>(py::float_(py::reinterpret_borrow<py::object>(value)));
}

// The parameters bound as Python binds them: positionally in the module's
// order, or by keyword; keyword-only ones by keyword only.
// `order` is kvelops::moduleOrder(op).
std::vector<py::object> bind(const kvelops::Operation& op, const std::vector<std::size_t>& order, const py::args& args,
                             const py::kwargs& kwargs) {
    std::vector<py::object> bound(op.arguments.size());
    std::size_t positional = 0;
    for (std::size_t i : order) {
        if (!op.arguments[i].named) ++positional;
    }
    if (args.size() > positional) {
        throw py::type_error(std::string(op.name) + "() takes " + std::to_string(positional) +
                             " positional arguments but " + std::to_string(args.size()) + " were given");
    }
    for (std::size_t k = 0; k < args.size(); ++k) bound[order[k]] = py::reinterpret_borrow<py::object>(args[k]);
    for (const auto& [key, value] : kwargs) {
        const std::string name = py::cast<std::string>(key);
        std::size_t i = 0;
        while (i < op.arguments.size() && kvelops::spelled(op.arguments[i], kvelops::Spelling::kModule) != name) ++i;
        if (i == op.arguments.size()) {
            throw py::type_error(std::string(op.name) + "() got an unexpected keyword argument '" + name + "'");
        }
        if (bound[i]) throw py::type_error(std::string(op.name) + "() got multiple values for argument '" + name + "'");
        bound[i] = py::reinterpret_borrow<py::object>(value);
    }
    for (std::size_t i = 0; i < op.arguments.size(); ++i) {
        const Argument& a = op.arguments[i];
        if (!bound[i] && !a.optional && a.kind != Kind::kFlag) {
            throw py::type_error(std::string(op.name) + "() missing argument '" +
                                 kvelops::spelled(a, kvelops::Spelling::kModule) + "'");
        }
    }
    return bound;
}

ImagePtr call(const kvelops::Operation& op, const std::vector<std::size_t>& order, const py::args& args,
              const py::kwargs& kwargs) {
    const std::vector<py::object> bound = bind(op, order, args, kwargs);
    kvelops::Values values(op.arguments.size());
    std::vector<std::unique_ptr<Source>> sources;
    // An operation that changes its image gets a copy; one that gives its
    // image a new buffer works on the header over the caller's elements.
    ImagePtr changed;
    for (std::size_t i = 0; i < bound.size(); ++i) {
        if (!bound[i]) continue;
        const Argument& a = op.arguments[i];
        kvelops::Value& value = values[i];
        value.given = true;
        switch (a.kind) {
            case Kind::kImage:
                sources.push_back(std::make_unique<Source>(bound[i]));
                if (op.effect == kvelops::Effect::kInPlace && !changed) {
                    changed = sources.back()->copy();
                    value.image = changed.get();
                } else {
                    value.image = &sources.back()->image();
                }
                break;
            case Kind::kInt:
            case Kind::kFloat: value.number = numberOf(a, bound[i]); break;
            case Kind::kKernel: value.kernel = kernelOf(bound[i]); break;
            case Kind::kPath:
            case Kind::kText: value.text = py::str(py::module_::import("os").attr("fspath")(bound[i])); break;
            case Kind::kFlag: value.number = py::cast<bool>(bound[i]) ? 1 : 0; break;
        }
    }
    KVEL::Image* first = nullptr;
    for (const kvelops::Value& v : values) first = first ? first : v.image;
    const void* before = first ? kvelops::elementsOf(*first) : nullptr;
    ImagePtr result;
    try {
        py::gil_scoped_release release;
        result = kvelops::apply(op, values, kvelops::Spelling::kModule);
    } catch (const kvelops::UsageError& error) {
        throw py::value_error(error.what());
    } catch (const kvelops::Refusal& refusal) {
        throw LibraryError(refusal.operation, refusal.reason);
    }
    if (op.effect == kvelops::Effect::kInPlace) {
        result = std::move(changed);
    } else if (op.effect == kvelops::Effect::kNewBuffer) {
        // Left as it was (already of the asked shape): the result is a copy.
        result = ownsNewBuffer(*first, before) ? sources.front()->take() : sources.front()->copy();
    }
    if (!result) return result;
    if (!kvelops::elementsOf(*result) && result->m_image_size > 0) throw std::bad_alloc();
    result->m_verbose = 0;
    return result;
}

}  // namespace

void defineOperations(py::module_& m) {
    for (const kvelops::Operation& op : kvelops::operations()) {
        m.def(
            op.name,
            [&op, order = kvelops::moduleOrder(op)](const py::args& args, const py::kwargs& kwargs) {
                return call(op, order, args, kwargs);
            },
            kvelops::moduleDoc(op).c_str());
    }
    m.def(
        "to_bytes",
        [](const py::handle& in) {
            Source source(in);
            try {
                py::gil_scoped_release release;
                return kvelops::toBytes(source.image());
            } catch (const kvelops::Refusal& refusal) {
                throw LibraryError(refusal.operation, refusal.reason);
            }
        },
        py::arg("image"),
        "to_bytes(image) -> kvel.Image\n\nThe first frame mapped through its range onto uint8 0..255, channels, "
        "position, spacing and direction kept.");
}

}  // namespace kvelpy
