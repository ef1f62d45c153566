#include "support/output_file.h"

#include <cerrno>

#include "support/file_platform.h"

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
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const long written = platform::WriteDescriptor(descriptor_, bytes, length);
        if (written <= 0) {
            error_ = written < 0 ? errno : ENOSPC;
            return false;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
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
