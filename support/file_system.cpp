#include "support/file_system.h"

#include <atomic>
#include <cerrno>

#include "support/file_platform.h"

namespace {
CFileSystem g_real;
std::atomic<CFileSystem*> g_current{&g_real};
}  // namespace

namespace {
// The platform's answer, with its errno read at once.
Status Checked(bool done) {
    return done ? Status::Ok() : Status::SystemError(errno);
}
}  // namespace

Status CFileSystem::SyncData(int descriptor) {
    return Checked(platform::SyncDescriptor(descriptor));
}

Status CFileSystem::SyncDirectory(const std::string& path) {
    return Checked(platform::SyncDirectory(path.c_str()));
}

Status CFileSystem::NameDescriptor(int descriptor, const std::string& path) {
    return Checked(platform::NameDescriptor(descriptor, path.c_str()));
}

Status CFileSystem::Rename(const std::string& from, const std::string& to) {
    return Checked(platform::RenameReplacing(from.c_str(), to.c_str()));
}

CFileSystem& CFileSystem::Current() {
    return *g_current.load();
}

void CFileSystem::Install(CFileSystem* fileSystem) {
    g_current.store(fileSystem != nullptr ? fileSystem : &g_real);
}
