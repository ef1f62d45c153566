#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/file_platform.h"

namespace platform {

const char* const kSeparators = "\\/";

bool PathExists(const char* path) {
    return ::_access(path, 0) == 0;
}

bool MakeDirectory(const char* path) {
    return ::CreateDirectoryA(path, nullptr) != 0;
}

bool RenameReplacing(const char* from, const char* to) {
    return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool ExecutablePath(std::string& path) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return false;
        }
        if (length < buffer.size()) {
            path.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool MayWrite(const char* path) {
    return ::_access(path, 2) == 0;
}

bool OthersMayRead(const char*) {
    return false;  // a file's readers are its ACL's, which the user's profile already limits
}

std::FILE* CreateNewFile(const char* path) {
    const int fd = ::_open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "wb");
    if (file == nullptr) {
        ::_close(fd);
    }
    return file;
}

int CreateNewDescriptor(const char* path, unsigned permissions) {
    const bool readOnly = permissions != kNewFilePermissions && (permissions & 0222) == 0;
    const int mode = readOnly ? _S_IREAD : _S_IREAD | _S_IWRITE;
    return ::_open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, mode);
}

int OpenDescriptor(const char* path, bool append) {
    return ::_open(path, _O_WRONLY | _O_CREAT | _O_BINARY | (append ? _O_APPEND : _O_TRUNC),
                   _S_IREAD | _S_IWRITE);
}

long WriteDescriptor(int descriptor, const void* data, std::size_t length) {
    const unsigned int capped =
        length > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(length);
    return ::_write(descriptor, data, capped);
}

int CloseDescriptor(int descriptor) {
    return ::_close(descriptor);
}

std::string UserDataHome() {
    const char* localData = std::getenv("LOCALAPPDATA");
    return localData != nullptr ? localData : ".";
}

int OpenUnnamedIn(const char*) {
    errno = ENOSYS;  // the caller falls back to a named temporary file
    return -1;
}

bool NameDescriptor(int, const char*) {
    errno = ENOSYS;
    return false;
}

int OpenAppendWithoutWaiting(const char* path) {
    return ::_open(path, _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
}

long long DescriptorSize(int descriptor) {
    struct _stati64 info {};
    return ::_fstati64(descriptor, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

bool ReadByteAt(int descriptor, long long offset, char& byte) {
    const long got = ReadAt(descriptor, offset, &byte, 1);
    if (got == 0) {
        errno = EIO;  // the file is shorter than it was said to be
    }
    return got == 1;
}

long ReadAt(int descriptor, long long offset, void* data, std::size_t length) {
    if (::_lseeki64(descriptor, offset, SEEK_SET) != offset) {
        return -1;
    }
    const unsigned piece = length > 0x40000000 ? 0x40000000u : static_cast<unsigned>(length);
    return ::_read(descriptor, data, piece);
}

int OpenScratchIn(const char* directory) {
    static std::atomic<unsigned> made{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = std::string(directory) + "\\.scratch-" +
                                 std::to_string(::_getpid()) + "-" + std::to_string(made++);
        // Deleted by the system when its last handle closes, whatever ends the process.
        const HANDLE handle = ::CreateFileA(
            name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            errno = ::GetLastError() == ERROR_DISK_FULL ? ENOSPC : EACCES;
            return -1;
        }
        const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
        if (fd < 0) {
            ::CloseHandle(handle);
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

bool TruncateDescriptor(int descriptor, long long size) {
    const errno_t error = ::_chsize_s(descriptor, size);
    errno = error;
    return error == 0;
}

bool IsRegularDescriptor(int descriptor) {
    struct _stat64 info {};
    return ::_fstat64(descriptor, &info) == 0 && (info.st_mode & _S_IFREG) != 0;
}

int LockExclusively(const char* path, bool& busy) {
    busy = false;
    const int fd = ::_open(path, _O_RDWR | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return -1;
    }
    OVERLAPPED whole{};
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &whole)) {
        busy = ::GetLastError() == ERROR_LOCK_VIOLATION;
        ::_close(fd);
        errno = busy ? EWOULDBLOCK : EACCES;
        return -1;
    }
    return fd;
}

bool SyncDescriptor(int descriptor) {
    return ::_commit(descriptor) == 0;
}

bool SyncDirectory(const char*) {
    return true;  // MoveFileEx with MOVEFILE_WRITE_THROUGH has made the rename durable
}

bool OwnerOf(const char*, bool, FileOwner&) {
    return false;  // no owners to keep: every file is treated as the user's
}

long EffectiveUser() {
    return -1;
}

bool OwnedByThisProcess(const FileOwner&) {
    return true;
}

bool GiveTo(int, const FileOwner&) {
    return true;
}

int DescriptorOf(std::FILE* stream) {
    return ::_fileno(stream);
}

void EnsureStandardStreams() {}

bool OutputGone(std::FILE*) {
    return false;  // a failed write shows it instead
}

bool IsTerminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

unsigned long ProcessId() {
    return static_cast<unsigned long>(::_getpid());
}

}  // namespace platform
