#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "support/status.h"

// Bytes kept to be read back once: in memory while they are few, in a scratch file in the
// folder given (which vanishes with the spool, or with the process) once they pass
// kInMemory. So what a worker holds for the archive stays small whatever size a site's answers
// have. One owner, one thread.
class CSpool {
  public:
    static constexpr std::size_t kInMemory = 1 << 20;

    explicit CSpool(std::string scratchFolder = {}) : folder_(std::move(scratchFolder)) {}
    ~CSpool();
    CSpool(const CSpool&) = delete;
    CSpool& operator=(const CSpool&) = delete;

    // False (Failure() set) when the scratch file could not be made or written.
    bool Append(const void* data, std::size_t length);
    bool Append(const std::string& bytes) { return Append(bytes.data(), bytes.size()); }
    std::uint64_t Size() const { return size_; }
    // Hands the bytes from `from` up to `to` to `take` in pieces, in order; stops early when it
    // returns false. False when the scratch file could not be read (Failure() set) or `take`
    // stopped.
    bool Read(std::uint64_t from, std::uint64_t to,
              const std::function<bool(const char* data, std::size_t length)>& take);
    // Everything forgotten; the scratch file, when there was one, is gone.
    void Clear();
    const Status& Failure() const { return failure_; }

  private:
    bool Fail(int error);

    std::string folder_;
    std::string memory_;
    int scratch_ = -1;  // holds every byte once it is open
    std::uint64_t size_ = 0;
    Status failure_;
};
