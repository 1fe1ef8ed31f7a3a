#include "imagelib/detail/nrrd_header.h"

#include "imagelib/imagebase.h"
#include "imagelib/detail/messages.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace KVEL {

namespace {

// A header line longer than this is no header.
constexpr std::size_t kMaxLine = 1 << 16;

struct TypeName {
    const char* name;
    int glType;  // 0: named, but no element type of this library holds it
};
// Every spelling NRRD accepts; the first of each type is the one written.
const TypeName kTypeNames[] = {
    {"int8", kGlByte},
    {"signed char", kGlByte},
    {"int8_t", kGlByte},
    {"uint8", kGlUnsignedByte},
    {"uchar", kGlUnsignedByte},
    {"unsigned char", kGlUnsignedByte},
    {"uint8_t", kGlUnsignedByte},
    {"int16", kGlShort},
    {"short", kGlShort},
    {"short int", kGlShort},
    {"signed short", kGlShort},
    {"signed short int", kGlShort},
    {"int16_t", kGlShort},
    {"uint16", kGlUnsignedShort},
    {"ushort", kGlUnsignedShort},
    {"unsigned short", kGlUnsignedShort},
    {"unsigned short int", kGlUnsignedShort},
    {"uint16_t", kGlUnsignedShort},
    {"int32", kGlInt},
    {"int", kGlInt},
    {"signed int", kGlInt},
    {"int32_t", kGlInt},
    {"uint32", kGlUnsignedInt},
    {"uint", kGlUnsignedInt},
    {"unsigned int", kGlUnsignedInt},
    {"uint32_t", kGlUnsignedInt},
    {"float", kGlFloat},
    {"double", kGlDouble},
    {"int64", 0},
    {"longlong", 0},
    {"long long", 0},
    {"long long int", 0},
    {"signed long long", 0},
    {"signed long long int", 0},
    {"int64_t", 0},
    {"uint64", 0},
    {"ulonglong", 0},
    {"unsigned long long", 0},
    {"unsigned long long int", 0},
    {"uint64_t", 0},
    {"block", 0},
};

struct SpaceName {
    const char* name;
    Vec3 toLps;
    int dimension;
};
const SpaceName kSpaces[] = {
    {"left-posterior-superior", {1, 1, 1}, 3},
    {"LPS", {1, 1, 1}, 3},
    {"right-anterior-superior", {-1, -1, 1}, 3},
    {"RAS", {-1, -1, 1}, 3},
    {"left-anterior-superior", {1, -1, 1}, 3},
    {"LAS", {1, -1, 1}, 3},
    // Spaces without anatomical names: taken as they are.
    {"scanner-xyz", {1, 1, 1}, 3},
    {"3D-right-handed", {1, 1, 1}, 3},
    {"left-posterior-superior-time", {1, 1, 1}, 4},
    {"LPST", {1, 1, 1}, 4},
    {"right-anterior-superior-time", {-1, -1, 1}, 4},
    {"RAST", {-1, -1, 1}, 4},
    {"left-anterior-superior-time", {1, -1, 1}, 4},
    {"LAST", {1, -1, 1}, 4},
    {"scanner-xyz-time", {1, 1, 1}, 4},
    {"3D-right-handed-time", {1, 1, 1}, 4},
};

std::string trim(const std::string& s) {
    const std::size_t begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return "";
    return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

std::vector<std::string> words(const std::string& value) {
    std::istringstream in(value);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// One value per axis, or the reason why not.
std::string perAxis(const std::vector<std::string>& values, const NrrdHeader& h, const char* field) {
    if (h.dimension == 0) return std::string(field) + " before dimension";
    if (static_cast<int>(values.size()) == h.dimension) return "";
    return std::string(field) + " gives " + std::to_string(values.size()) + " values for " +
           std::to_string(h.dimension) + " axes";
}

bool number(const std::string& text, double& out) {
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0';
}

bool integer(const std::string& text, long long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtoll(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0' && errno == 0;
}

// "(x,y,z)", or "(x,y,z,t)" in a space with time, into v and time, all
// finite; false otherwise.
bool spaceVector(const std::string& text, const NrrdHeader& h, Vec3& v, double& time) {
    if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
    std::istringstream in(text.substr(1, text.size() - 2));
    std::string part;
    double values[4] = {};
    int n = 0;
    while (std::getline(in, part, ',')) {
        if (n == h.spaceDimension || !number(trim(part), values[n]) || !std::isfinite(values[n])) return false;
        ++n;
    }
    for (int r = 0; r < 3; ++r) v[r] = values[r] * h.toLps[r] + 0.0;  // no negative zeros
    time = values[3];
    return n == h.spaceDimension;
}

// The vectors of a field, written "(x,y,z)" or "none" with spaces between
// them (and, as some writers do, inside the parentheses).
std::vector<std::string> vectors(const std::string& value) {
    std::vector<std::string> out;
    std::string current;
    int depth = 0;
    for (char c : value) {
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if ((c == ' ' || c == '\t') && depth == 0) {
            if (!current.empty()) out.push_back(current);
            current.clear();
        } else if (c != ' ' && c != '\t') {
            current.push_back(c);
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

using FieldHandler = std::string (*)(const std::string& value, NrrdHeader& h);

std::string readDimension(const std::string& v, NrrdHeader& h) {
    long long n = 0;
    if (!integer(v, n) || n < 1 || n > kNrrdMaxAxes) {
        return "dimension " + v + " is not 1 to " + std::to_string(kNrrdMaxAxes);
    }
    h.dimension = static_cast<int>(n);
    return "";
}

std::string readType(const std::string& v, NrrdHeader& h) {
    for (const TypeName& t : kTypeNames) {
        if (v == t.name) {
            h.glType = t.glType;
            return t.glType ? "" : "type " + v + ", which no element type here holds";
        }
    }
    return "unknown type " + v;
}

std::string readSizes(const std::string& v, NrrdHeader& h) {
    const std::vector<std::string> values = words(v);
    std::string problem = perAxis(values, h, "sizes");
    for (int i = 0; problem.empty() && i < h.dimension; ++i) {
        if (!integer(values[i], h.sizes[i]) || h.sizes[i] < 1 || h.sizes[i] > (1LL << 31) - 1) {
            problem = "size " + values[i] + " of axis " + std::to_string(i);
        }
    }
    return problem;
}

std::string readEndian(const std::string& v, NrrdHeader& h) {
    if (v != "little" && v != "big") return "endian " + v + " is neither little nor big";
    h.bigEndian = v == "big";
    h.hasEndian = true;
    return "";
}

std::string readEncoding(const std::string& v, NrrdHeader& h) {
    if (v == "raw") return "";
    if (v == "gzip" || v == "gz") {
        h.gzip = true;
        return "";
    }
    return "encoding " + v + " is not read (raw and gzip are)";
}

std::string readSpace(const std::string& v, NrrdHeader& h) {
    for (const SpaceName& s : kSpaces) {
        if (v == s.name) {
            h.toLps = s.toLps;
            h.spaceDimension = s.dimension;
            h.hasSpace = true;
            return "";
        }
    }
    return "space " + v + " is not read (patient and scanner spaces are)";
}

std::string readSpaceDimension(const std::string& v, NrrdHeader& h) {
    if (v != "3") return "space dimension " + v + " is not 3";
    h.hasSpace = true;
    return "";
}

std::string readDirections(const std::string& v, NrrdHeader& h) {
    const std::vector<std::string> values = vectors(v);
    std::string problem = perAxis(values, h, "space directions");
    if (!h.hasSpace && problem.empty()) problem = "space directions before space";
    for (int i = 0; problem.empty() && i < h.dimension; ++i) {
        h.noDirection[i] = values[i] == "none";
        if (!h.noDirection[i] && !spaceVector(values[i], h, h.directions[i], h.timeSteps[i])) {
            problem = "space direction " + values[i];
        }
    }
    h.hasDirections = problem.empty();
    return problem;
}

std::string readOrigin(const std::string& v, NrrdHeader& h) {
    if (!h.hasSpace) return "space origin before space";
    double time = 0;
    return spaceVector(trim(v), h, h.origin, time) ? "" : "space origin " + v;
}

std::string readSpacings(const std::string& v, NrrdHeader& h) {
    const std::vector<std::string> values = words(v);
    std::string problem = perAxis(values, h, "spacings");
    for (int i = 0; problem.empty() && i < h.dimension; ++i) {
        double s = 0;
        if (!number(values[i], s)) problem = "spacing " + values[i];
        h.spacings[i] = std::isfinite(s) && s > 0 ? s : 0;
    }
    return problem;
}

std::string readKinds(const std::string& v, NrrdHeader& h) {
    const std::vector<std::string> values = words(v);
    std::string problem = perAxis(values, h, "kinds");
    for (int i = 0; problem.empty() && i < h.dimension; ++i) {
        const std::string& k = values[i];
        h.vectorKind[i] = k != "domain" && k != "space" && k != "time" && k != "???" && k != "none";
    }
    return problem;
}

std::string readDataFile(const std::string& v, NrrdHeader& h) {
    if (v.empty()) return "empty data file";
    if (v.find_first_of(" \t%") != std::string::npos || v.compare(0, 4, "LIST") == 0) {
        return "data file " + v + ": lists and patterns of files are not read";
    }
    h.dataFile = v;
    return "";
}

std::string readSkip(const std::string& v, long long& skip, long long lowest, const char* field) {
    if (!integer(v, skip) || skip < lowest) return std::string(field) + " " + v;
    return "";
}

std::string readLineSkip(const std::string& v, NrrdHeader& h) { return readSkip(v, h.lineSkip, 0, "line skip"); }
std::string readByteSkip(const std::string& v, NrrdHeader& h) { return readSkip(v, h.byteSkip, -1, "byte skip"); }

struct Field {
    const char* name;
    FieldHandler read;  // null: describes the data, needs no action here
};
const Field kFields[] = {
    {"dimension", readDimension},
    {"type", readType},
    {"sizes", readSizes},
    {"endian", readEndian},
    {"encoding", readEncoding},
    {"space", readSpace},
    {"space dimension", readSpaceDimension},
    {"space directions", readDirections},
    {"space origin", readOrigin},
    {"spacings", readSpacings},
    {"kinds", readKinds},
    {"data file", readDataFile},
    {"datafile", readDataFile},
    {"line skip", readLineSkip},
    {"lineskip", readLineSkip},
    {"byte skip", readByteSkip},
    {"byteskip", readByteSkip},
    {"content", nullptr},
    {"units", nullptr},
    {"space units", nullptr},
    {"centers", nullptr},
    {"centerings", nullptr},
    {"measurement frame", nullptr},
    {"labels", nullptr},
    {"axis mins", nullptr},
    {"axismins", nullptr},
    {"axis maxs", nullptr},
    {"axismaxs", nullptr},
    {"thicknesses", nullptr},
    {"old min", nullptr},
    {"oldmin", nullptr},
    {"old max", nullptr},
    {"oldmax", nullptr},
    {"min", nullptr},
    {"max", nullptr},
    {"sample units", nullptr},
    {"number", nullptr},
};

}  // namespace

bool isNrrd(const unsigned char* bytes, std::size_t size) {
    return size >= 8 && std::memcmp(bytes, "NRRD000", 7) == 0 && bytes[7] >= '1' && bytes[7] <= '9';
}

bool parseNrrdHeader(const unsigned char* bytes, std::size_t size, NrrdHeader& h, std::size_t& headerBytes,
                     std::string& why) {
    if (!isNrrd(bytes, size)) {
        why = "no NRRD magic line";
        return false;
    }
    std::size_t at = 0;
    bool first = true;
    while (at < size) {
        const void* found = std::memchr(bytes + at, '\n', size - at);
        const std::size_t end = found ? static_cast<const unsigned char*>(found) - bytes : size;
        if (end - at > kMaxLine) {
            why = "a header line longer than " + std::to_string(kMaxLine) + " bytes";
            return false;
        }
        const std::string line = trim(std::string(reinterpret_cast<const char*>(bytes + at), end - at));
        at = found ? end + 1 : size;
        if (first) {
            first = false;
            continue;
        }
        if (line.empty()) break;  // the data follow
        if (line[0] == '#') continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            why = "header line without a colon: " + line.substr(0, 80);
            return false;
        }
        if (colon + 1 < line.size() && line[colon + 1] == '=') continue;  // a key/value pair
        const std::string name = line.substr(0, colon), value = trim(line.substr(colon + 1));
        const Field* field = nullptr;
        for (const Field& f : kFields) {
            if (name == f.name) field = &f;
        }
        if (!field) {
            reportNotice("Warning: unknown NRRD field \"" + name.substr(0, 80) + "\"");
            continue;
        }
        if (field->read) why = field->read(value, h);
        if (!why.empty()) return false;
    }
    headerBytes = at;
    if (h.dimension == 0 || h.sizes[0] == 0) why = "no dimension and sizes";
    if (why.empty() && h.glType == 0) why = "no type";
    return why.empty();
}

const char* nrrdTypeName(int glType) {
    for (const TypeName& t : kTypeNames) {
        if (t.glType == glType) return t.name;
    }
    return nullptr;
}

}  // namespace KVEL
