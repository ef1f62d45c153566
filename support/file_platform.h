#pragma once

#include <cstdio>
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
// Whether this process may write the existing file; errno tells why not.
bool MayWrite(const char* path);
// Whether users other than the owner may read the file (never, where no such bits exist).
bool OthersMayRead(const char* path);
// Creates a file that must not exist yet, for binary writing; nullptr (errno set) otherwise.
std::FILE* CreateNewFile(const char* path);
// The same as a descriptor with the given permission bits, exactly (the umask does not apply),
// or, for kNewFilePermissions, those of any new file; -1 with errno set on failure.
inline constexpr unsigned kNewFilePermissions = ~0u;
int CreateNewDescriptor(const char* path, unsigned permissions);
// Unbuffered output: a descriptor opened for writing (created when missing, truncated unless
// `append`), -1 with errno set on failure; writes of what the platform takes, -1 on error.
int OpenDescriptor(const char* path, bool append);
long WriteDescriptor(int descriptor, const void* data, std::size_t length);
int CloseDescriptor(int descriptor);
// The folder for per-user application data: $XDG_DATA_HOME, else ~/.local/share (Linux);
// %LOCALAPPDATA% (Windows).
std::string UserDataHome();
// A file without a name in `directory`, open for writing (-1 with errno set where the platform
// or the file system has no such thing), and the giving of a name to it: false (errno set) when
// the name exists already or naming fails.
int OpenUnnamedIn(const char* directory);
bool NameDescriptor(int descriptor, const char* path);
// Opens the file for appending (created when missing) without waiting for anything: a FIFO
// without a reader fails at once instead of holding the caller. It may also be read, so that its
// last byte can be checked. -1 with errno set.
int OpenAppendWithoutWaiting(const char* path);
// The size of the open file; -1 with errno set.
long long DescriptorSize(int descriptor);
// Reads the byte at `offset` of the open file; false with errno set.
bool ReadByteAt(int descriptor, long long offset, char& byte);
// Reads up to `length` bytes at `offset` of the open file: the number read (0 at its end), or -1
// with errno set.
long ReadAt(int descriptor, long long offset, void* data, std::size_t length);
// A file in `directory` for writing and reading back, which goes with its descriptor's close,
// a crash included: nothing of it is left to clear away. -1 with errno set.
int OpenScratchIn(const char* directory);
// Cuts the open file back to `size` bytes; false with errno set.
bool TruncateDescriptor(int descriptor, long long size);
// Whether the open file is a regular file.
bool IsRegularDescriptor(int descriptor);
// Opens (creating) `path` and locks it exclusively without waiting; the descriptor, whose close
// releases the lock, or -1 with errno set and `busy` true when another process holds it.
int LockExclusively(const char* path, bool& busy);
// Makes the file's bytes durable (fdatasync); false with errno set.
bool SyncDescriptor(int descriptor);
// Makes the folder's entries durable (fsync of the folder); true where the platform makes
// renames durable by itself.
bool SyncDirectory(const char* path);
// Who owns a file, where the platform says (-1: unknown, as on Windows).
struct FileOwner {
    long user = -1;
    long group = -1;
};
// The owner of `path` (of the link itself when `ofLink`); false where it cannot be read.
bool OwnerOf(const char* path, bool ofLink, FileOwner& owner);
// The user this process acts as.
long EffectiveUser();
// Whether files this process creates get this owner and group anyway.
bool OwnedByThisProcess(const FileOwner& owner);
// Gives the open file to `owner` (its user and group); false with errno set.
bool GiveTo(int descriptor, const FileOwner& owner);
// The descriptor under a stream.
int DescriptorOf(std::FILE* stream);
// Opens the null device on whichever of the standard descriptors 0, 1 and 2 is closed, so that
// no file the program opens later takes their place (and receives its messages).
void EnsureStandardStreams();
// Whether nobody reads the stream any more (a pipe whose reader has gone).
bool OutputGone(std::FILE* stream);
// Whether the stream is a terminal (a person watches it) rather than a file or a pipe.
bool IsTerminal(std::FILE* stream);
// A number that differs between processes running at the same time (read once).
unsigned long ProcessId();

}  // namespace platform
