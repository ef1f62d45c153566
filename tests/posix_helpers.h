#pragma once

// What some tests need of a POSIX system: permission bits that bind every user, FIFOs, a limit
// on file sizes, /dev/full. On Windows these compile to stand-ins, and the tests that need them
// skip with NOVU_SKIP_ON_WINDOWS, saying why.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#ifdef _WIN32
#define NOVU_SKIP_ON_WINDOWS(reason) GTEST_SKIP() << "POSIX only: " << reason
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#define NOVU_SKIP_ON_WINDOWS(reason) (void)0
#endif

inline void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline bool MakeFifo(const std::string& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    return ::mkfifo(path.c_str(), 0600) == 0;
#endif
}

// While it lives, files of this process may not grow past `bytes`: larger writes fail with
// EFBIG, for any user. The signal such a write raises is ignored meanwhile.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(unsigned long bytes) {
#ifndef _WIN32
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
#else
        (void)bytes;
#endif
    }
    ~FileSizeLimit() {
#ifndef _WIN32
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, handler_);
#endif
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
#ifndef _WIN32
    rlimit previous_{};
    void (*handler_)(int) = nullptr;
#endif
};

// Runs `body` in a child process without special rights: as root, the child first becomes the
// user "nobody", so that permission bits bind it as they bind every user and the test means the
// same whoever runs the suite. True when `body` returned true. `folder` is opened to everyone
// first, so that the child can work in it.
inline bool AsOrdinaryUser(const std::filesystem::path& folder, const std::function<bool()>& body) {
#ifdef _WIN32
    (void)folder;
    (void)body;
    return false;
#else
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
#endif
}

// A check inside such a child: says what failed on standard error.
#define CHILD_CHECK(condition)                                                   \
    do {                                                                         \
        if (!(condition)) {                                                      \
            std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
            return false;                                                        \
        }                                                                        \
    } while (0)
