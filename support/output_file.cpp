#include "support/output_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "support/file_helpers.h"
#include "support/file_platform.h"
#include "support/file_system.h"

COutputFile::~COutputFile() {
    Close();
}

bool COutputFile::Open(const char* path, bool append) {
    Close();
    descriptor_ = platform::OpenDescriptor(path, append);
    error_ = descriptor_ < 0 ? errno : 0;
    return descriptor_ >= 0;
}

bool COutputFile::Write(const void* data, std::size_t length) {
    const Status written = WriteWhole(descriptor_, data, length);
    if (!written.IsOk()) {
        error_ = written.SystemErrorNumber();
    }
    return written.IsOk();
}

bool COutputFile::Close() {
    if (descriptor_ < 0) {
        return true;
    }
    const int result = platform::CloseDescriptor(descriptor_);
    descriptor_ = -1;
    if (result != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

bool CWholeFile::Create(const std::string& finalPath) {
    Discard();
    finalPath_ = finalPath;
    partialPath_.clear();
    const std::string folder = std::filesystem::path(finalPath).parent_path().string();
    file_.descriptor_ = platform::OpenUnnamedIn(folder.empty() ? "." : folder.c_str());
    if (file_.descriptor_ < 0) {
        partialPath_ = PartialPath(finalPath);
        if (!file_.Open(partialPath_.c_str(), false)) {
            error_ = file_.Error();
            partialPath_.clear();
            return false;
        }
    }
    open_ = true;
    return true;
}

bool CWholeFile::Write(const void* data, std::size_t length) {
    if (!file_.Write(data, length)) {
        error_ = file_.Error();
        return false;
    }
    return true;
}

bool CWholeFile::Fail(const Status& status) {
    error_ = status.SystemErrorNumber();
    Discard();
    return false;
}

bool CWholeFile::Commit() {
    if (!open_) {
        return false;
    }
    CFileSystem& fileSystem = CFileSystem::Current();
    // The bytes reach the disk before the name does: after a power cut a name never stands for
    // an empty or short document.
    if (const Status synced = fileSystem.SyncData(file_.descriptor_); !synced.IsOk()) {
        return Fail(synced);
    }
    if (partialPath_.empty()) {
        // The common case, a number fetched for the first time, needs one name and no rename.
        const Status named = fileSystem.NameDescriptor(file_.descriptor_, finalPath_);
        if (named.IsOk()) {
            open_ = false;
            if (!file_.Close()) {
                error_ = file_.Error();  // its bytes may not all be there: it must not stay
                std::remove(finalPath_.c_str());
                return false;
            }
            return true;
        }
        if (named.SystemErrorNumber() != EEXIST) {
            return Fail(named);
        }
        // An older copy is there: named beside it first, then renamed over it in one step.
        partialPath_ = PartialPath(finalPath_);
        std::remove(partialPath_.c_str());
        if (const Status beside = fileSystem.NameDescriptor(file_.descriptor_, partialPath_);
            !beside.IsOk()) {
            partialPath_.clear();
            return Fail(beside);
        }
    }
    if (!file_.Close()) {
        error_ = file_.Error();
        Discard();
        return false;
    }
    if (const Status renamed = fileSystem.Rename(partialPath_, finalPath_); !renamed.IsOk()) {
        return Fail(renamed);
    }
    open_ = false;
    partialPath_.clear();
    return true;
}

void CWholeFile::Discard() {
    if (!open_) {
        return;
    }
    open_ = false;
    file_.Close();
    if (!partialPath_.empty()) {
        std::remove(partialPath_.c_str());
        partialPath_.clear();
    }
}
