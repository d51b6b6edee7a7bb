#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Posix/NativePath.h"

namespace RazaDedeZuzev::platform {
namespace {

std::error_code errnoCode() { return {errno, std::generic_category()}; }

int fd(FileHandle handle) { return static_cast<int>(handle); }

int openRetryingOnSignal(const char* path, int flags, mode_t mode) {
  int result;
  do {
    result = ::open(path, flags, mode);
  } while (result < 0 && errno == EINTR);
  return result;
}

// Errors with which a kernel or file system tells that it has no unnamed
// temporary files (old kernels take O_TMPFILE for O_DIRECTORY and answer
// EISDIR; some name ENOENT for it).
bool lacksUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOENT;
}

// A name no other process or earlier call picks: process id, a per-process
// counter and the clock. A clash is still possible in principle (a file left
// by an earlier process with the same id); the caller then tries again.
std::u16string makeTemporaryName(unsigned attempt) {
  static unsigned long counter = 0;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  char name[96];
  std::snprintf(name, sizeof name, ".razadedezuzev-%ld-%lu-%lx-%u.tmp", static_cast<long>(::getpid()),
                ++counter, static_cast<unsigned long>(now.tv_nsec) ^ static_cast<unsigned long>(now.tv_sec),
                attempt);
  return std::u16string(name, name + std::char_traits<char>::length(name));
}

std::u16string inDirectory(std::u16string_view directory, std::u16string_view name) {
  std::u16string path(directory);
  if (!path.empty() && path.back() != u'/' && path.back() != u'\\') path.push_back(kNativeSeparator);
  path.append(name);
  return path;
}

// Links an unnamed file to `path`. Linking a descriptor directly needs a
// privilege that ordinary users lack; the /proc link to it does not.
int linkUnnamedFile(int descriptor, const char* path) {
  if (::linkat(descriptor, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM) return -1;
  char procPath[64];
  std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", descriptor);
  return ::linkat(AT_FDCWD, procPath, AT_FDCWD, path, AT_SYMLINK_FOLLOW);
}

}  // namespace

std::error_code openFileForRead(std::u16string_view path, FileHandle& handle) {
  const std::string native = posix::toNativePath(path);
  // Without O_NONBLOCK, opening a pipe waits for a writer, possibly for
  // ever; on a regular file the flag changes nothing.
  const int result = openRetryingOnSignal(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
  if (result < 0) {
    handle = kInvalidFileHandle;
    return errnoCode();
  }
  // Directories, pipes and devices open for reading on POSIX, but none is a
  // file with a size to copy.
  struct stat info {};
  if (::fstat(result, &info) == 0 && !S_ISREG(info.st_mode)) {
    ::close(result);
    handle = kInvalidFileHandle;
    return std::make_error_code(S_ISDIR(info.st_mode) ? std::errc::is_a_directory
                                                      : std::errc::operation_not_supported);
  }
  handle = result;
  return {};
}

std::error_code createNewFile(std::u16string_view path, FileHandle& handle) {
  const std::string native = posix::toNativePath(path);
  int result;
  do {
    result = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    handle = kInvalidFileHandle;
    return errnoCode();
  }
  handle = result;
  return {};
}

std::error_code getFileSize(FileHandle handle, std::uint64_t& size) {
  struct stat info {};
  if (::fstat(fd(handle), &info) != 0) return errnoCode();
  size = static_cast<std::uint64_t>(info.st_size);
  return {};
}

std::error_code readFile(FileHandle handle, void* buffer, std::size_t capacity,
                         std::size_t& bytesRead) {
  bytesRead = 0;
  for (;;) {
    const ssize_t n = ::read(fd(handle), buffer, capacity);
    if (n >= 0) {
      bytesRead = static_cast<std::size_t>(n);
      return {};
    }
    if (errno != EINTR) return errnoCode();
  }
}

std::error_code writeFile(FileHandle handle, const void* data, std::size_t size,
                          std::size_t& bytesWritten) {
  bytesWritten = 0;
  const auto* bytes = static_cast<const char*>(data);
  while (bytesWritten < size) {
    const ssize_t n = ::write(fd(handle), bytes + bytesWritten, size - bytesWritten);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errnoCode();
    }
    if (n == 0) break;  // nothing more fits: reported as a short write
    bytesWritten += static_cast<std::size_t>(n);
  }
  return {};
}

std::error_code seekFile(FileHandle handle, std::int64_t offset, SeekOrigin origin,
                         std::uint64_t& newPosition) {
  const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                     : origin == SeekOrigin::Current ? SEEK_CUR
                                                     : SEEK_END;
  const off_t result = ::lseek(fd(handle), static_cast<off_t>(offset), whence);
  if (result < 0) return errnoCode();
  newPosition = static_cast<std::uint64_t>(result);
  return {};
}

void closeFile(FileHandle& handle) {
  if (handle == kInvalidFileHandle) return;
  ::close(fd(handle));  // the descriptor is gone whatever close reports
  handle = kInvalidFileHandle;
}

std::error_code createTemporaryFile(std::u16string_view directory, TemporaryFile& file) {
  file = {};
  const std::string native = posix::toNativePath(directory.empty() ? u"." : directory);
  const int result = openRetryingOnSignal(native.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (result >= 0) {
    file.handle = result;
    return {};
  }
  if (!lacksUnnamedFiles(errno)) return errnoCode();
  return createNamedTemporaryFile(directory, file);
}

std::error_code createNamedTemporaryFile(std::u16string_view directory, TemporaryFile& file) {
  file = {};
  constexpr unsigned kAttempts = 100;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    std::u16string path = inDirectory(directory, makeTemporaryName(attempt));
    const std::string native = posix::toNativePath(path);
    const int result =
        openRetryingOnSignal(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (result >= 0) {
      file.handle = result;
      file.temporaryPath = std::move(path);
      return {};
    }
    if (errno != EEXIST) return errnoCode();
  }
  return std::make_error_code(std::errc::file_exists);
}

std::error_code publishTemporaryFile(TemporaryFile& file, std::u16string_view path) {
  const std::string native = posix::toNativePath(path);
  std::error_code error;
  if (file.temporaryPath.empty()) {
    if (linkUnnamedFile(fd(file.handle), native.c_str()) != 0) error = errnoCode();
  } else {
    // link, unlike rename, never replaces an existing name.
    const std::string temporary = posix::toNativePath(file.temporaryPath);
    if (::link(temporary.c_str(), native.c_str()) != 0) error = errnoCode();
  }
  discardTemporaryFile(file);
  return error;
}

void discardTemporaryFile(TemporaryFile& file) {
  closeFile(file.handle);
  if (!file.temporaryPath.empty()) {
    ::unlink(posix::toNativePath(file.temporaryPath).c_str());
    file.temporaryPath.clear();
  }
}

void* allocatePageAligned(std::size_t size) {
  const long page = ::sysconf(_SC_PAGESIZE);
  void* memory = nullptr;
  if (::posix_memalign(&memory, page > 0 ? static_cast<std::size_t>(page) : 4096, size) != 0) {
    return nullptr;
  }
  return memory;
}

void freePageAligned(void* memory, std::size_t /*size*/) { std::free(memory); }

}  // namespace RazaDedeZuzev::platform
