#pragma once

// Running other programs from a test: their standard output as bytes, and
// whether they are installed, so a test can skip honestly without them.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace testcommand {

inline std::vector<unsigned char> commandOutput(const std::string& command) {
    std::vector<unsigned char> out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        unsigned char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
        pclose(pipe);
    }
    return out;
}

inline bool haveTool(const char* path) {
    return std::system((std::string("command -v ") + path + " >/dev/null 2>&1").c_str()) == 0;
}

// Debian's interpreter: the python3 first on PATH may not see python3-* packages.
constexpr const char* kPython = "/usr/bin/python3";

inline bool havePythonModules(const std::string& modules) {
    return std::system((std::string(kPython) + " -c 'import " + modules + "' >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace testcommand
