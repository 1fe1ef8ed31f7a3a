// ITK's text transform files. ITK keeps a centre c and a translation t apart
// from the matrix A: p' = A (p - c) + c + t. Rigid matrices are stored as
// Euler angles, ITK's default order Rz Rx Ry (or Rz Ry Rx when a fourth fixed
// parameter is nonzero).

#include "imagelib/registration.h"

#include "imagelib/detail/atomic_file.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/transform_text.h"
#include "imagelib/errors.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace KVEL {

namespace {

const char kHeader[] = "#Insight Transform File V1.0";

Matrix3 rotationZXY(double x, double y, double z, bool zyx) {
    const double cx = std::cos(x), sx = std::sin(x), cy = std::cos(y), sy = std::sin(y), cz = std::cos(z),
                 sz = std::sin(z);
    const Matrix3 rx{{{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}}}, ry{{{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}}},
        rz{{{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}}};
    auto mul = [](const Matrix3& a, const Matrix3& b) {
        Matrix3 c{};
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k) c[r][k] = a[r][0] * b[0][k] + a[r][1] * b[1][k] + a[r][2] * b[2][k];
        return c;
    };
    return zyx ? mul(rz, mul(ry, rx)) : mul(rz, mul(rx, ry));
}

// ITK's translation t = b - c + A c for the map p' = A p + b.
Vec3 itkTranslation(const Transform& t) {
    Vec3 out;
    for (int r = 0; r < 3; ++r) {
        out[r] = t.translation[r] - t.center[r];
        for (int c = 0; c < 3; ++c) out[r] += t.matrix[r][c] * t.center[c];
    }
    return out;
}

void setItkTranslation(Transform& t, const Vec3& itk) {
    for (int r = 0; r < 3; ++r) {
        t.translation[r] = itk[r] + t.center[r];
        for (int c = 0; c < 3; ++c) t.translation[r] -= t.matrix[r][c] * t.center[c];
    }
}

std::vector<double> parameters(const Transform& t, std::string& name) {
    const int n = t.dimension;
    const Vec3 tr = itkTranslation(t);
    const Matrix3& a = t.matrix;
    std::vector<double> p;
    if (t.kind == Transform::Kind::Rigid && n == 2) {
        name = "Euler2DTransform_double_2_2";
        p = {std::atan2(a[1][0], a[0][0])};
    } else if (t.kind == Transform::Kind::Rigid) {
        name = "Euler3DTransform_double_3_3";
        const double x = std::asin(std::max(-1.0, std::min(1.0, a[2][1])));
        if (std::cos(x) > 1e-9)
            p = {x, std::atan2(-a[2][0], a[2][2]), std::atan2(-a[0][1], a[1][1])};
        else
            p = {x, std::atan2(a[0][2], a[0][0]), 0};
    } else {
        name = n == 2 ? "AffineTransform_double_2_2" : "AffineTransform_double_3_3";
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) p.push_back(a[r][c]);
    }
    for (int r = 0; r < n; ++r) p.push_back(tr[r]);
    return p;
}

bool refuse(const std::string& path, const std::string& why) {
    reportFailure("Error: " + path + " is not a transform file this library reads (" + why + ")");
    return false;
}

}  // namespace

bool writeTransform(const Transform& t, const char* path) {
    clearLastError();
    std::string name;
    const std::vector<double> p = parameters(t, name);
    AtomicFile out(path);
    std::FILE* f = out.get();
    if (!f) {
        reportFailure("Error: cannot write " + std::string(path) + " (" + out.why() + ")");
        return false;
    }
    std::fprintf(f, "%s\n#Transform 0\nTransform: %s\nParameters:", kHeader, name.c_str());
    for (double v : p) std::fprintf(f, " %.17g", v);
    std::fprintf(f, "\nFixedParameters:");
    for (int r = 0; r < t.dimension; ++r) std::fprintf(f, " %.17g", t.center[r]);
    if (name[5] == '3') std::fprintf(f, " 0");  // the rotation order, as ITK writes it
    std::fprintf(f, "\n");
    if (!out.commit()) {
        reportFailure("Error: cannot write " + std::string(path) + " (" + out.why() + ")");
        return false;
    }
    return true;
}

