#include "platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/Supervisor.h"
#include "platform/TemporaryName.h"
#include "platform/posix/Kernel.h"
#include "platform/posix/NativePath.h"

namespace RazaDedeZuzev::platform {
namespace {

using posix::errnoCode;
using posix::retryOnSignal;

int fd(FileHandle handle) { return static_cast<int>(handle); }

int openFile(const char* path, int flags, mode_t mode = 0) {
  return retryOnSignal([&] { return ::open(path, flags | O_CLOEXEC, mode); });
}

std::error_code adopt(int result, UniqueFile& file) {
  if (result < 0) {
    file.reset();
    return errnoCode();
  }
  file.reset(result);
  return {};
}

// Errors with which a kernel or file system tells that it has no unnamed
// files (old kernels take O_TMPFILE for O_DIRECTORY and answer EISDIR).
bool lacksUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

// Errors with which a file system tells that it has no hard links (vfat
// answers EPERM), or no rename that keeps an existing name (EINVAL).
bool lacksLinks(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}
bool lacksExclusiveRename(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Removes a name of ours. Where the server has not yet heard of the file's
// close (FUSE passes a close on without waiting for it, and an SMB server
// will not delete a file that is open), the removal fails with EBUSY for a
// moment: it is tried again, for at most about a second.
void removeName(const char* path) {
  for (int attempt = 0; ::unlink(path) != 0 && errno == EBUSY && attempt < 100; ++attempt) {
    const timespec pause{0, 10'000'000};
    ::nanosleep(&pause, nullptr);
  }
}

// A reading of the clock that differs from call to call.
std::uint64_t clockReading() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

// This host as temporary names tell it (see Kernel.h's hostIdentity);
// where the kernel cannot say, the host's name, and processes in other
// namespaces of the same name are then taken for this host's.
const std::string& ownHost() {
  static const std::string host = [] {
    std::string identity;
    if (posix::kernel::hostIdentity(identity) != 0) {
      char name[256] = {};
      ::gethostname(name, sizeof name - 1);
      identity = name;
    }
    return hostDigits(identity);
  }();
  return host;
}

// A process that exists, also one of another user (EPERM), may be the
// writer; only ESRCH says that none has the id, or the kernel that no
// thread of it is left (a zombie nobody collected writes nothing).
bool processRunning(std::uint64_t processId) {
  const auto id = static_cast<pid_t>(processId);
  if (id <= 0 || static_cast<std::uint64_t>(id) != processId) return true;  // not ours to judge
  if (const int alive = posix::kernel::processAlive(id); alive >= 0) return alive == 1;
  return ::kill(id, 0) == 0 || errno != ESRCH;
}

// Whether the entry `name` of the open directory is a temporary file that no
// live process may still write.
bool abandonedEntry(int directory, const char* name, std::string_view prefix) {
  TemporaryWriter writer;
  if (!readTemporaryWriter(name, prefix, writer)) return false;
  struct stat info {};
  if (::fstatat(directory, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) return false;
  // The last write: a writer at work moves it on with every chunk.
  const std::int64_t touched = info.st_mtime;
  const std::int64_t now = ::time(nullptr);
  const std::uint64_t idle = now > touched ? static_cast<std::uint64_t>(now - touched) : 0;
  const bool sameHost = writer.host == ownHost();
  return isAbandoned(writer, ownHost(), sameHost && processRunning(writer.processId), idle);
}

// Copies the whole of `from` (from its start) into `to`, then makes it
// durable: publication on a file system that can neither link nor rename
// without replacing.
std::error_code copyWholeFile(int from, int to) {
  char buffer[1 << 16];
  for (off_t offset = 0;;) {
    const ssize_t got = retryOnSignal([&] { return ::pread(from, buffer, sizeof buffer, offset); });
    if (got < 0) return errnoCode();
    if (got == 0) break;
    offset += got;
    std::size_t written = 0;
    if (const std::error_code error =
            writeFile(to, buffer, static_cast<std::size_t>(got), written)) {
      return error;
    }
    if (written != static_cast<std::size_t>(got)) return std::make_error_code(std::errc::no_space_on_device);
  }
  return syncFileData(to);
}

std::error_code publishByCopy(int from, const char* path) {
  UniqueFile target;
  if (const std::error_code error =
          adopt(openFile(path, O_WRONLY | O_CREAT | O_EXCL, 0666), target)) {
    return error;
  }
  std::error_code error = copyWholeFile(from, fd(target.get()));
  const std::error_code closed = closeFile(target);
  if (!error) error = closed;
  if (error) removeName(path);  // a name of ours that never got its bytes
  return error;
}

std::error_code publishUnnamed(TemporaryFile& file, const char* path) {
  if (posix::kernel::linkUnnamedFile(fd(file.file.get()), path) != 0) {
    const int error = errno;
    if (!lacksLinks(error)) return errnoCode(error);
    return publishByCopy(fd(file.file.get()), path);
  }
  if (const std::error_code error = closeFile(file.file)) {
    removeName(path);  // the name was ours a moment ago; its bytes are in doubt
    return error;
  }
  return {};
}

std::error_code publishNamed(TemporaryFile& file, const char* temporary, const char* path) {
  if (::link(temporary, path) == 0) return {};
  int error = errno;
  if (!lacksLinks(error)) return errnoCode(error);
  if (posix::kernel::renameWithoutReplacing(temporary, path) == 0) {
    file.temporaryPath.clear();  // the temporary name is the final one now
    return {};
  }
  error = errno;
  if (!lacksExclusiveRename(error)) return errnoCode(error);
  UniqueFile source;
  if (const std::error_code opened = adopt(openFile(temporary, O_RDONLY), source)) return opened;
  return publishByCopy(fd(source.get()), path);
}

}  // namespace

void FileHandleTraits::close(Handle handle) { ::close(fd(handle)); }

std::error_code openFileForRead(std::u16string_view path, UniqueFile& file, std::uint64_t* size) {
  thread_local std::string native;
  // Without O_NONBLOCK, opening a pipe waits for a writer, possibly for
  // ever; on a regular file the flag changes nothing.
  if (const std::error_code error =
          adopt(openFile(posix::toNativePath(path, native), O_RDONLY | O_NONBLOCK), file)) {
    return error;
  }
  // Directories, pipes and devices open for reading on POSIX, but none is a
  // file with a size to copy.
  struct stat info {};
  if (::fstat(fd(file.get()), &info) != 0) {
    const std::error_code error = errnoCode();
    file.reset();
    return error;
  }
  if (!S_ISREG(info.st_mode)) {
    file.reset();
    return std::make_error_code(S_ISDIR(info.st_mode) ? std::errc::is_a_directory
                                                      : std::errc::operation_not_supported);
  }
  if (size != nullptr) *size = static_cast<std::uint64_t>(info.st_size);
  return {};
}

std::error_code createOrTruncateFile(std::u16string_view path, UniqueFile& file) {
  const std::string native = posix::toNativePath(path);
  return adopt(openFile(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), file);
}

std::error_code openFileForAppend(std::u16string_view path, UniqueFile& file) {
  const std::string native = posix::toNativePath(path);
  return adopt(openFile(native.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666), file);
}

std::error_code readFile(FileHandle handle, void* buffer, std::size_t capacity,
                         std::size_t& bytesRead) {
  bytesRead = 0;
  const ssize_t n = retryOnSignal([&] { return ::read(fd(handle), buffer, capacity); });
  if (n < 0) return errnoCode();
  bytesRead = static_cast<std::size_t>(n);
  return {};
}

std::error_code writeFile(FileHandle handle, const void* data, std::size_t size,
                          std::size_t& bytesWritten) {
  bytesWritten = 0;
  const auto* bytes = static_cast<const char*>(data);
  while (bytesWritten < size) {
    const ssize_t n = retryOnSignal(
        [&] { return ::write(fd(handle), bytes + bytesWritten, size - bytesWritten); });
    if (n < 0) return errnoCode();
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

std::error_code copyFileRange(FileHandle from, FileHandle to, std::uint64_t count,
                              std::uint64_t& copied) {
  copied = 0;
  // A call that copies gigabytes (a server-side copy over NFS) could outlast
  // the watcher's stall time without being stuck: each call moves a bounded
  // piece, and every piece that returns counts as progress.
  constexpr std::uint64_t kLargestPiece = std::uint64_t{64} << 20;
  const ssize_t n = posix::kernel::copyRange(fd(from), fd(to), static_cast<std::size_t>(std::min(count, kLargestPiece)));
  if (n >= 0) {
    copied = static_cast<std::uint64_t>(n);
    return {};
  }
  // Kernels and file systems without the call, or that refuse this pair.
  if (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP) {
    return std::make_error_code(std::errc::function_not_supported);
  }
  return errnoCode();
}

std::error_code syncFileData(FileHandle handle) {
  if (retryOnSignal([&] { return ::fdatasync(fd(handle)); }) != 0) return errnoCode();
  return {};
}

void startWriteback(FileHandle handle, std::uint64_t offset, std::uint64_t length) {
  posix::kernel::startWriteback(fd(handle), static_cast<off_t>(offset), static_cast<off_t>(length));
}

std::uint64_t openFileLimit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1 << 20;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

std::error_code closeFile(UniqueFile& file) {
  if (!file) return {};
  // The descriptor is gone whatever close reports, also after EINTR.
  return ::close(fd(file.release())) == 0 || errno == EINTR ? std::error_code{} : errnoCode();
}

FileHandle standardOutput() { return STDOUT_FILENO; }

std::error_code createTemporaryFile(std::u16string_view directory, std::u16string_view namePrefix,
                                    TemporaryFile& file) {
  discardTemporaryFile(file);
  const std::string native = posix::toNativePath(directory.empty() ? u"." : directory);
  const int result = posix::kernel::openUnnamedFile(native.c_str());
  if (result >= 0) {
    file.file.reset(result);
    return {};
  }
  if (!lacksUnnamedFiles(errno)) return errnoCode();
  return createNamedTemporaryFile(directory, namePrefix, file);
}

std::error_code createNamedTemporaryFile(std::u16string_view directory,
                                         std::u16string_view namePrefix, TemporaryFile& file) {
  discardTemporaryFile(file);
  constexpr unsigned kAttempts = 100;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    std::u16string path =
        temporaryFilePath(directory, namePrefix, ownHost(), static_cast<std::uint64_t>(::getpid()), clockReading(), attempt);
    const std::string native = posix::toNativePath(path);
    const int result = openFile(native.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (result >= 0) {
      file.file.reset(result);
      file.temporaryPath = std::move(path);
      return {};
    }
    if (errno != EEXIST) return errnoCode();
  }
  return std::make_error_code(std::errc::file_exists);
}

std::error_code publishTemporaryFile(TemporaryFile& file, std::u16string_view path) {
  noteProgress();
  const std::string native = posix::toNativePath(path);
  std::error_code error;
  if (file.temporaryPath.empty()) {
    error = publishUnnamed(file, native.c_str());
  } else {
    // A late write error shows at close: the bytes must be whole before
    // they get the final name.
    error = closeFile(file.file);
    if (!error) {
      const std::string temporary = posix::toNativePath(file.temporaryPath);
      error = publishNamed(file, temporary.c_str(), native.c_str());
    }
  }
  file.file.reset();
  return error;
}

void discardTemporaryFile(TemporaryFile& file) {
  file.file.reset();
  if (!file.temporaryPath.empty()) {
    removeName(posix::toNativePath(file.temporaryPath).c_str());
    file.temporaryPath.clear();
  }
}

std::size_t removeAbandonedTemporaryFiles(std::u16string_view directory, std::u16string_view namePrefix) {
  const std::string native = posix::toNativePath(directory.empty() ? u"." : directory);
  const std::string prefix(namePrefix.begin(), namePrefix.end());  // ASCII
  DIR* stream = ::opendir(native.c_str());
  if (stream == nullptr) return 0;
  std::size_t removed = 0;
  while (const dirent* entry = ::readdir(stream)) {
    if (!abandonedEntry(::dirfd(stream), entry->d_name, prefix)) continue;
    if (::unlinkat(::dirfd(stream), entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(stream);
  return removed;
}

void* allocatePageAligned(std::size_t size) {
  const long page = ::sysconf(_SC_PAGESIZE);
  void* memory = nullptr;
  if (::posix_memalign(&memory, page > 0 ? static_cast<std::size_t>(page) : 4096, size) != 0) {
    return nullptr;
  }
  return memory;
}

}  // namespace RazaDedeZuzev::platform
