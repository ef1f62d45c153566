#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Internal error codes, whose texts the error table may hold.
enum KTERROR : std::int32_t {
    KTERR_CREATE_THREAD = 12289,  // 0x3001: the platform refused to create a worker's thread
};

struct ErrorTextEntry {
    std::int32_t code;
    std::string text;  // at most 255 characters
};

// Process-wide list from error code to message text, filled before any thread exists and only
// read after.
class ErrorTextTable {
  public:
    static ErrorTextTable& Instance();
    const std::vector<ErrorTextEntry>& Entries() const { return entries_; }

  private:
    ErrorTextTable();
    std::vector<ErrorTextEntry> entries_;
};

// The text of a code, or the empty text when the table does not hold it. The result lives in a
// per-thread buffer of 256 characters that the next lookup on the same thread overwrites.
const char* GetErrorText(KTERROR code);
