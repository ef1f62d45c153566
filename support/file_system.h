#pragma once

#include <string>

#include "support/status.h"

// The file-system calls whose order decides what survives a power cut: a file's bytes are made
// durable before it takes its name, and a folder's entries before anything that counts on them.
// The program uses the one process-wide instance; tests install one that records the order.
// Callable from any thread.
class CFileSystem {
  public:
    virtual ~CFileSystem() = default;

    // Makes the open file's bytes durable (fdatasync).
    virtual Status SyncData(int descriptor);
    // Makes the folder's entries (names given, renames) durable.
    virtual Status SyncDirectory(const std::string& path);
    // Gives an unnamed open file the name `path`; a system error EEXIST when the name is taken.
    virtual Status NameDescriptor(int descriptor, const std::string& path);
    // Renames `from` to `to`, replacing `to` in one step.
    virtual Status Rename(const std::string& from, const std::string& to);

    static CFileSystem& Current();
    // Installs `fileSystem` (not owned) for the whole process; nullptr restores the real one.
    static void Install(CFileSystem* fileSystem);
};
