#include "failure.h"

#include <kvel/errors.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

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

int parseInt(const std::string& text, const char* what, int low, int high) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
        throw Failure(std::string(what) + " must be a whole number from " + std::to_string(low) + " to " +
                          std::to_string(high) + ", not '" + text + "'",
                      true);
    }
    return static_cast<int>(value);
}

float parseFloat(const std::string& text, const char* what) {
    errno = 0;
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value)) {
        throw Failure(std::string(what) + " must be a finite number, not '" + text + "'", true);
    }
    return value;
}
