#include "game/scenario.h"

#include <fstream>
#include <iostream>
#include <locale>
#include <sstream>
#include <utility>

#include "game/collision.h"
#include "game/state.h"
#include "game/vector3.h"
#include "scene/ball.h"
#include "scene/enemy.h"
#include "scene/finish.h"
#include "world/heightmap.h"

namespace tide {

namespace {

enum class Field { x, z, directionX, directionZ, number };

struct RecordLayout {
    ScenarioKind kind;
    const char* name;
    std::size_t headerLength;
    std::vector<Field> fields;  // one value line each, in file order
};

const std::vector<RecordLayout>& layouts() {
    static const std::vector<RecordLayout> table = {
        {ScenarioKind::ball, "ball", 5, {Field::x, Field::z, Field::number}},
        {ScenarioKind::enemy, "enemy", 6, {Field::x, Field::z, Field::directionX, Field::directionZ, Field::number}},
        {ScenarioKind::finish, "finish", 7, {Field::x, Field::z}},
    };
    return table;
}

const RecordLayout* layoutForHeader(const std::string& line) {
    if (line.find(':') == std::string::npos) return nullptr;
    for (const RecordLayout& layout : layouts()) {
        if (layout.headerLength == line.size()) return &layout;
    }
    return nullptr;
}

// Stream extraction of the number at the start of the line, the rest ignored.
// On failure (no number, or out of the type's range) the value is untouched.
template <typename T>
bool readLeadingNumber(const std::string& line, T& value) {
    std::istringstream in(line);
    in.imbue(std::locale::classic());
    T parsed{};
    if (!(in >> parsed)) return false;
    value = parsed;
    return true;
}

bool readField(Field field, const std::string& line, ScenarioRecord& work) {
    switch (field) {
        case Field::x: return readLeadingNumber(line, work.x);
        case Field::z: return readLeadingNumber(line, work.z);
        case Field::directionX: return readLeadingNumber(line, work.directionX);
        case Field::directionZ: return readLeadingNumber(line, work.directionZ);
        case Field::number: return readLeadingNumber(line, work.number);
    }
    return false;
}

std::string lineLabel(int line) { return "line " + std::to_string(line) + ": "; }

// A crafted file of millions of bad lines must not keep a message for each:
// the first few are kept, the rest only counted.
constexpr std::size_t kProblemsShown = 20;

class ProblemList {
public:
    explicit ProblemList(std::vector<std::string>& lines) : lines(lines) {}
    void add(std::string problem) {
        if (lines.size() < kProblemsShown) {
            lines.push_back(std::move(problem));
        } else {
            ++unshown;
        }
    }
    void close() {
        if (unshown > 0) lines.push_back(std::to_string(unshown) + " more problems not shown");
    }

private:
    std::vector<std::string>& lines;
    unsigned long unshown = 0;
};

// Positions outside the terrain and values outside the colour code make no
// sense in the game (and huge ones would overflow grid or score arithmetic).
bool recordIsSound(const ScenarioRecord& r, const char* name, ProblemList& problems) {
    std::ostringstream why;
    if (!(r.x >= 0.0 && r.x <= 100.0)) {
        why << name << " x " << r.x << " is outside 0..100 %";
    } else if (!(r.z >= 0.0 && r.z <= 100.0)) {
        why << name << " z " << r.z << " is outside 0..100 %";
    } else if (r.kind == ScenarioKind::ball && (r.number < 0 || r.number > 255)) {
        why << "ball value " << r.number << " is outside 0..255";
    } else {
        return true;
    }
    problems.add(lineLabel(r.line) + why.str() + "; record skipped");
    return false;
}

constexpr double kDropHeight = 30.0;
constexpr double kDropRadius = 1.0;

// Where a sphere of radius 1 dropped straight down from height 30 comes to rest.
Vector3 dropOntoTerrain(const Vector3& start) {
    return start + terrainSweep(start, Vector3(0, -kDropHeight, 0), kDropRadius);
}

}  // namespace

ScenarioFile parseScenario(std::istream& in) {
    ScenarioFile result;
    ProblemList problems(result.problems);
    // The numbers persist from record to record, so a bad value line keeps the
    // value it had before.
    ScenarioRecord work;
    const RecordLayout* open = nullptr;
    std::size_t field = 0;
    int lineNumber = 0;
    std::string line;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (open == nullptr) {
            open = layoutForHeader(line);
            field = 0;
            if (open != nullptr) {
                work.kind = open->kind;
                work.line = lineNumber;
            }
            continue;
        }
        if (!readField(open->fields[field], line, work)) {
            problems.add(lineLabel(lineNumber) + "no number at the start of the line; the previous value is kept");
        }
        if (++field == open->fields.size()) {
            if (recordIsSound(work, open->name, problems)) result.records.push_back(work);
            open = nullptr;
        }
    }
    if (open != nullptr) {
        problems.add(lineLabel(work.line) + open->name + " record ends at end of file; record skipped");
    }
    problems.close();
    return result;
}

void readScenario(std::deque<ball*>* balls, std::deque<Finish*>* finishes, std::deque<submarine*>* enemies,
                  std::string fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) return;
    const ScenarioFile scenario = parseScenario(file);
    for (const std::string& problem : scenario.problems) std::cerr << fileName << ": " << problem << '\n';

    const double extentX = terrain->extentX();
    const double extentZ = terrain->extentZ();
    for (const ScenarioRecord& r : scenario.records) {
        const Vector3 p = dropOntoTerrain(Vector3(r.x / 100 * extentX, kDropHeight, r.z / 100 * extentZ));
        switch (r.kind) {
            case ScenarioKind::ball: {
                auto* b = new ball(p, Vector3(0, -1, 0), r.number, balls);
                b->compile();
                balls->push_back(b);
                break;
            }
            case ScenarioKind::enemy: {
                Vector3 v(r.directionX / 100 * extentX, 0, r.directionZ / 100 * extentZ);
                v.normalize();
                auto* e = new enemy(p, v, r.number);
                e->compile();
                enemies->push_back(e);
                break;
            }
            case ScenarioKind::finish: {
                auto* f = new Finish(p, Vector3(0, 1, 0));
                f->compile();
                finishes->push_back(f);
                break;
            }
        }
    }
}

}  // namespace tide
