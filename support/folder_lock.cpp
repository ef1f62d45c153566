#include "support/folder_lock.h"

#include <cerrno>

#include "support/file_helpers.h"
#include "support/file_platform.h"

bool CFolderLock::TryLock(const std::string& directory, std::string* problem) {
    Unlock();
    const std::string path = directory + kLockFileName;
    bool busy = false;
    descriptor_ = platform::LockExclusively(path.c_str(), busy);
    if (descriptor_ >= 0) {
        return true;
    }
    if (problem != nullptr) {
        *problem =
            busy ? "another run is using " + directory
                 : "the lock file " + path + " cannot be made (" + SystemErrorText(errno) + ")";
    }
    return false;
}

void CFolderLock::Unlock() {
    if (descriptor_ >= 0) {
        platform::CloseDescriptor(descriptor_);  // the lock goes with the descriptor
        descriptor_ = -1;
    }
}

bool CFolderLock::InUse(const std::string& directory) {
    if (!FileExists((directory + kLockFileName).c_str())) {
        return false;  // no run has ever used the folder: nothing to make
    }
    CFolderLock probe;
    std::string problem;
    if (probe.TryLock(directory, &problem)) {
        return false;
    }
    return problem.starts_with("another run");
}
