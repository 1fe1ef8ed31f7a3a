#pragma once

// Runs a piece of a test in a child process, for conditions that must not
// touch the test process itself: a file-size limit (as a full disk behaves)
// or an unprivileged user.

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace testsupport {

// Exit status of a child that could not take the condition it was asked for.
constexpr int kConditionUnavailable = 77;

// The child's exit status; -1 when it ended by a signal or could not start.
// Standard output is flushed first so the child does not repeat it.
inline int runInChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int status = body();
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Writes beyond `bytes` fail with EFBIG instead of killing the process.
inline bool limitFileSize(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// Permission bits bind root only after it becomes somebody else.
inline bool becomeUnprivileged() {
    if (geteuid() != 0) return true;
    const uid_t nobody = 65534;
    return setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0 && geteuid() == nobody;
}

}  // namespace testsupport
