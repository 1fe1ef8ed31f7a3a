#include "imagelib/detail/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

namespace KVEL {

namespace {

// Saving through a link updates the file it points to, as an in-place write would.
std::string resolveLink(const std::string& target) {
    std::error_code error;
    if (!std::filesystem::is_symlink(target, error)) return target;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, error);
    return error ? target : resolved.string();
}

// Opened with O_EXCL under a fresh name, so nothing else's file is touched;
// mode 0666 lets the umask decide, as for any new file.
int createTemporary(const std::string& target, std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path t(target);
    const std::string folder = t.has_parent_path() ? t.parent_path().string() + "/" : std::string();
    // A name near the file system's limit must still leave room for the suffix.
    const std::string stem = t.filename().string().substr(0, 128);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = folder + "." + stem + "." + std::to_string(getpid()) + "-" +
               std::to_string(counter++) + "-" + std::to_string(random() % 1000000) + ".tmp";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& target) : m_target(resolveLink(target)) {
    // The rename would fail only at the end, after a partner file of the
    // same save may already have replaced its own target.
    struct stat existing;
    const bool exists = stat(m_target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        m_why = std::strerror(EISDIR);
        return;
    }
    // A file that may not be written is not replaced either.
    if (exists && faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0) {
        m_why = std::strerror(errno);
        return;
    }
    const int fd = createTemporary(m_target, m_temporary);
    if (fd < 0) {
        m_why = std::strerror(errno);
        m_temporary.clear();
        return;
    }
    // A file saved over keeps its permissions.
    if (exists && S_ISREG(existing.st_mode)) fchmod(fd, existing.st_mode & 07777);
    m_file = fdopen(fd, "wb");
    if (!m_file) {
        m_why = std::strerror(errno);
        close(fd);
        abandon();
    }
    errno = 0;
}

AtomicFile::~AtomicFile() { abandon(); }

void AtomicFile::abandon() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    if (!m_temporary.empty()) unlink(m_temporary.c_str());
    m_temporary.clear();
}

bool AtomicFile::write(const void* bytes, std::size_t size) {
    if (!m_file) return false;
    if (size == 0 || std::fwrite(bytes, 1, size, m_file) == size) return true;
    if (m_why.empty()) m_why = std::strerror(errno ? errno : EIO);
    return false;
}

bool AtomicFile::finish() {
    if (!m_file) {
        if (m_temporary.empty()) {
            if (m_why.empty()) m_why = "the file was not opened";
            return false;
        }
        return true;  // finished before
    }
    // A failed write before left its errno; nothing since clears it.
    bool ok = std::fflush(m_file) == 0 && !std::ferror(m_file) && fsync(fileno(m_file)) == 0;
    if (!ok && m_why.empty()) m_why = std::strerror(errno ? errno : EIO);
    std::FILE* file = m_file;
    m_file = nullptr;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        m_why = std::strerror(errno);
    }
    if (!ok) abandon();
    return ok;
}

bool AtomicFile::commit() {
    if (!finish()) {
        abandon();
        return false;
    }
    if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        m_why = std::strerror(errno);
        abandon();
        return false;
    }
    m_temporary.clear();
    return true;
}

}  // namespace KVEL
