#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/Kernel.h"

// A POSIX system without Linux's calls: every one of them is missing, and
// the callers take the portable road.
namespace RazaDedeZuzev::platform::posix::kernel {
namespace {
int missing() {
  errno = ENOSYS;
  return -1;
}
}  // namespace

int openUnnamedFile(const char*) { return missing(); }
int linkUnnamedFile(int, const char*) { return missing(); }
int openDirectoryForLookups(const char* path) {
  int descriptor;
  do {
    descriptor = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}
int renameWithoutReplacing(const char*, const char*) { return missing(); }
void startWriteback(int, off_t, off_t) {}
ssize_t copyRange(int, int, std::size_t) { return missing(); }
int executablePath(std::string&) { return missing(); }
int hostIdentity(std::string&) { return missing(); }
void endWithParent() {}
int processAlive(pid_t) { return missing(); }

}  // namespace RazaDedeZuzev::platform::posix::kernel
