// Preloaded into the program by the end-to-end tests (LD_PRELOAD): at an
// exact moment named by the environment, the process crashes, or its reads
// start to fail. A crash loses what a power cut may: the data that no sync
// reached is cut off every file the process wrote, and every name it gave
// (by link, linkat or mkdir) that no sync of its directory or file
// system reached is gone, with all below it; then the process dies with
// SIGKILL. It lands at
// that very moment, however fast the run goes.
//
//   RAZADEDEZUZEV_TEST_KILL_AFTER_BYTES=N  once N bytes have been written,
//                                          all files together, by write or
//                                          copy_file_range (the call that
//                                          crosses N is cut at N)
//   RAZADEDEZUZEV_TEST_KILL_BEFORE_LINK=K  instead of giving the K-th name
//   RAZADEDEZUZEV_TEST_KILL_AFTER_LINK=K   right after giving the K-th name
//   RAZADEDEZUZEV_TEST_KILL_AFTER_RESULTS_SYNC=1
//                                          right after the result file (a
//                                          name ending in .out) is synced
//   RAZADEDEZUZEV_TEST_FAIL_READS_AT_OFFSET=N
//                                          byte N of a file cannot be read:
//                                          a read or copy stops short of it,
//                                          one that starts at it fails with
//                                          EIO (whichever thread reads)
//   RAZADEDEZUZEV_TEST_NO_UNNAMED_FILES=1
//                                          the file system has no unnamed
//                                          files (O_TMPFILE: EOPNOTSUPP), as
//                                          network and FUSE ones
//
// Names are counted as calls of link and linkat, 1 for the first.

#include <dlfcn.h>
#include <errno.h>
#include <ftw.h>
#include <fcntl.h>
#include <stdarg.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

std::uint64_t setting(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::strtoull(value, nullptr, 10);
}

// The program writes on two threads: the hooks take turns.
std::mutex& hookMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// Every regular file written to since a sync reached all of it, by inode:
// a descriptor of our own to it, and how much of it a sync has reached.
struct Written {
  int descriptor;
  off_t synced;
  dev_t device;
};
std::map<std::pair<dev_t, ino_t>, Written>& writtenFiles() {
  static auto* files = new std::map<std::pair<dev_t, ino_t>, Written>();
  return *files;
}

void noteWrite(int descriptor) {
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || writtenFiles().contains({info.st_dev, info.st_ino})) return;
  writtenFiles()[{info.st_dev, info.st_ino}] = Written{::dup(descriptor), info.st_size, info.st_dev};
}

// Every name given, with the directory it is in (device and inode) and
// whether a sync has reached it.
struct Name {
  std::string path;
  dev_t device;
  ino_t directory;
  bool synced;
};
std::vector<Name>& givenNames() {
  static auto* names = new std::vector<Name>();
  return *names;
}

// The program gives names by absolute paths.
void noteName(const char* path) {
  const std::string name = path;
  struct stat parent {};
  if (::stat(name.substr(0, name.rfind('/') + 1).c_str(), &parent) != 0) std::abort();
  givenNames().push_back({name, parent.st_dev, parent.st_ino, false});
}

// What a sync reached: all of the file's data, or that of every file on a
// device; the names in a directory synced, or all names on a device.
void noteSync(int descriptor, bool wholeDevice) {
  struct stat info {};
  if (::fstat(descriptor, &info) != 0) return;
  for (auto file = writtenFiles().begin(); file != writtenFiles().end();) {
    if (wholeDevice ? file->second.device == info.st_dev : file->first == std::make_pair(info.st_dev, info.st_ino)) {
      // All of it is durable: our descriptor goes, so that the program's
      // own limit on descriptors is not used up by ours.
      ::close(file->second.descriptor);
      file = writtenFiles().erase(file);
    } else {
      ++file;
    }
  }
  for (Name& name : givenNames()) {
    if (name.device == info.st_dev && (wholeDevice || (S_ISDIR(info.st_mode) && name.directory == info.st_ino))) {
      name.synced = true;
    }
  }
}

[[noreturn]] void crash() {
  for (auto& [key, file] : writtenFiles()) ::ftruncate(file.descriptor, file.synced);
  for (const Name& name : givenNames()) {
    if (name.synced) continue;
    // A directory whose name is lost takes everything below it along.
    ::nftw(name.path.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); },
           16, FTW_DEPTH | FTW_PHYS);
  }
  ::raise(SIGKILL);
  std::abort();
}

bool isResultFile(int descriptor) {
  char path[4096];
  const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(descriptor)).c_str(), path, sizeof path);
  return length > 4 && std::string(path, static_cast<std::size_t>(length)).ends_with(".out");
}

std::uint64_t beforeLink() {
  static const std::uint64_t killBefore = setting("RAZADEDEZUZEV_TEST_KILL_BEFORE_LINK");
  static std::uint64_t links = 0;
  if (++links == killBefore) crash();
  return links;
}

void afterLink(std::uint64_t number) {
  static const std::uint64_t killAfter = setting("RAZADEDEZUZEV_TEST_KILL_AFTER_LINK");
  if (number == killAfter) crash();
}

// Bytes written by write and copy_file_range together; the call that
// crosses the kill point is cut there.
std::uint64_t written = 0;
std::uint64_t allowedToWrite(std::uint64_t size) {
  static const std::uint64_t killAfter = setting("RAZADEDEZUZEV_TEST_KILL_AFTER_BYTES");
  if (killAfter == 0 || written + size < killAfter) return size;
  return killAfter - written;
}

