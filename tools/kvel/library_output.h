#pragma once

// The library reports progress and refusals on standard output. While one of
// these lives, that output goes to a scratch file instead, so the tool's own
// output stays clean and a refusal can name the library's reason.

#include <cstdio>
#include <string>

class LibraryOutput {
public:
    LibraryOutput();
    ~LibraryOutput();
    LibraryOutput(const LibraryOutput&) = delete;
    LibraryOutput& operator=(const LibraryOutput&) = delete;

    // The library's last "Error..." or "Warning..." line without its prefix,
    // or `fallback` when it gave none.
    std::string reason(const std::string& fallback);

private:
    void restore();
    std::string captured();
    std::FILE* m_capture;
    int m_saved;
};
