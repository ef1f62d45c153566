#pragma once

#include <cstddef>

// A file written straight through to the system, one call per block: no second buffer, and every
// error, the one at close included, is seen. Move-free, one owner.
class COutputFile {
  public:
    COutputFile() = default;
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;
    ~COutputFile();

    // Creates or truncates the file (or appends to it); false with Error() set on failure.
    bool Open(const char* path, bool append);
    // Writes all bytes; false with Error() set on failure.
    bool Write(const void* data, std::size_t length);
    // False with Error() set when the close reported a failure.
    bool Close();
    // The system's error number of the last failure.
    int Error() const { return error_; }

  private:
    int descriptor_ = -1;
    int error_ = 0;
};
