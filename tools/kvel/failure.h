#pragma once

// One failure of the tool: a message for standard error, and whether it is
// a usage error (status 2) or a refused file or image (status 1).

#include <stdexcept>
#include <string>

struct Failure : std::runtime_error {
    explicit Failure(const std::string& message, bool usage = false)
        : std::runtime_error(message), usage(usage) {}
    bool usage;
};

// Strict numbers from the command line: the whole argument, finite; the
// table checks the limits.
long parseInt(const std::string& text, const char* what);
float parseFloat(const std::string& text, const char* what);
