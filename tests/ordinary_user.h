#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

// Runs `body` in a child process without special rights: as root, the child first becomes the
// user "nobody", so that permission bits bind it as they bind every user and the test means the
// same whoever runs the suite. True when `body` returned true. `folder` is opened to everyone
// first, so that the child can work in it.
inline bool AsOrdinaryUser(const std::filesystem::path& folder, const std::function<bool()>& body) {
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A check inside such a child: says what failed on standard error.
#define CHILD_CHECK(condition)                                                   \
    do {                                                                         \
        if (!(condition)) {                                                      \
            std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
            return false;                                                        \
        }                                                                        \
    } while (0)
