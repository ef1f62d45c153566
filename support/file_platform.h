#pragma once

#include <string>

// The few file-system calls that differ between platforms. One source file per platform.
namespace platform {

// Characters that separate path components on this platform.
extern const char* const kSeparators;

bool PathExists(const char* path);
bool MakeDirectory(const char* path);
// Renames `from` to `to`, replacing `to` if it exists, in one step.
bool RenameReplacing(const char* from, const char* to);
// Full path of the running executable.
bool ExecutablePath(std::string& path);

}  // namespace platform
