#pragma once

#include <string>

#include "support/status.h"

// One run per data folder: an exclusive lock on "NOVUDownLoad.lock" in the folder, held for a
// whole run. Two programs on one folder would fetch the same numbers and overwrite each other's
// saves. The lock goes with the process, so a killed program leaves no stale lock. The file
// itself stays.
class CFolderLock {
  public:
    CFolderLock() = default;
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;
    ~CFolderLock() { Unlock(); }

    // Takes the lock of `directory` (ending in its separator) without waiting. Busy, "another
    // run is using <directory>", when another run holds it; a system error when the lock file
    // cannot be made.
    Status TryLock(const std::string& directory);
    void Unlock();
    bool Held() const { return descriptor_ >= 0; }

    // Whether a run holds the lock of `directory` right now (tools ask before they write).
    static bool InUse(const std::string& directory);

  private:
    int descriptor_ = -1;
};

inline constexpr const char* kLockFileName = "NOVUDownLoad.lock";
