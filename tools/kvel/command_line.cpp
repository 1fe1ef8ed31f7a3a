#include "command_line.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "failure.h"
#include "image_files.h"

using kvelops::Argument;
using kvelops::Kind;

namespace {

// A square kernel: whitespace-separated numbers, row by row.
kvelops::Kernel readKernel(const std::string& path, std::size_t most) {
    std::ifstream file(path);
    if (!file) throw Failure(path + ": " + std::strerror(errno));
    kvelops::Kernel kernel;
    std::string word;
    while (file >> word && kernel.values.size() <= most * most) {
        char* end = nullptr;
        const float value = std::strtof(word.c_str(), &end);
        if (*end != '\0' || !std::isfinite(value)) throw Failure(path + ": '" + word + "' is not a number");
        kernel.values.push_back(value);
    }
    while (static_cast<std::size_t>(kernel.size) * kernel.size < kernel.values.size()) ++kernel.size;
    if (static_cast<std::size_t>(kernel.size) * kernel.size != kernel.values.size()) {
        throw Failure(path + ": a kernel is k x k numbers, not " + std::to_string(kernel.values.size()));
    }
    return kernel;
}

void parseValue(const Argument& a, const std::string& text, kvelops::Value& value, ParsedCommand& command) {
    value.given = true;
    switch (a.kind) {
        case Kind::kImage:
            command.images.push_back(readImage(text, command.series));
            value.image = command.images.back().get();
            if (command.firstImage.empty()) command.firstImage = text;
            break;
        case Kind::kInt: value.number = parseInt(text, a.name); break;
        case Kind::kFloat: value.number = parseFloat(text, a.name); break;
        case Kind::kKernel: value.kernel = readKernel(text, static_cast<std::size_t>(a.high)); break;
        case Kind::kPath:
        case Kind::kText: value.text = text; break;
        case Kind::kFlag: value.number = 1; break;
    }
}

}  // namespace

ParsedCommand parseCommand(const kvelops::Operation& op, std::vector<std::string> args) {
    ParsedCommand command;
    command.series = takeSeries(args);
    command.values.resize(op.arguments.size());
    // Named arguments may stand anywhere; what remains is positional.
    std::vector<std::string> positional;
    std::vector<std::pair<std::size_t, std::string>> named;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto a = std::find_if(op.arguments.begin(), op.arguments.end(), [&](const Argument& arg) {
            return arg.named && args[i] == "--" + std::string(arg.name);
        });
        if (a == op.arguments.end()) {
            if (args[i].rfind("--", 0) == 0) throw Failure(op.name + std::string(" has no option ") + args[i], true);
            positional.push_back(args[i]);
        } else if (a->kind == Kind::kFlag) {
            named.emplace_back(a - op.arguments.begin(), "");
        } else if (++i < args.size()) {
            named.emplace_back(a - op.arguments.begin(), args[i]);
        } else {
            throw Failure(args[i - 1] + " needs a value", true);
        }
    }
    std::size_t required = op.output ? 1 : 0, total = required;
    for (const Argument& a : op.arguments) {
        if (a.named) continue;
        ++total;
        if (!a.optional) ++required;
    }
    if (positional.size() < required || positional.size() > total) {
        throw Failure(op.name + std::string(" takes ") + std::to_string(required) +
                          (total > required ? " to " + std::to_string(total) : "") + " arguments, not " +
                          std::to_string(positional.size()),
                      true);
    }
    if (op.output) {
        command.output = positional.back();
        positional.pop_back();
        checkImageFileName(command.output);
    }
    // Optional arguments take the tokens beyond the required ones, in order.
    std::size_t spare = positional.size() - (required - (op.output ? 1 : 0)), next = 0;
    for (std::size_t i = 0; i < op.arguments.size(); ++i) {
        const Argument& a = op.arguments[i];
        if (a.named || (a.optional && spare == 0)) continue;
        if (a.optional) --spare;
        parseValue(a, positional[next++], command.values[i], command);
    }
    for (const auto& [i, text] : named) parseValue(op.arguments[i], text, command.values[i], command);
    return command;
}
