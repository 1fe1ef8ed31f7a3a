// Checking values against the table's limits before the library runs.

#include <kvel/errors.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <sstream>

#include "operation.h"

namespace kvelops {

namespace {

std::string number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

void check(const Argument& argument, Value& value, const Values& values, Spelling spelling) {
    // Spelled only for a message: the module checks its arguments on every call.
    const auto name = [&] { return spelled(argument, spelling); };
    if (!value.given) {
        if (!argument.optional && argument.kind != Kind::kFlag) throw UsageError(name() + " is missing");
        value.number = argument.fallback;
        return;
    }
    switch (argument.kind) {
        case Kind::kImage:
            if (!value.image) throw UsageError(name() + " is missing");
            break;
        case Kind::kInt: {
            double high = argument.high;
            if (argument.extentAxis >= 0) {
                for (const Value& v : values) {
                    if (v.image) {
                        high = v.image->m_dim[argument.extentAxis];
                        break;
                    }
                }
            }
            if (value.number != std::floor(value.number) || value.number < argument.low || value.number > high) {
                throw UsageError(name() + " must be a whole number from " + number(argument.low) + " to " +
                                 number(high) + ", not " + number(value.number));
            }
            break;
        }
        case Kind::kFloat:
            if (!std::isfinite(static_cast<float>(value.number))) {
                throw UsageError(name() + " must be a finite number, not " + number(value.number));
            }
            break;
        case Kind::kKernel: {
            const Kernel& k = value.kernel;
            if (k.size < 1 || k.size % 2 == 0 || k.size > argument.high ||
                k.values.size() != static_cast<std::size_t>(k.size) * k.size) {
                throw UsageError(name() + " must be k x k numbers with k odd and at most " + number(argument.high));
            }
            for (float v : k.values) {
                if (!std::isfinite(v)) throw UsageError(name() + " must hold finite numbers");
            }
            break;
        }
        case Kind::kPath:
        case Kind::kText:
        case Kind::kFlag: break;
    }
}

}  // namespace

std::string spelled(const Argument& argument, Spelling spelling) {
    if (spelling == Spelling::kTool) return (argument.named ? "--" : "") + std::string(argument.name);
    if (argument.keyword) return argument.keyword;
    std::string keyword = argument.name;
    for (char& c : keyword) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return keyword;
}

ImagePtr apply(const Operation& op, Values& values, Spelling spelling) {
    if (values.size() != op.arguments.size()) throw std::logic_error(std::string(op.name) + ": wrong value count");
    for (std::size_t i = 0; i < values.size(); ++i) check(op.arguments[i], values[i], values, spelling);
    return op.run(values);
}

std::string libraryReason(const std::string& fallback) {
    std::string reason = KVEL::lastError();
    for (const char* prefix : {"Error: ", "Error ", "Warning: "}) {
        if (reason.rfind(prefix, 0) == 0) {
            reason.erase(0, std::strlen(prefix));
            break;
        }
    }
    while (!reason.empty() && (reason.back() == '!' || reason.back() == '\r')) reason.pop_back();
    return reason.empty() ? fallback : reason;
}

const Operation* findOperation(const std::string& name) {
    for (const Operation& op : operations()) {
        if (name == op.name) return &op;
    }
    return nullptr;
}

}  // namespace kvelops
