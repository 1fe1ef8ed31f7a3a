#pragma once

// The image operations the kvel tool and the Python module offer, held once:
// each one's name, arguments (typed, with limits and help), whether it makes
// a new image or changes its input, and its refusals with the library's
// reason. The tool only turns text into Values, the module Python objects.

#include <kvel/imagebase.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvelops {

using ImagePtr = std::unique_ptr<KVEL::Image>;

enum class Kind {
    kImage,   // an input image: a file name in the tool, an Image or array in the module
    kInt,     // whole number within [low, high]
    kFloat,   // finite number
    kKernel,  // k x k finite numbers, k odd: a text file in the tool, a 2-D array in the module
    kPath,    // a file name the operation reads or writes itself
    kText,    // any word
    kFlag,    // present or not; always named
};

struct Argument {
    const char* name;  // as the tool shows it, e.g. "FX"; the module's keyword is its lower case
    Kind kind;
    const char* help;
    double low = 0, high = 0;     // kInt: the bounds
    int extentAxis = -1;          // kInt: the bound `high` is the first image's extent on this axis
    bool optional = false;        // the module's keyword default, and the tool may leave it out
    double fallback = 0;          // the value of an optional number left out
    bool named = false;           // --name VALUE in the tool, keyword-only in the module
    const char* keyword = nullptr;  // the module's keyword when not the lower-case name
};

struct Kernel {
    std::vector<float> values;  // row by row, rows along y
    int size = 0;
};

// One value per Argument of the operation, in the table's order.
struct Value {
    KVEL::Image* image = nullptr;  // kImage
    double number = 0;             // kInt, kFloat; kFlag: 1 when given
    std::string text;              // kPath, kText
    Kernel kernel;                 // kKernel
    bool given = false;
};
using Values = std::vector<Value>;

enum class Effect {
    kNew,        // reads its images, returns a new one
    kInPlace,    // changes its first image
    kNewBuffer,  // changes its first image's shape, giving it a new buffer (the old elements stay untouched)
};

struct Operation {
    const char* name;
    const char* summary;
    std::vector<Argument> arguments;
    Effect effect;
    const char* output;  // the result image as the tool names it; null: the operation writes its own files
    // The result (null for kInPlace and kNewBuffer); throws Refusal.
    ImagePtr (*run)(const Values& values);
};

// An argument outside its limits: the tool's status 2, the module's ValueError.
struct UsageError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// The library refused the call; `reason` is its own.
struct Refusal : std::runtime_error {
    Refusal(const std::string& operation, const std::string& reason)
        : std::runtime_error(operation + " refused: " + reason), operation(operation), reason(reason) {}
    std::string operation, reason;
};

const std::vector<Operation>& operations();
const Operation* findOperation(const std::string& name);

enum class Spelling { kTool, kModule };
// The argument's name as the front end shows it.
std::string spelled(const Argument& argument, Spelling spelling);

// Checks every value against its argument's limits (fallbacks filled in for
// optional ones left out), then runs the operation. Throws UsageError or Refusal.
ImagePtr apply(const Operation& op, Values& values, Spelling spelling);

// The calling thread's reason for the library's last refusal without its
// "Error: " or "Warning: " prefix and closing '!'; `fallback` when it gave none.
std::string libraryReason(const std::string& fallback);

}  // namespace kvelops
