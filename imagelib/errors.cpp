#include "imagelib/errors.h"

#include "imagelib/detail/messages.h"

#include <atomic>
#include <iostream>
#include <string>

namespace KVEL {

namespace {

thread_local std::string t_lastError;
std::atomic<bool> g_printed{true};

void print(const std::string& line) {
    if (g_printed.load(std::memory_order_relaxed)) std::cout << line << std::endl;
}

}  // namespace

const char* lastError() { return t_lastError.c_str(); }

void setMessagesPrinted(bool printed) { g_printed.store(printed, std::memory_order_relaxed); }

bool messagesPrinted() { return g_printed.load(std::memory_order_relaxed); }

void clearLastError() { t_lastError.clear(); }

void reportFailure(const std::string& line) {
    t_lastError = line;
    print(line);
}

void reportNotice(const std::string& line) { print(line); }

void recordFailure(const std::string& line) { t_lastError = line; }

}  // namespace KVEL
