#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "support/file_system.h"
#include "temp_dir.h"

// Does what the real file system does and keeps the order of the calls that make files durable,
// so that tests can check that nothing is counted before it is on the disk. A rename keeps the
// bytes it puts in place. Installed for the whole process while it lives.
class RecordingFileSystem : public CFileSystem {
  public:
    struct Call {
        std::string what;  // "sync-data", "name", "sync-dir", "rename"
        int descriptor = -1;
        std::string path;   // named, synced folder or file (where the system says), rename target
        std::string bytes;  // rename: what took the target's place
    };

    RecordingFileSystem() { CFileSystem::Install(this); }
    ~RecordingFileSystem() override { CFileSystem::Install(nullptr); }

    Status SyncData(int descriptor) override {
        std::error_code unknown;
        Add({"sync-data",
             descriptor,
             std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(descriptor), unknown)
                 .string(),
             {}});
        return CFileSystem::SyncData(descriptor);
    }
    Status SyncDirectory(const std::string& path) override {
        Add({"sync-dir", -1, path, {}});
        return CFileSystem::SyncDirectory(path);
    }
    Status NameDescriptor(int descriptor, const std::string& path) override {
        Status named = CFileSystem::NameDescriptor(descriptor, path);
        if (named.IsOk()) {
            Add({"name", descriptor, path, {}});
        }
        return named;
    }
    Status Rename(const std::string& from, const std::string& to) override {
        Add({"rename", -1, to, ReadFileBytes(from)});
        return CFileSystem::Rename(from, to);
    }
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

  private:
    void Add(Call call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::vector<Call> calls_;
};
