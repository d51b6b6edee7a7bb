#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <map>

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

int syncFileSystem(int descriptor) { return ::syncfs(descriptor); }

void startWriteback(int descriptor, off_t offset, off_t length) {
  ::sync_file_range(descriptor, offset, length, SYNC_FILE_RANGE_WRITE);
}

int describeFileSystem(int descriptor, std::uint64_t& id, int& reaches) {
  // The device tells the file system, and a status query is cheap; asking
  // the file system itself can cost more than a small copy, so that is done
  // once per device.
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) return -1;
  id = static_cast<std::uint64_t>(status.st_dev);
  static std::map<std::uint64_t, int> reachesByDevice;
  if (const auto known = reachesByDevice.find(id); known != reachesByDevice.end()) {
    reaches = known->second;
    return 0;
  }
  struct statfs info {};
  if (::fstatfs(descriptor, &info) != 0) return -1;
  // File systems whose data lives elsewhere: syncfs does not reach their
  // files' data (user-space and some network ones), or does not report a
  // file's failed write. Their magic numbers, from the kernel's magic.h.
  constexpr unsigned long kRemote[] = {
      0x65735546,  // FUSE
      0x6969,      // NFS
      0x517B,      // SMB
      0xFE534D42,  // SMB2
      0xFF534D42,  // CIFS
      0x01021997,  // 9P
      0x00C36400,  // Ceph
      0x5346414F,  // AFS
      0x47504653,  // GPFS
      0x0BD00BD0,  // Lustre
  };
  reaches = 1;
  for (const unsigned long magic : kRemote) {
    if (static_cast<unsigned long>(info.f_type) == magic) reaches = 0;
  }
  reachesByDevice.emplace(id, reaches);
  return 0;
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

}  // namespace RazaDedeZuzev::platform::posix::kernel
