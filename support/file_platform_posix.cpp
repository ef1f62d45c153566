#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/file_platform.h"

namespace platform {

const char* const kSeparators = "/";

bool PathExists(const char* path) {
    return ::access(path, F_OK) == 0;
}

bool MakeDirectory(const char* path) {
    return ::mkdir(path, 0777) == 0;
}

bool RenameReplacing(const char* from, const char* to) {
    return std::rename(from, to) == 0;
}

bool ExecutablePath(std::string& path) {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return false;
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            path.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);  // the link may have been cut: try a larger buffer
    }
}

bool MayWrite(const char* path) {
    return ::access(path, W_OK) == 0;
}

bool OthersMayRead(const char* path) {
    struct stat status {};
    return ::stat(path, &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

std::FILE* CreateNewFile(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
}

int CreateNewDescriptor(const char* path, unsigned permissions) {
    const bool exact = permissions != kNewFilePermissions;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exact ? 0600 : 0666);
    // Set after creation: the mode given to open would be cut by the umask.
    if (fd >= 0 && exact && ::fchmod(fd, static_cast<mode_t>(permissions)) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(path);
        errno = error;
        return -1;
    }
    return fd;
}

int OpenDescriptor(const char* path, bool append) {
    return ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0666);
}

long WriteDescriptor(int descriptor, const void* data, std::size_t length) {
    ssize_t written;
    do {
        written = ::write(descriptor, data, length);
    } while (written < 0 && errno == EINTR);
    return static_cast<long>(written);
}

int CloseDescriptor(int descriptor) {
    return ::close(descriptor);
}

std::string UserDataHome() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        return dataHome;  // the XDG base directory rules ignore a relative one
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : "/tmp";
    }
    return std::string(home) + "/.local/share";
}

int OpenUnnamedIn(const char* directory) {
#ifdef O_TMPFILE
    return ::open(directory, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)directory;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

bool NameDescriptor(int descriptor, const char* path) {
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
}

int OpenAppendWithoutWaiting(const char* path) {
    return ::open(path, O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
}

long long DescriptorSize(int descriptor) {
    struct stat info {};
    return ::fstat(descriptor, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

bool ReadByteAt(int descriptor, long long offset, char& byte) {
    const long got = ReadAt(descriptor, offset, &byte, 1);
    if (got == 0) {
        errno = EIO;  // the file is shorter than it was said to be
    }
    return got == 1;
}

long ReadAt(int descriptor, long long offset, void* data, std::size_t length) {
    ssize_t got;
    do {
        got = ::pread(descriptor, data, length, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

int OpenScratchIn(const char* directory) {
#ifdef O_TMPFILE
    const int unnamed = ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (unnamed >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return unnamed;
    }
#endif
    // Where files cannot be made without a name, a name that is gone before anyone sees it.
    std::string name = std::string(directory) + "/.scratch-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::unlink(name.c_str());
    }
    return fd;
}

bool TruncateDescriptor(int descriptor, long long size) {
    int result;
    do {
        result = ::ftruncate(descriptor, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool IsRegularDescriptor(int descriptor) {
    struct stat info {};
    return ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
}

int LockExclusively(const char* path, bool& busy) {
    busy = false;
    const int fd = ::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        busy = error == EWOULDBLOCK;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool SyncDescriptor(int descriptor) {
    int result;
    do {
        result = ::fdatasync(descriptor);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool SyncDirectory(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

bool OwnerOf(const char* path, bool ofLink, FileOwner& owner) {
    struct stat info {};
    if ((ofLink ? ::lstat(path, &info) : ::stat(path, &info)) != 0) {
        return false;
    }
    owner = {static_cast<long>(info.st_uid), static_cast<long>(info.st_gid)};
    return true;
}

long EffectiveUser() {
    return static_cast<long>(::geteuid());
}

bool OwnedByThisProcess(const FileOwner& owner) {
    return owner.user == static_cast<long>(::geteuid()) &&
           owner.group == static_cast<long>(::getegid());
}

bool GiveTo(int descriptor, const FileOwner& owner) {
    return ::fchown(descriptor, static_cast<uid_t>(owner.user), static_cast<gid_t>(owner.group)) ==
           0;
}

int DescriptorOf(std::FILE* stream) {
    return ::fileno(stream);
}

void EnsureStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // The lowest free descriptor is this one: those below it are open.
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
}

bool OutputGone(std::FILE* stream) {
    pollfd entry{::fileno(stream), POLLOUT, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLERR | POLLHUP)) != 0;
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

unsigned long ProcessId() {
    static const unsigned long id = static_cast<unsigned long>(::getpid());
    return id;
}

}  // namespace platform
