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
int renameWithoutReplacing(const char*, const char*) { return missing(); }
int syncFileSystem(int) { return missing(); }
void startWriteback(int) {}
ssize_t copyRange(int, int, std::size_t) { return missing(); }
int executablePath(std::string&) { return missing(); }

}  // namespace RazaDedeZuzev::platform::posix::kernel
