#include "register.h"

#include <kvel/errors.h>
#include <kvel/preview.h>
#include <kvel/registration.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>

#include "failure.h"
#include "operations/operation.h"
#include "image_files.h"

namespace {

const char kRegisterUsage[] =
    "usage: kvel register FIXED MOVING OUT [--transform T.tfm] [--metric ms|ncc|mi] [--affine]\n"
    "                     [--mask M] [--levels N] [--check CHECK.png] [--series UID]\n"
    "finds the transform of fixed to moving physical points and writes MOVING resampled onto\n"
    "FIXED's grid (and the transform, in ITK's text format, with --transform); --check draws\n"
    "FIXED's middle slices with MOVING laid over them as a checkerboard, before (top) and after\n";

// Splits "--name value" options (and bare flags) from the positional arguments.
struct Parsed {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
};

Parsed parse(const std::vector<std::string>& args, const std::vector<std::string>& valued,
             const std::vector<std::string>& flags) {
    Parsed p;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            p.positional.push_back(a);
        } else if (std::find(valued.begin(), valued.end(), a) != valued.end()) {
            if (i + 1 == args.size()) throw Failure(a + " needs a value", true);
            p.options.push_back({a, args[++i]});
        } else if (std::find(flags.begin(), flags.end(), a) != flags.end()) {
            p.options.push_back({a, ""});
        } else {
            throw Failure("unknown option '" + a + "'", true);
        }
    }
    return p;
}

// Progress on standard error: a live line on a terminal, one line per level always.
class ProgressLines {
public:
    explicit ProgressLines() : m_live(isatty(2) != 0) {}
    bool operator()(const KVEL::RegistrationProgress& p) {
        if (m_started && p.level != m_last.level) finishLine();
        m_last = p;
        m_started = true;
        if (m_live) std::fprintf(stderr, "\r%s", text().c_str());
        return true;
    }
    void finish() {
        if (m_started) finishLine();
        m_started = false;
    }

private:
    std::string text() const {
        char line[160];
        std::snprintf(line, sizeof line, "level %d/%d  iteration %4d  metric %.6g", m_last.level + 1, m_last.levels,
                      m_last.iteration, m_last.metric);
        return line;
    }
    void finishLine() { std::fprintf(stderr, m_live ? "\r%s\n" : "%s\n", text().c_str()); }
    bool m_live;
    bool m_started = false;
    KVEL::RegistrationProgress m_last{};
};

KVEL::Metric metricNamed(const std::string& name) {
    if (name == "ms") return KVEL::Metric::MeanSquares;
    if (name == "ncc") return KVEL::Metric::Correlation;
    if (name == "mi") return KVEL::Metric::MutualInformation;
    throw Failure("--metric is ms, ncc or mi, not '" + name + "'", true);
}

void writeOrFail(const KVEL::Transform& t, const std::string& path) {
    if (!KVEL::writeTransform(t, path.c_str())) throw Failure(path + ": " + kvelops::libraryReason("cannot write it"));
}

std::unique_ptr<KVEL::Image> resampled(KVEL::Image& moving, const KVEL::Image& reference, const KVEL::Transform& t,
                                        const std::string& out) {
    std::unique_ptr<KVEL::Image> result(KVEL::resampleOnto(moving, reference, t, KVEL::Interpolation::Linear));
    if (!result) throw Failure(out + ": " + kvelops::libraryReason("resampling refused"));
    result->m_verbose = 0;
    result->computeRange();
    return result;
}

// The fixed image's preview with the moving image laid over it, before the
// transform (as the files place them) above the one after it.
void writeCheck(KVEL::Image& moving, const KVEL::Image& fixed, const KVEL::Image& after, const std::string& out) {
    const std::unique_ptr<KVEL::Image> before = resampled(moving, fixed, KVEL::Transform{}, out);
    std::unique_ptr<KVEL::Image> top(KVEL::previewPicture(fixed, before.get()));
    std::unique_ptr<KVEL::Image> bottom(top ? KVEL::previewPicture(fixed, &after) : nullptr);
    if (!bottom) throw Failure(out + ": " + kvelops::libraryReason("no preview"));
    auto picture = std::make_unique<KVEL::ImageBase<unsigned char>>();
    picture->m_verbose = 0;
    picture->init(top->width(), top->height() * 2, 1, 1, 3);
    unsigned char* bytes = picture->data();
    if (!bytes) throw std::bad_alloc();
    const auto part = [](KVEL::Image& image) { return static_cast<KVEL::ImageBase<unsigned char>&>(image).data(); };
    const std::size_t half = std::size_t(top->m_slice_size);
    std::copy(part(*top), part(*top) + half, bytes);
    std::copy(part(*bottom), part(*bottom) + half, bytes + half);
    writeImage(*picture, out);
}

}  // namespace

int registerCommand(std::vector<std::string> args) {
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        std::cout << kRegisterUsage;
        return 0;
    }
    const std::string series = takeSeries(args);
    const Parsed p = parse(args, {"--transform", "--metric", "--mask", "--levels", "--check"}, {"--affine"});
    if (p.positional.size() != 3)
        throw Failure("register takes FIXED MOVING OUT, not " + std::to_string(p.positional.size()) + " arguments", true);
    KVEL::RegistrationOptions options;
    bool affine = false;
    std::string transformPath, maskPath, checkPath;
    for (const auto& [name, value] : p.options) {
        if (name == "--transform") transformPath = value;
        if (name == "--metric") options.metric = metricNamed(value);
        if (name == "--mask") maskPath = value;
        if (name == "--check") checkPath = value;
        if (name == "--affine") affine = true;
        if (name == "--levels") {
            const long levels = parseInt(value, "--levels");
            if (levels < 1 || levels > 8) throw Failure("--levels must be from 1 to 8", true);
            options.shrinkFactors.clear();
            for (int l = static_cast<int>(levels) - 1; l >= 0; --l) options.shrinkFactors.push_back(1 << l);
        }
    }
    checkImageFileName(p.positional[2]);
    if (!checkPath.empty()) checkImageFileName(checkPath);
    const auto fixed = readImage(p.positional[0], series);
    const auto moving = readImage(p.positional[1], series);
    std::unique_ptr<KVEL::Image> mask;
    if (!maskPath.empty()) {
        mask = readImage(maskPath, series);
        options.fixedMask = mask.get();
    }
    ProgressLines progress;
    options.progress = [&](const KVEL::RegistrationProgress& at) { return progress(at); };
    const KVEL::RegistrationResult r =
        affine ? KVEL::registerAffine(*fixed, *moving, options) : KVEL::registerRigid(*fixed, *moving, options);
    progress.finish();
    if (!r.transform) throw Failure(p.positional[1] + ": registration failed: " + r.error);
    if (!transformPath.empty()) writeOrFail(*r.transform, transformPath);
    const std::unique_ptr<KVEL::Image> result = resampled(*moving, *fixed, *r.transform, p.positional[2]);
    writeImage(*result, p.positional[2]);
    if (!checkPath.empty()) writeCheck(*moving, *fixed, *result, checkPath);
    if (!affine) {
        std::printf("parameters (tx ty tz a b c):");
        for (double v : r.parameters) std::printf(" %.9g", v);
        std::printf("\n");
    }
    const auto m = r.transform->matrix4();
    std::printf("matrix (fixed to moving, rows):\n");
    for (int row = 0; row < 3; ++row)
        std::printf("  %.9g %.9g %.9g %.9g\n", m[row], m[row + 4], m[row + 8], m[row + 12]);
    std::printf("metric: %.9g\n", r.metric);
    return 0;
}
