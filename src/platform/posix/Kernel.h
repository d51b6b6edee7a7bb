#pragma once

// The calls a POSIX build makes faster or safer where the kernel offers them
// (Linux: unnamed files, linking a descriptor, renaming without replacing,
// syncing a whole file system, copies inside the kernel). Which set is built
// is chosen when the build is configured (RAZADEDEZUZEV_LINUX_CALLS): the
// portable set answers every call with ENOSYS and the callers take the
// portable road, which the test suite runs through that option too.
//
// Each returns what the system call returns (-1 with errno on failure).

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace RazaDedeZuzev::platform::posix::kernel {

// An unnamed file for writing in `directory`, or -1.
int openUnnamedFile(const char* directory);

// Gives the unnamed file `descriptor` the name `path`; fails with EEXIST
// when the name exists.
int linkUnnamedFile(int descriptor, const char* path);

// Opens a directory only to look names up from it (Linux: without the right
// to read it), or -1.
int openDirectoryForLookups(const char* path);

// rename that fails with EEXIST instead of replacing an existing name.
int renameWithoutReplacing(const char* from, const char* to);

// Asks the kernel to start writing a range of the file's dirty pages.
void startWriteback(int descriptor, off_t offset, off_t length);

ssize_t copyRange(int from, int to, std::size_t count);

// The running executable's path, from the kernel; -1 where it cannot say.
int executablePath(std::string& path);

// What tells this kernel's run and this process's namespace of process ids
// apart from every other (Linux: the boot's random id and the namespace's
// number), so that two processes that share it may ask after each other's
// ids; -1 where the kernel cannot say.
int hostIdentity(std::string& identity);

// 1 when the process has a thread that has not ended, 0 when it has none
// (no such process, or only a zombie left for its parent to collect), -1
// where the kernel cannot say: the caller then asks kill(pid, 0).
int processAlive(pid_t process);

// Makes the calling process end (SIGKILL) when its parent does, so that a
// worker never outlives the process that answers for it; and ends it at
// once when the parent is gone already. Nothing where the kernel cannot.
void endWithParent();

}  // namespace RazaDedeZuzev::platform::posix::kernel