// How many bytes from `position` may be read before the failing offset:
// `size`, fewer, or 0 at the offset itself.
std::uint64_t readable(off_t position, std::uint64_t size) {
  static const std::uint64_t failAt = setting("RAZADEDEZUZEV_TEST_FAIL_READS_AT_OFFSET");
  if (failAt == 0 || position < 0 || static_cast<std::uint64_t>(position) > failAt) return size;
  return std::min(size, failAt - static_cast<std::uint64_t>(position));
}

}  // namespace

extern "C" ssize_t write(int descriptor, const void* data, size_t size) {
  const std::lock_guard guard(hookMutex());
  using Write = ssize_t (*)(int, const void*, size_t);
  static const Write realWrite = next<Write>("write");
  noteWrite(descriptor);
  const std::uint64_t allowed = allowedToWrite(size);
  const ssize_t result = realWrite(descriptor, data, static_cast<size_t>(allowed));
  if (allowed < size) crash();
  if (result > 0) written += static_cast<std::uint64_t>(result);
  return result;
}

extern "C" ssize_t read(int descriptor, void* buffer, size_t size) {
  const std::lock_guard guard(hookMutex());
  using Read = ssize_t (*)(int, void*, size_t);
  static const Read realRead = next<Read>("read");
  const std::uint64_t allowed = readable(::lseek(descriptor, 0, SEEK_CUR), size);
  if (allowed == 0 && size > 0) {
    errno = EIO;
    return -1;
  }
  return realRead(descriptor, buffer, static_cast<size_t>(allowed));
}

extern "C" ssize_t copy_file_range(int from, off_t* fromOffset, int to, off_t* toOffset, size_t size,
                                   unsigned flags) {
  const std::lock_guard guard(hookMutex());
  using CopyFileRange = ssize_t (*)(int, off_t*, int, off_t*, size_t, unsigned);
  static const CopyFileRange realCopy = next<CopyFileRange>("copy_file_range");
  const std::uint64_t wanted = readable(fromOffset != nullptr ? *fromOffset : ::lseek(from, 0, SEEK_CUR), size);
  if (wanted == 0 && size > 0) {
    errno = EIO;
    return -1;
  }
  noteWrite(to);
  const std::uint64_t allowed = allowedToWrite(wanted);
  const ssize_t result = realCopy(from, fromOffset, to, toOffset, static_cast<size_t>(allowed), flags);
  if (allowed < wanted) crash();
  if (result > 0) written += static_cast<std::uint64_t>(result);
  return result;
}

// A sync that worked: of the file, or of everything on its file system.
#define SYNC_FUNCTION(name, wholeDevice)                                                     \
  extern "C" int name(int descriptor) {                                                      \
    const std::lock_guard guard(hookMutex());                                                \
    static const auto real = next<int (*)(int)>(#name);                                      \
    static const bool killAfterResults = setting("RAZADEDEZUZEV_TEST_KILL_AFTER_RESULTS_SYNC") != 0; \
    const int result = real(descriptor);                                                     \
    if (result == 0) noteSync(descriptor, wholeDevice);                                      \
    if (result == 0 && killAfterResults && isResultFile(descriptor)) crash();                \
    return result;                                                                           \
  }
SYNC_FUNCTION(fdatasync, false)
SYNC_FUNCTION(fsync, false)
SYNC_FUNCTION(syncfs, true)

extern "C" int linkat(int fromDirectory, const char* from, int toDirectory, const char* to, int flags) {
  const std::lock_guard guard(hookMutex());
  static const auto realLinkat = next<int (*)(int, const char*, int, const char*, int)>("linkat");
  const std::uint64_t number = beforeLink();
  const int result = realLinkat(fromDirectory, from, toDirectory, to, flags);
  if (result == 0) noteName(to);
  afterLink(number);
  return result;
}

extern "C" int mkdir(const char* path, mode_t mode) {
  const std::lock_guard guard(hookMutex());
  static const auto realMkdir = next<int (*)(const char*, mode_t)>("mkdir");
  const int result = realMkdir(path, mode);
  if (result == 0 && path[0] == '/') noteName(path);
  return result;
}

extern "C" int link(const char* from, const char* to) {
  const std::lock_guard guard(hookMutex());
  static const auto realLink = next<int (*)(const char*, const char*)>("link");
  const std::uint64_t number = beforeLink();
  const int result = realLink(from, to);
  if (result == 0) noteName(to);
  afterLink(number);
  return result;
}

// Opens as the system does, but refuses unnamed files when told to.
#define OPEN_FUNCTION(name)                                                                  \
  extern "C" int name(const char* path, int flags, ...) {                                    \
    static const auto real = next<int (*)(const char*, int, ...)>(#name);                     \
    static const bool noUnnamed = setting("RAZADEDEZUZEV_TEST_NO_UNNAMED_FILES") != 0;       \
    va_list arguments;                                                                       \
    va_start(arguments, flags);                                                              \
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0; \
    va_end(arguments);                                                                       \
    if (noUnnamed && (flags & O_TMPFILE) == O_TMPFILE) {                                     \
      errno = EOPNOTSUPP;                                                                    \
      return -1;                                                                             \
    }                                                                                        \
    return real(path, flags, mode);                                                          \
  }
OPEN_FUNCTION(open)
OPEN_FUNCTION(open64)
