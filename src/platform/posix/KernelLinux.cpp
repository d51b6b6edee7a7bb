#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>

#include "platform/posix/Kernel.h"
#include "platform/posix/NativePath.h"

namespace RazaDedeZuzev::platform::posix::kernel {

int openUnnamedFile(const char* directory) {
  return retryOnSignal([&] { return ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0666); });
}

int linkUnnamedFile(int descriptor, const char* path) {
  // Linking a descriptor directly needs a privilege that ordinary users
  // lack; the /proc link to it does not.
  if (::linkat(descriptor, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM) return -1;
  char procPath[64];
  std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", descriptor);
  return ::linkat(AT_FDCWD, procPath, AT_FDCWD, path, AT_SYMLINK_FOLLOW);
}

int openDirectoryForLookups(const char* path) {
  return retryOnSignal([&] { return ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC); });
}

int renameWithoutReplacing(const char* from, const char* to) {
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

void startWriteback(int descriptor, off_t offset, off_t length) {
  ::sync_file_range(descriptor, offset, length, SYNC_FILE_RANGE_WRITE);
}

ssize_t copyRange(int from, int to, std::size_t count) {
  return retryOnSignal([&] { return ::copy_file_range(from, nullptr, to, nullptr, count, 0); });
}

int executablePath(std::string& path) {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer) return -1;
  path.assign(buffer, static_cast<std::size_t>(length));
  return 0;
}

int hostIdentity(std::string& identity) {
  char boot[64] = {};
  char space[64] = {};
  FILE* file = std::fopen("/proc/sys/kernel/random/boot_id", "re");
  if (file == nullptr) return -1;
  const bool read = std::fgets(boot, sizeof boot, file) != nullptr;
  std::fclose(file);
  const ssize_t length = ::readlink("/proc/self/ns/pid", space, sizeof space - 1);
  if (!read || length <= 0) return -1;
  identity.assign(boot).append(space, static_cast<std::size_t>(length));
  return 0;
}

int processAlive(pid_t process) {
  // A killed process whose first thread has ended shows as a zombie while
  // another of its threads still waits in the kernel: each thread counts.
  char path[320];
  std::snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(process));
  DIR* tasks = ::opendir(path);
  if (tasks == nullptr) return errno == ENOENT ? 0 : -1;
  int alive = 0;
  while (const dirent* task = ::readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    char stat[512] = {};
    std::snprintf(path, sizeof path, "/proc/%d/task/%s/stat", static_cast<int>(process), task->d_name);
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) continue;
    const std::size_t got = std::fread(stat, 1, sizeof stat - 1, file);
    std::fclose(file);
    const char* end = std::strrchr(stat, ')');
    if (got > 0 && end != nullptr && end[1] == ' ' && end[2] != 'Z') alive = 1;
  }
  ::closedir(tasks);
  return alive;
}

void endWithParent() {
  const pid_t parent = ::getppid();
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::raise(SIGKILL);  // it ended before the call
}

}  // namespace RazaDedeZuzev::platform::posix::kernel
