#pragma once

#include <cstddef>
#include <string>

#include "support/status.h"

// Small file-system chores. Stateless, callable from any thread, never throw, no messages:
// results are the only report.

// Reads up to `wanted` bytes of the file into `buffer`. Returns the number read (a short file
// gives its own size), or -1 when the path is not a regular file that can be opened for reading
// (missing, unreadable, a directory, a FIFO: none of them is ever opened).
int ReadWholeFile(const char* path, void* buffer, int wanted);

// Replaces the content of a state file so that a crash leaves either the old bytes or the new:
// a uniquely named temporary file in the same folder, written whole, takes the old file's mode
// and is renamed over it. Where the folder refuses a temporary file, the bytes are written over
// the old ones in place instead. A symbolic link is followed and its target replaced; a file
// that may not be written (no write permission, or no write bit at all) or that is not a regular
// file is never replaced.
Status ReplaceWholeFile(const char* path, const void* data, int size);

// The path a chain of symbolic links ends at (the path itself when it is no link). A link is
// followed only when it belongs to this user or to the owner of the folder it lies in, as the
// kernel follows links in sticky folders such as /tmp: a link that another user planted is
// refused, saying so.
Status ResolveTrustedPath(const std::string& path, std::string& target);

// Writes all `length` bytes to the open file, in as many writes as the system takes. A write
// that makes no progress is a full disk.
Status WriteWhole(int descriptor, const void* data, std::size_t length);

// Whether a system error number means that the disk (or the user's quota on it) is full.
bool IsDiskFull(int error);

// 1 when the path exists, as a file or a directory; else 0.
int FileExists(const char* path);

// 1 when the path is an existing regular file (after following links); else 0.
int IsRegularFile(const char* path);

// The directory of the running executable, ending in the path separator. Returns 1, or 0 when
// the executable's path cannot be found; the output is then left as it was.
int GetAppDirectory(std::string& appDirectory);

// 1 when the path exists already (even as a file) or the directory was created; 0 when creation
// failed. Only the last component is created.
int CreateDirIfAbsent(const char* path);
// The same for every folder on the path that is missing, from the outermost in. On a failure,
// errno says why.
int CreateDirsIfAbsent(const std::string& path);

// Whether a file can be created in the directory (tried by creating and removing one).
Status CanCreateFilesIn(const std::string& directory);

// The text of a system error number (errno), as the platform words it.
std::string SystemErrorText(int error);
