#include "support/file_helpers.h"

#include <cstdio>
#include <string>

#include "support/file_platform.h"

int ReadWholeFile(const char* path, void* buffer, int wanted) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return -1;
    }
    const std::size_t read =
        wanted > 0 ? std::fread(buffer, 1, static_cast<std::size_t>(wanted), file) : 0;
    std::fclose(file);
    return static_cast<int>(read);
}

int WriteWholeFile(const char* path, const void* data, int size) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return -1;
    }
    const std::size_t written =
        size > 0 ? std::fwrite(data, 1, static_cast<std::size_t>(size), file) : 0;
    // Buffered bytes only reach the disk at close; a failed close means they may not have.
    if (std::fclose(file) != 0) {
        return 0;
    }
    return static_cast<int>(written);
}

int ReplaceWholeFile(const char* path, const void* data, int size) {
    const std::string temporary = std::string(path) + ".tmp";
    if (WriteWholeFile(temporary.c_str(), data, size) != size) {
        RemoveFile(temporary.c_str());
        return -1;
    }
    if (!platform::RenameReplacing(temporary.c_str(), path)) {
        RemoveFile(temporary.c_str());
        return -1;
    }
    return size;
}

int FileExists(const char* path) {
    return platform::PathExists(path) ? 1 : 0;
}

int GetAppDirectory(std::string& appDirectory) {
    std::string executable;
    if (!platform::ExecutablePath(executable)) {
        return 0;
    }
    const std::size_t lastSeparator = executable.find_last_of(platform::kSeparators);
    if (lastSeparator == std::string::npos) {
        return 0;
    }
    appDirectory = executable.substr(0, lastSeparator + 1);
    return 1;
}

int CreateDirIfAbsent(const char* path) {
    if (platform::PathExists(path)) {
        return 1;
    }
    return platform::MakeDirectory(path) ? 1 : 0;
}

int RemoveFile(const char* path) {
    return std::remove(path) == 0 ? 1 : 0;
}
