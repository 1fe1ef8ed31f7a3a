#pragma once

// A file that replaces its target only once it is whole: written under a
// temporary name in the target's folder, flushed, synced, closed and then
// renamed over the target. Until commit() succeeds the target is byte for
// byte what it was; a failed or abandoned write removes the temporary file.

#include <cstdio>
#include <string>

namespace KVEL {

class AtomicFile {
public:
    explicit AtomicFile(const std::string& target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // The stream to write to; null when no temporary file could be made.
    std::FILE* get() const { return m_file; }
    // The temporary file's name, for writers that need a path of their own.
    const std::string& temporaryPath() const { return m_temporary; }
    // Checks that every byte reached the disk and renames the file into
    // place. False, with the reason in why(), when anything failed.
    bool commit();
    const std::string& why() const { return m_why; }

private:
    void abandon();

    std::string m_target;
    std::string m_temporary;
    std::string m_why;
    std::FILE* m_file = nullptr;
};

}  // namespace KVEL
