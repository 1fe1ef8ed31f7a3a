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

// The library's reason for the last call it refused, without its "Error: "
// or "Warning: " prefix and closing '!'; fallback when it gave none.
std::string libraryReason(const std::string& fallback);

// Strict numbers from the command line: the whole argument, finite, in range.
int parseInt(const std::string& text, const char* what, int low, int high);
float parseFloat(const std::string& text, const char* what);