std::optional<Transform> readTransform(const char* path) {
    clearLastError();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        refuse(path, "cannot open it");
        return std::nullopt;
    }
    return parseTransform(text.str(), path);
}

std::optional<Transform> parseTransform(const std::string& text, const std::string& path) {
    clearLastError();
    std::istringstream in(text);
    std::string line, name;
    std::vector<double> p, fixed;
    bool header = false, haveP = false, haveFixed = false;
    auto numbers = [](const std::string& text, std::vector<double>& out) {
        std::istringstream s(text);
        std::string word;
        while (s >> word) {
            char* end = nullptr;
            const double v = std::strtod(word.c_str(), &end);
            if (*end != '\0' || !std::isfinite(v) || out.size() > 64) return false;
            out.push_back(v);
        }
        return true;
    };
    for (int lineNumber = 0; std::getline(in, line); ++lineNumber) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (lineNumber == 0) {
            header = line == kHeader;
            if (!header) break;
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        const auto colon = line.find(':');
        const std::string key = line.substr(0, colon), value = colon == std::string::npos ? "" : line.substr(colon + 1);
        if (key == "Transform") {
            if (!name.empty()) return refuse(path, "more than one transform"), std::nullopt;
            std::istringstream(value) >> name;
        } else if (key == "Parameters") {
            if (haveP || !numbers(value, p)) return refuse(path, "bad Parameters"), std::nullopt;
            haveP = true;
        } else if (key == "FixedParameters") {
            if (haveFixed || !numbers(value, fixed)) return refuse(path, "bad FixedParameters"), std::nullopt;
            haveFixed = true;
        }
    }
    if (!header) return refuse(path, std::string("no '") + kHeader + "' line"), std::nullopt;
    Transform t;
    std::size_t wantP = 0, wantFixed = 0;
    if (name == "Euler3DTransform_double_3_3") {
        wantP = 6, wantFixed = 3;
    } else if (name == "Euler2DTransform_double_2_2") {
        t.dimension = 2, wantP = 3, wantFixed = 2;
    } else if (name == "AffineTransform_double_3_3") {
        t.kind = Transform::Kind::Affine, wantP = 12, wantFixed = 3;
    } else if (name == "AffineTransform_double_2_2") {
        t.kind = Transform::Kind::Affine, t.dimension = 2, wantP = 6, wantFixed = 2;
    } else {
        return refuse(path, "transform type '" + name + "'"), std::nullopt;
    }
    // Euler3D may carry a fourth fixed parameter: the rotation order.
    const bool orderGiven = name[5] == '3' && fixed.size() == 4;
    if (p.size() != wantP || (fixed.size() != wantFixed && !orderGiven))
        return refuse(path, "wrong number of parameters for " + name), std::nullopt;
    const int n = t.dimension;
    for (int r = 0; r < n; ++r) t.center[r] = fixed[r];
    Vec3 itk{0, 0, 0};
    for (int r = 0; r < n; ++r) itk[r] = p[wantP - n + r];
    if (name == "Euler3DTransform_double_3_3") {
        t.matrix = rotationZXY(p[0], p[1], p[2], orderGiven && fixed[3] != 0);
    } else if (name == "Euler2DTransform_double_2_2") {
        t.matrix[0] = {std::cos(p[0]), -std::sin(p[0]), 0};
        t.matrix[1] = {std::sin(p[0]), std::cos(p[0]), 0};
    } else {
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) t.matrix[r][c] = p[r * n + c];
    }
    setItkTranslation(t, itk);
    // Beyond this no physical point means anything, and products would overflow.
    constexpr double kLargest = 1e9;
    for (int r = 0; r < 3; ++r) {
        bool sane = std::fabs(t.translation[r]) <= kLargest && std::fabs(t.center[r]) <= kLargest;
        for (int c = 0; c < 3; ++c) sane = sane && std::fabs(t.matrix[r][c]) <= kLargest;
        if (!sane) return refuse(path, "parameters beyond 1e9"), std::nullopt;
    }
    return t;
}

}  // namespace KVEL
