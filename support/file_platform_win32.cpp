#include <io.h>
#include <windows.h>

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

}  // namespace platform
