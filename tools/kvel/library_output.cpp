#include "library_output.h"

#include <unistd.h>

#include <iostream>
#include <sstream>

LibraryOutput::LibraryOutput() : m_capture(std::tmpfile()), m_saved(-1) {
    if (!m_capture) return;  // then the chatter simply stays on standard output
    std::cout.flush();
    std::fflush(stdout);
    m_saved = dup(STDOUT_FILENO);
    if (m_saved >= 0) dup2(fileno(m_capture), STDOUT_FILENO);
}

LibraryOutput::~LibraryOutput() {
    restore();
    if (m_capture) std::fclose(m_capture);
}

void LibraryOutput::restore() {
    if (m_saved < 0) return;
    std::cout.flush();
    std::fflush(stdout);
    dup2(m_saved, STDOUT_FILENO);
    close(m_saved);
    m_saved = -1;
}

std::string LibraryOutput::captured() {
    restore();
    std::string text;
    if (!m_capture) return text;
    std::rewind(m_capture);
    for (int c = std::fgetc(m_capture); c != EOF; c = std::fgetc(m_capture)) text += static_cast<char>(c);
    return text;
}

std::string LibraryOutput::reason(const std::string& fallback) {
    std::istringstream lines(captured());
    std::string last = fallback, line;
    while (std::getline(lines, line)) {
        for (const char* prefix : {"Error: ", "Error ", "Warning: "}) {
            if (line.rfind(prefix, 0) == 0) last = line.substr(std::string(prefix).size());
        }
    }
    while (!last.empty() && (last.back() == '!' || last.back() == '\r')) last.pop_back();
    return last;
}
