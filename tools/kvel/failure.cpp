#include "failure.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

long parseInt(const std::string& text, const char* what) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0) {
        throw Failure(std::string(what) + " must be a whole number, not '" + text + "'", true);
    }
    return value;
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
