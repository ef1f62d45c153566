#include "support/file_helpers.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "support/file_platform.h"
#include "support/file_system.h"

namespace fs = std::filesystem;

namespace {

// The file a chain of symbolic links ends at (the path itself when it is no link), and its
// status. A link is followed only when it belongs to this user or to the owner of the folder it
// lies in, as the kernel follows links in sticky folders: a link that someone else planted never
// steers a save: such a link is refused.
Status FollowTrustedLinks(fs::path path, fs::path& target, fs::file_status& status) {
    std::error_code error;
    for (int hops = 0; hops < 40; ++hops) {
        status = fs::symlink_status(path, error);
        if (!fs::is_symlink(status)) {
            target = path;
            return Status::Ok();
        }
        const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
        platform::FileOwner link, folderOwner;
        if (platform::OwnerOf(path.string().c_str(), true, link) &&
            platform::OwnerOf(folder.string().c_str(), false, folderOwner) &&
            link.user != platform::EffectiveUser() && link.user != folderOwner.user) {
            return Status::Refused("it is a symbolic link that belongs to another user");
        }
        const fs::path next = fs::read_symlink(path, error);
        if (error) {
            break;
        }
        path = next.is_absolute() ? next : folder / next;
    }
    status = fs::status(path, error);
    target = path;
    return Status::Ok();
}

// A name beside `path` that no other save, of this process or another, uses at the same time.
std::string TemporaryNameFor(const fs::path& path) {
    static std::atomic<unsigned> counter{0};
    return path.string() + "." + std::to_string(platform::ProcessId()) + "-" +
           std::to_string(counter.fetch_add(1)) + ".tmp";
}

// The atomic way: a temporary file with the target's permission bits (and, where it belongs to
// someone else, its owner and group), made durable, renamed over the target, and the rename
// made durable.
Status ReplaceThroughTemporary(const fs::path& target, unsigned permissions,
                               const platform::FileOwner* owner, const void* data, int size) {
    std::string temporary;
    int descriptor = -1;
    for (int attempt = 0; attempt < 8 && descriptor < 0; ++attempt) {
        temporary = TemporaryNameFor(target);
        descriptor = platform::CreateNewDescriptor(temporary.c_str(), permissions);
        if (descriptor < 0 && errno != EEXIST) {
            return Status::SystemError(errno);
        }
    }
    if (descriptor < 0) {
        return Status::SystemError(EEXIST);
    }
    CFileSystem& fileSystem = CFileSystem::Current();
    const auto wanted = static_cast<std::size_t>(size > 0 ? size : 0);
    Status result = owner == nullptr || platform::GiveTo(descriptor, *owner)
                        ? Status::Ok()
                        : Status::SystemError(errno);
    if (result.IsOk()) {
        result = WriteWhole(descriptor, data, wanted);
    }
    // The new record is on the disk before it takes the old one's place.
    if (result.IsOk()) {
        result = fileSystem.SyncData(descriptor);
    }
    if (platform::CloseDescriptor(descriptor) != 0 && result.IsOk()) {
        result = Status::SystemError(errno);
    }
    if (result.IsOk()) {
        result = fileSystem.Rename(temporary, target.string());
    }
    if (!result.IsOk()) {
        std::remove(temporary.c_str());
        return result;
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // The new record has taken the old one's place either way; a file system that cannot make
    // a folder durable (some refuse fsync on folders) offers nothing more.
    static_cast<void>(fileSystem.SyncDirectory(folder.string()));
    return Status::Ok();
}

// The fallback for a folder that takes no new file: the old bytes overwritten in place.
Status RewriteInPlace(const fs::path& target, const void* data, int size) {
    std::FILE* file = std::fopen(target.string().c_str(), "r+b");
    if (file == nullptr) {
        return Status::SystemError(errno);
    }
    // Flushed and made durable before the close, as a replaced record would be.
    const auto wanted = static_cast<std::size_t>(size > 0 ? size : 0);
    Status result = std::fwrite(data, 1, wanted, file) == wanted && std::fflush(file) == 0
                        ? CFileSystem::Current().SyncData(platform::DescriptorOf(file))
                        : Status::SystemError(errno != 0 ? errno : ENOSPC);
    if (std::fclose(file) != 0 && result.IsOk()) {
        result = Status::SystemError(errno);
    }
    if (!result.IsOk()) {
        return result;
    }
    std::error_code error;
    if (fs::file_size(target, error) > static_cast<std::uintmax_t>(size)) {
        fs::resize_file(target, static_cast<std::uintmax_t>(size), error);
    }
    return error ? Status::SystemError(error.value()) : Status::Ok();
}

}  // namespace

int ReadWholeFile(const char* path, void* buffer, int wanted) {
    // A FIFO would block the reader and a directory holds no bytes: neither is opened.
    if (!IsRegularFile(path)) {
        return -1;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return -1;
    }
    const std::size_t read =
        wanted > 0 ? std::fread(buffer, 1, static_cast<std::size_t>(wanted), file) : 0;
    std::fclose(file);
    return static_cast<int>(read);
}

Status WriteWhole(int descriptor, const void* data, std::size_t length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const long written = platform::WriteDescriptor(descriptor, bytes, length);
        if (written <= 0) {
            return Status::SystemError(written == 0 ? ENOSPC : errno);
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return Status::Ok();
}

Status ReplaceWholeFile(const char* path, const void* data, int size) {
    fs::file_status status;
    fs::path target;
    if (const Status followed = FollowTrustedLinks(path, target, status); !followed.IsOk()) {
        return followed;
    }
    const bool exists = fs::exists(status);
    if (exists && !fs::is_regular_file(status)) {
        return Status::Refused("it is not a regular file");
    }
    // Even a user who may write anything (root) leaves a file alone that has no write bit.
    const fs::perms anyWrite =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (exists && (!platform::MayWrite(target.string().c_str()) ||
                   (status.permissions() & anyWrite) == fs::perms::none)) {
        return Status::Refused(SystemErrorText(EACCES) + " (the file is read-only)");
    }
    const unsigned permissions = exists
                                     ? static_cast<unsigned>(status.permissions() & fs::perms::all)
                                     : platform::kNewFilePermissions;
    // A file that belongs to someone else keeps its owner: the new one is given to them (which
    // only root may do), or, where that cannot be, the old one is written over in place.
    platform::FileOwner owner;
    const bool foreign = exists && platform::OwnerOf(target.string().c_str(), false, owner) &&
                         !platform::OwnedByThisProcess(owner);
    const Status replaced =
        ReplaceThroughTemporary(target, permissions, foreign ? &owner : nullptr, data, size);
    if (replaced.IsOk() || !exists) {
        return replaced;
    }
    return RewriteInPlace(target, data, size);
}

Status ResolveTrustedPath(const std::string& path, std::string& target) {
    fs::path resolved;
    fs::file_status status;
    const Status followed = FollowTrustedLinks(path, resolved, status);
    target = followed.IsOk() ? resolved.string() : path;
    return followed;
}

bool IsDiskFull(int error) {
#ifdef EDQUOT
    if (error == EDQUOT) {
        return true;
    }
#endif
    return error == ENOSPC;
}

int FileExists(const char* path) {
    return platform::PathExists(path) ? 1 : 0;
}

int IsRegularFile(const char* path) {
    std::error_code error;
    return fs::is_regular_file(fs::status(path, error)) ? 1 : 0;
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

int CreateDirsIfAbsent(const std::string& path) {
    if (platform::PathExists(path.c_str())) {
        return 1;
    }
    const std::size_t separator = path.find_last_of("/\\");
    if (separator != std::string::npos && separator > 0 &&
        CreateDirsIfAbsent(path.substr(0, separator)) == 0) {
        return 0;
    }
    return platform::MakeDirectory(path.c_str()) ? 1 : 0;
}

Status CanCreateFilesIn(const std::string& directory) {
    const std::string probe = TemporaryNameFor(fs::path(directory) / "write-test");
    std::FILE* file = platform::CreateNewFile(probe.c_str());
    if (file == nullptr) {
        return Status::SystemError(errno);
    }
    std::fclose(file);
    std::remove(probe.c_str());
    return Status::Ok();
}

std::string SystemErrorText(int error) {
    return std::generic_category().message(error);
}
