#pragma once

// A file that replaces its target only once it is whole: written under a
// temporary name in the target's folder, flushed, synced, closed and then
// renamed over the target. Until commit() succeeds the target is byte for
// byte what it was; a failed or abandoned write removes the temporary file.

#include <cstddef>
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
    // Writes all the bytes or records why not (false). Text may go to get()
    // with fprintf as well: finish() finds any failure of it.
    bool write(const void* bytes, std::size_t size);
    // The temporary file's name, for writers that need a path of their own.
    const std::string& temporaryPath() const { return m_temporary; }
    // Checks that every byte reached the disk and closes the file; the
    // target is still untouched. False, with the reason in why(), when
    // anything failed. Files that replace their targets together finish
    // all before committing any.
    bool finish();
    // finish() if not done yet, then renames the file into place.
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
