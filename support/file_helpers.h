#pragma once

#include <string>

// Small file-system chores. Stateless, callable from any thread, never throw, no messages:
// results are the only report.

// Reads up to `wanted` bytes of the file into `buffer`. Returns the number read (a short file
// gives its own size), or -1 when the file cannot be opened.
int ReadWholeFile(const char* path, void* buffer, int wanted);

// Replaces the file's content with exactly `size` bytes. Returns the number written, or -1 when
// the file cannot be opened. A short count or a failed close reports the bytes that surely
// reached the file, so any count below `size` means the write failed.
int WriteWholeFile(const char* path, const void* data, int size);

// As WriteWholeFile, but writes a temporary file beside `path` and renames it over the old one,
// so that a process that dies half-way leaves either the old content or the new, never a torn
// file. Returns `size` on success, else -1; the temporary file is removed on failure.
int ReplaceWholeFile(const char* path, const void* data, int size);

// 1 when the path exists, as a file or a directory; else 0.
int FileExists(const char* path);

// The directory of the running executable, ending in the path separator. Returns 1, or 0 when
// the executable's path cannot be found; the output is then left as it was.
int GetAppDirectory(std::string& appDirectory);

// 1 when the path exists already (even as a file) or the directory was created; 0 when creation
// failed. Only the last component is created.
int CreateDirIfAbsent(const char* path);

// Removes a file; 1 on success, else 0.
int RemoveFile(const char* path);
