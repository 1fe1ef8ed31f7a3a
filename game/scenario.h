#pragma once

#include <deque>
#include <istream>
#include <string>
#include <vector>

namespace tide {

class ball;
class Finish;
class submarine;

// The scenario file places balls, enemies and finish cubes. A record is a
// header line (any line with a colon; its length alone picks the kind: 5 ball,
// 6 enemy, 7 finish) followed by one number per line. Horizontal positions are
// percentages of the terrain's extent; other lines between records are comments.
enum class ScenarioKind { ball, enemy, finish };

// One complete record with its numbers as written in the file (percentages
// not yet scaled to the terrain).
struct ScenarioRecord {
    ScenarioKind kind = ScenarioKind::ball;
    int line = 0;  // line number of the header, counting from 1
    double x = 0.0;
    double z = 0.0;
    double directionX = 0.0;  // enemy only
    double directionZ = 0.0;  // enemy only
    int number = 0;           // ball value or enemy tag
};

struct ScenarioFile {
    std::vector<ScenarioRecord> records;  // in file order
    // One line each, e.g. "line 7: ...": the first 20, then a count of the rest.
    std::vector<std::string> problems;
};

// Reads the records from a text stream; needs no OpenGL. Accepts lines of any
// length ending in LF or CRLF. A value line that does not start with a number
// keeps the previous value; records that end at end of file or hold a position
// outside 0..100 % or a ball value outside 0..255 are dropped. Every such case
// is reported in `problems`.
ScenarioFile parseScenario(std::istream& in);

// Reads the file, creates each object dropped onto the terrain, compiles it and
// appends it to its queue in file order. A missing file creates nothing; other
// problems are printed to stderr, one line each. Needs the terrain and the
// collision globals set up.
void readScenario(std::deque<ball*>* balls, std::deque<Finish*>* finishes,
                  std::deque<submarine*>* enemies, std::string fileName);

}  // namespace tide
