#pragma once

#include <cstddef>
#include <string>

#include "support/status.h"
#include "support/text_format.h"

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
    friend class CWholeFile;
    int descriptor_ = -1;
    int error_ = 0;
};

// A document that appears under its final name only once it is whole: written without a name
// (or, where the file system cannot do that, as "<final>.part"), then named, replacing an older
// copy in one step. A crash or a discard leaves nothing under the final name and an older copy as
// it was.
class CWholeFile {
  public:
    CWholeFile() = default;
    CWholeFile(const CWholeFile&) = delete;
    CWholeFile& operator=(const CWholeFile&) = delete;
    ~CWholeFile() { Discard(); }

    // False with Error() set when no file could be started.
    bool Create(const std::string& finalPath);
    bool Write(const void* data, std::size_t length);
    // Closes the file and gives it its final name; false with Error() set (nothing is left).
    bool Commit();
    // Closes and removes what was written.
    void Discard();
    int Error() const { return error_; }

    // The name a document has while it is written where files cannot be written unnamed:
    // "<final>.part", or, where that would not fit the 259 characters of a path, the final name
    // with its last character replaced by '~' (documents' names differ before their last one).
    static std::string PartialPath(std::string finalPath) {
        if (finalPath.size() + 5 < kPathBufferSize || finalPath.empty()) {
            return finalPath + ".part";
        }
        finalPath.back() = finalPath.back() == '~' ? '#' : '~';
        return finalPath;
    }

  private:
    bool Fail(const Status& status);

    COutputFile file_;
    std::string finalPath_;
    std::string partialPath_;  // empty while the file has no name
    bool open_ = false;
    int error_ = 0;
};
