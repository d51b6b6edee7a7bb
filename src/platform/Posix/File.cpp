#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Posix/NativePath.h"

namespace RazaDedeZuzev::platform {
namespace {

std::error_code errnoCode() { return {errno, std::generic_category()}; }

int fd(FileHandle handle) { return static_cast<int>(handle); }

}  // namespace

std::error_code openFileForRead(std::u16string_view path, FileHandle& handle) {
  const std::string native = posix::toNativePath(path);
  int result;
  do {
    result = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    handle = kInvalidFileHandle;
    return errnoCode();
  }
  // A directory opens for reading on POSIX but is no file to copy.
  struct stat info {};
  if (::fstat(result, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(result);
    handle = kInvalidFileHandle;
    return std::make_error_code(std::errc::is_a_directory);
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
