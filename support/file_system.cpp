#include "support/file_system.h"

#include <atomic>

#include "support/file_platform.h"

namespace {
CFileSystem g_real;
std::atomic<CFileSystem*> g_current{&g_real};
}  // namespace

bool CFileSystem::SyncData(int descriptor) {
    return platform::SyncDescriptor(descriptor);
}

bool CFileSystem::SyncDirectory(const std::string& path) {
    return platform::SyncDirectory(path.c_str());
}

bool CFileSystem::NameDescriptor(int descriptor, const std::string& path) {
    return platform::NameDescriptor(descriptor, path.c_str());
}

bool CFileSystem::Rename(const std::string& from, const std::string& to) {
    return platform::RenameReplacing(from.c_str(), to.c_str());
}

CFileSystem& CFileSystem::Current() {
    return *g_current.load();
}

void CFileSystem::Install(CFileSystem* fileSystem) {
    g_current.store(fileSystem != nullptr ? fileSystem : &g_real);
}
