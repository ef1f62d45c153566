#include "support/folder_lock.h"

#include <cerrno>

#include "support/file_helpers.h"
#include "support/file_platform.h"

Status CFolderLock::TryLock(const std::string& directory) {
    Unlock();
    const std::string path = directory + kLockFileName;
    std::string target;
    if (const Status trusted = ResolveTrustedPath(path, target); !trusted.IsOk()) {
        return Status::Refused("the lock file " + path + " cannot be used: " + trusted.Text());
    }
    bool busy = false;
    descriptor_ = platform::LockExclusively(target.c_str(), busy);
    if (descriptor_ >= 0) {
        return Status::Ok();
    }
    return busy ? Status::Busy("another run is using " + directory)
                : Status::SystemError(errno, "the lock file " + path + " cannot be made");
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
    return probe.TryLock(directory).Code() == StatusCode::kBusy;
}
