#pragma once

// One reader over a file or a block of memory, so that each format has one
// parser for both. Reads never go past the end the source had when opened.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace KVEL {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for reading without blocking on FIFOs or devices; null
// with the reason in why otherwise.
File openRegularFile(const std::string& path, long long& size, std::string& why);

// Whether path names a folder (or a link to one).
bool isFolder(const std::string& path);

// The whole regular file at path; false with the reason in why.
bool readWholeFile(const std::string& path, std::vector<unsigned char>& bytes, std::string& why);

// The same, the reason reported for lastError() ("Error: " and why, or
// refusal in its place when one is given).
File openRegularFileReporting(const std::string& path, long long& size, const std::string& refusal = "");
bool readWholeFileReporting(const std::string& path, std::vector<unsigned char>& bytes);
// The first min(size, limit) bytes of a file just opened at path.
bool readHeadReporting(std::FILE* file, const std::string& path, long long size, long long limit,
                       std::vector<unsigned char>& bytes);

// Whether a data file a header names (relative to the header's folder) lies
// inside that folder: no absolute name, no ".." above it, no link out of it.
bool staysInsideFolder(const std::string& folder, const std::string& name);

class ByteSource {
public:
    ByteSource(const void* bytes, std::size_t size);
    ByteSource(std::FILE* file, long long size);

    long long size() const { return m_size; }
    long long position() const { return m_position; }
    long long remaining() const { return m_size - m_position; }
    bool seek(long long offset);
    // Exactly n bytes, or false.
    bool read(void* out, std::size_t n);
    // The next byte, or -1 at the end.
    int get();
    // Up to n of the next bytes: memory is handed out in place, a file is
    // read into scratch. Returns how many; p points at them.
    std::size_t next(std::size_t n, std::vector<unsigned char>& scratch, const unsigned char*& p);

private:
    const unsigned char* m_bytes = nullptr;
    std::FILE* m_file = nullptr;
    long long m_size;
    long long m_position = 0;
};

}  // namespace KVEL
