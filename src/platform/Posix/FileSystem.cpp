#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Posix/NativePath.h"

namespace RazaDedeZuzev::platform {

struct DirectorySearchState {
  DIR* stream = nullptr;
};

namespace {

std::error_code errnoCode() { return {errno, std::generic_category()}; }

FileType typeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileType::RegularFile;
  if (S_ISDIR(mode)) return FileType::Directory;
  return FileType::Other;
}

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// mkdir that treats an existing directory as success.
std::error_code makeOneDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  const int error = errno;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    return S_ISDIR(info.st_mode) ? std::error_code{} : std::make_error_code(std::errc::file_exists);
  }
  return {error, std::generic_category()};
}

}  // namespace

std::error_code getFileStatus(std::u16string_view path, FileStatus& status) {
  status = {};
  const std::string native = posix::toNativePath(path);
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {};  // simply not there
    return errnoCode();
  }
  status.type = typeOf(info.st_mode);
  if (status.type == FileType::RegularFile) status.size = static_cast<std::uint64_t>(info.st_size);
  return {};
}

namespace {

// Tries the directory itself first: in a store most parents exist already,
// so one mkdir usually does it. Only a missing parent costs a walk upwards.
std::error_code createDirectoryAndParents(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  if (errno == EEXIST) return makeOneDirectory(path);  // tells a directory from a file
  if (errno != ENOENT) return errnoCode();
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return errnoCode();
  std::size_t parentEnd = slash;
  while (parentEnd > 1 && path[parentEnd - 1] == '/') --parentEnd;  // doubled separators
  if (const std::error_code error = createDirectoryAndParents(path.substr(0, parentEnd))) {
    return error;
  }
  return makeOneDirectory(path);
}

}  // namespace

std::error_code createDirectories(std::u16string_view path) {
  std::string native = posix::toNativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
  return createDirectoryAndParents(native);
}

std::error_code openDirectorySearch(std::u16string_view directory, DirectorySearchHandle& handle,
                                    FileIdentity& identity) {
  handle = kInvalidSearchHandle;
  const std::string native = posix::toNativePath(directory);
  if (native.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
  const int fd = ::open(native.c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errnoCode();
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const std::error_code error = errnoCode();
    ::close(fd);
    return error;
  }
  DIR* stream = ::fdopendir(fd);
  if (stream == nullptr) {
    const std::error_code error = errnoCode();
    ::close(fd);
    return error;
  }
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.inode = static_cast<std::uint64_t>(info.st_ino);
  handle = new DirectorySearchState{stream};
  return {};
}

std::error_code readDirectoryEntry(DirectorySearchHandle handle, DirectoryEntry& entry,
                                   bool& atEnd) {
  atEnd = false;
  for (;;) {
    errno = 0;
    const dirent* found = ::readdir(handle->stream);
    if (found == nullptr) {
      if (errno != 0) return errnoCode();
      atEnd = true;
      return {};
    }
    if (isDotOrDotDot(found->d_name)) continue;

    entry.name.clear();
    appendUtf8AsUtf16(found->d_name, entry.name);
    entry.hidden = false;
    entry.size = 0;

    // The kernel's type saves a stat for directories; a regular file needs
    // one for its size, and links and unknown types are followed.
    const int dirFd = ::dirfd(handle->stream);
    const bool follow = found->d_type != DT_REG && found->d_type != DT_DIR;
    if (found->d_type == DT_DIR) {
      entry.type = FileType::Directory;
      return {};
    }
    if (found->d_type != DT_REG && found->d_type != DT_LNK && found->d_type != DT_UNKNOWN) {
      entry.type = FileType::Other;
      return {};
    }
    struct stat info {};
    if (::fstatat(dirFd, found->d_name, &info, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
      // Gone since readdir, or a broken link: neither is a file to list.
      entry.type = FileType::Other;
      return {};
    }
    entry.type = typeOf(info.st_mode);
    if (entry.type == FileType::RegularFile) entry.size = static_cast<std::uint64_t>(info.st_size);
    return {};
  }
}

void closeDirectorySearch(DirectorySearchHandle& handle) {
  if (handle == kInvalidSearchHandle) return;
  ::closedir(handle->stream);
  delete handle;
  handle = kInvalidSearchHandle;
}

}  // namespace RazaDedeZuzev::platform
