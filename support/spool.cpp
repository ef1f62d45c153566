#include "support/spool.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "support/file_helpers.h"
#include "support/file_platform.h"

CSpool::~CSpool() {
    Clear();
}

bool CSpool::Fail(int error) {
    failure_ = Status::SystemError(error, "scratch file in " + folder_);
    return false;
}

bool CSpool::Append(const void* data, std::size_t length) {
    if (scratch_ < 0 && memory_.size() + length <= kInMemory) {
        memory_.append(static_cast<const char*>(data), length);
        size_ += length;
        return true;
    }
    if (scratch_ < 0) {
        scratch_ = platform::OpenScratchIn(folder_.empty() ? "." : folder_.c_str());
        if (scratch_ < 0) {
            return Fail(errno);
        }
        const std::string held = std::move(memory_);
        memory_.clear();
        size_ = 0;
        if (!Append(held.data(), held.size())) {
            return false;
        }
    }
    if (const Status written = WriteWhole(scratch_, data, length); !written.IsOk()) {
        return Fail(written.SystemErrorNumber());
    }
    size_ += length;
    return true;
}

bool CSpool::Read(std::uint64_t from, std::uint64_t to,
                  const std::function<bool(const char*, std::size_t)>& take) {
    to = std::min(to, size_);
    if (scratch_ < 0) {
        return from >= to || take(memory_.data() + from, static_cast<std::size_t>(to - from));
    }
    std::vector<char> block(std::min<std::uint64_t>(to - std::min(from, to), 256 * 1024));
    while (from < to) {
        const long got = platform::ReadAt(scratch_, static_cast<long long>(from), block.data(),
                                          std::min<std::uint64_t>(block.size(), to - from));
        if (got <= 0) {
            return Fail(got == 0 ? EIO : errno);
        }
        if (!take(block.data(), static_cast<std::size_t>(got))) {
            return false;
        }
        from += static_cast<std::uint64_t>(got);
    }
    return true;
}

void CSpool::Clear() {
    if (scratch_ >= 0) {
        platform::CloseDescriptor(scratch_);
        scratch_ = -1;
    }
    memory_.clear();
    size_ = 0;
    failure_ = Status::Ok();
}
