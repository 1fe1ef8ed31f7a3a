#include "imagelib/detail/byte_source.h"

#include "imagelib/detail/messages.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace KVEL {

File openRegularFile(const std::string& path, long long& size, std::string& why) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = "cannot open " + path;
        return nullptr;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        why = path + " is not a regular file";
        return nullptr;
    }
    File file(::fdopen(fd, "rb"));
    if (!file) {
        ::close(fd);
        why = "cannot open " + path;
        return nullptr;
    }
    size = static_cast<long long>(info.st_size);
    return file;
}

ByteSource::ByteSource(const void* bytes, std::size_t size)
    : m_bytes(static_cast<const unsigned char*>(bytes)), m_size(bytes ? static_cast<long long>(size) : 0) {}

ByteSource::ByteSource(std::FILE* file, long long size) : m_file(file), m_size(size) {}

bool ByteSource::seek(long long offset) {
    if (offset < 0 || offset > m_size) return false;
    if (m_file && std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0) return false;
    m_position = offset;
    return true;
}

bool ByteSource::read(void* out, std::size_t n) {
    if (static_cast<unsigned long long>(remaining()) < n) return false;
    if (n == 0) return true;
    if (m_file) {
        if (std::fread(out, 1, n, m_file) != n) return false;
    } else {
        std::memcpy(out, m_bytes + m_position, n);
    }
    m_position += static_cast<long long>(n);
    return true;
}

int ByteSource::get() {
    if (remaining() <= 0) return -1;
    const int c = m_file ? std::getc(m_file) : m_bytes[m_position];
    if (c != EOF) ++m_position;
    return c == EOF ? -1 : c;
}

std::size_t ByteSource::next(std::size_t n, std::vector<unsigned char>& scratch, const unsigned char*& p) {
    n = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(n), remaining()));
    if (!m_file) {
        p = m_bytes + m_position;
        m_position += static_cast<long long>(n);
        return n;
    }
    scratch.resize(n);
    n = std::fread(scratch.data(), 1, n, m_file);
    p = scratch.data();
    m_position += static_cast<long long>(n);
    return n;
}

bool isFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool readWholeFile(const std::string& path, std::vector<unsigned char>& bytes, std::string& why) {
    long long size = 0;
    File file = openRegularFile(path, size, why);
    if (!file) return false;
    bytes.resize(static_cast<std::size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        why = "cannot read " + path;
        return false;
    }
    return true;
}

File openRegularFileReporting(const std::string& path, long long& size, const std::string& refusal) {
    std::string why;
    File file = openRegularFile(path, size, why);
    if (!file) reportFailure(refusal.empty() ? "Error: " + why : refusal);
    return file;
}

bool readWholeFileReporting(const std::string& path, std::vector<unsigned char>& bytes) {
    std::string why;
    if (readWholeFile(path, bytes, why)) return true;
    reportFailure("Error: " + why);
    return false;
}

bool readHeadReporting(std::FILE* file, const std::string& path, long long size, long long limit,
                       std::vector<unsigned char>& bytes) {
    bytes.resize(static_cast<std::size_t>(std::min(size, limit)));
    if (std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size()) return true;
    reportFailure("Error: cannot read " + path);
    return false;
}

// A data file named by a header must lie inside the header's folder: a
// relative name whose ".." never climbs above it, and that no link inside
// the folder leads out of.
bool staysInsideFolder(const std::string& folder, const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    int depth = 0;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part == "..") {
            if (--depth < 0) return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = end + 1;
    }
    if (depth == 0) return false;
    std::error_code error;
    const std::filesystem::path root = std::filesystem::canonical(folder, error);
    if (error) return false;
    const std::filesystem::path target = std::filesystem::weakly_canonical(root / name, error);
    if (error) return false;
    return std::mismatch(root.begin(), root.end(), target.begin(), target.end()).first == root.end();
}

}  // namespace KVEL
