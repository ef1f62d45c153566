#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

}  // namespace platform
