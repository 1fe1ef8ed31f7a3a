#include "help.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace kvelops {

namespace {

std::string fallbackText(const Argument& argument) {
    if (argument.kind == Kind::kFlag) return "False";
    std::ostringstream text;
    text << argument.fallback;
    return text.str();
}

std::string limits(const Argument& argument) {
    if (argument.kind != Kind::kInt || argument.extentAxis >= 0) return "";
    std::ostringstream text;
    text << " [" << argument.low << ", " << argument.high << "]";
    return text.str();
}

std::string argumentLines(const Operation& op, Spelling spelling) {
    std::string lines;
    std::vector<std::size_t> order = moduleOrder(op);
    if (spelling == Spelling::kTool) std::sort(order.begin(), order.end());
    for (std::size_t i : order) {
        const Argument& a = op.arguments[i];
        std::string head = "  " + spelled(a, spelling) + (a.named && a.kind != Kind::kFlag && spelling == Spelling::kTool ? " " + std::string(a.name) : "");
        head.resize(std::max<std::size_t>(head.size() + 2, 14), ' ');
        lines += head + a.help + limits(a) + (a.optional && a.kind != Kind::kFlag ? " (default " + fallbackText(a) + ")" : "") + "\n";
    }
    return lines;
}

}  // namespace

std::string toolUsage(const Operation& op) {
    std::string usage = op.name, named;
    for (const Argument& a : op.arguments) {
        if (a.named) {
            named += " [--" + std::string(a.name) + (a.kind == Kind::kFlag ? "" : " " + std::string(a.name)) + "]";
        } else {
            usage += a.optional ? " [" + std::string(a.name) + "]" : " " + std::string(a.name);
        }
    }
    if (op.output) usage += " " + std::string(op.output);
    return usage + named;
}

std::string toolHelp(const Operation& op) {
    const bool readsImages = std::any_of(op.arguments.begin(), op.arguments.end(),
                                         [](const Argument& a) { return a.kind == Kind::kImage; });
    return "usage: kvel " + toolUsage(op) + "\n" + op.summary + "\n" + argumentLines(op, Spelling::kTool) +
           (op.output ? "  " + std::string(op.output) + std::string(12 - std::string(op.output).size(), ' ') +
                            "the result, in the format of its extension\n"
                      : "") +
           (readsImages ? "  --series UID  the series read from a DICOM folder (default: its largest)\n" : "");
}

std::vector<std::size_t> moduleOrder(const Operation& op) {
    std::vector<std::size_t> order;
    for (int pass = 0; pass < 3; ++pass) {
        for (std::size_t i = 0; i < op.arguments.size(); ++i) {
            const Argument& a = op.arguments[i];
            const int group = a.kind == Kind::kImage ? 0 : a.named ? 2 : 1;
            if (group == pass) order.push_back(i);
        }
    }
    return order;
}

std::string moduleDoc(const Operation& op) {
    std::string signature = std::string(op.name) + "(";
    bool first = true, keywordOnly = false;
    for (std::size_t i : moduleOrder(op)) {
        const Argument& a = op.arguments[i];
        if (!first) signature += ", ";
        if (a.named && !keywordOnly) {
            signature += "*, ";
            keywordOnly = true;
        }
        signature += spelled(a, Spelling::kModule) + (a.optional || a.kind == Kind::kFlag ? "=" + fallbackText(a) : "");
        first = false;
    }
    signature += op.output ? ") -> kvel.Image" : ") -> None";
    std::string summary = op.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    return signature + "\n\n" + summary + ".\n\n" + argumentLines(op, Spelling::kModule);
}

}  // namespace kvelops
