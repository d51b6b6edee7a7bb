#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/posix/Kernel.h"
#include "platform/posix/NativePath.h"

namespace RazaDedeZuzev::platform {

struct DirectoryState {
  DIR* stream = nullptr;
};

namespace {

using posix::errnoCode;
using posix::retryOnSignal;

FileType typeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileType::RegularFile;
  if (S_ISDIR(mode)) return FileType::Directory;
  return FileType::Other;
}

void fill(const struct stat& info, FileStatus& status) {
  status.type = typeOf(info.st_mode);
  if (status.type == FileType::RegularFile) status.size = static_cast<std::uint64_t>(info.st_size);
}

// The errors with which the kernel says that a path names nothing.
bool namesNothing(int error) { return error == ENOENT || error == ENOTDIR; }

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
  return errnoCode(error);
}

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

// Takes over a descriptor opened on a directory.
std::error_code adoptDirectory(int descriptor, UniqueDirectory& directory, FileIdentity& identity) {
  if (descriptor < 0) return errnoCode();
  struct stat info {};
  if (::fstat(descriptor, &info) != 0) {
    const std::error_code error = errnoCode();
    ::close(descriptor);
    return error;
  }
  DIR* stream = ::fdopendir(descriptor);
  if (stream == nullptr) {
    const std::error_code error = errnoCode();
    ::close(descriptor);
    return error;
  }
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.inode = static_cast<std::uint64_t>(info.st_ino);
  directory.reset(new DirectoryState{stream});
  return {};
}

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

}  // namespace

std::error_code getFileStatus(std::u16string_view path, FileStatus& status) {
  status = {};
  thread_local std::string native;
  struct stat info {};
  if (::stat(posix::toNativePath(path, native), &info) != 0) {
    return namesNothing(errno) ? std::error_code{} : errnoCode();
  }
  fill(info, status);
  return {};
}

// Directories opened for lookups (descriptors that search, read nothing),
// and for each directory of the job the deepest of its ancestors (or
// itself) that exists, with the rest of its path below that one.
struct StatusLookup::State {
  struct Entry {
    std::u16string given;
    std::string native;  // without a final '/'
    bool started = false;
    int descriptor = -1;
    std::string rest;  // the missing part of the directory, with '/' at its end
  };
  std::vector<Entry> entries;
  std::unordered_map<std::string, int> opened;
  std::string name, relative;  // reused for every lookup

  ~State() { forget(); }
  // Closes every descriptor; entries find their start again when used.
  void forget() {
    for (const auto& [path, descriptor] : opened) ::close(descriptor);
    opened.clear();
    for (Entry& entry : entries) entry.started = false;
  }
  // False where the directories cannot be searched from a start (the whole
  // path is then looked up, and its error reported).
  bool start(Entry& entry);
};

bool StatusLookup::State::start(Entry& entry) {
  constexpr std::size_t kMostOpen = 256;  // descriptors held at once
  if (entry.native.empty() || entry.native.front() != '/') return false;  // relative: whole, every time
  if (opened.size() >= kMostOpen) forget();
  std::string ancestor = entry.native;
  for (;;) {
    auto found = opened.find(ancestor);
    if (found == opened.end()) {
      const int descriptor = posix::kernel::openDirectoryForLookups(ancestor.c_str());
      if (descriptor < 0 && !namesNothing(errno)) return false;
      if (descriptor >= 0) found = opened.emplace(ancestor, descriptor).first;
    }
    if (found != opened.end()) {
      entry.descriptor = found->second;
      entry.rest = entry.native.substr(ancestor.size());
      if (!entry.rest.empty()) entry.rest.erase(0, 1).push_back('/');
      entry.started = true;
      return true;
    }
    const std::size_t slash = ancestor.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return false;
    ancestor.resize(slash);
  }
}

StatusLookup::StatusLookup() : state(std::make_unique<State>()) {}
StatusLookup::~StatusLookup() = default;

StatusLookup::Directory StatusLookup::AddDirectory(std::u16string_view directory) {
  State::Entry entry;
  entry.given = directory;
  posix::toNativePath(directory, entry.native);
  while (entry.native.size() > 1 && entry.native.back() == '/') entry.native.pop_back();
  state->entries.push_back(std::move(entry));
  return state->entries.size() - 1;
}

std::u16string_view StatusLookup::DirectoryPath(Directory directory) const {
  return state->entries[directory].given;
}

std::error_code StatusLookup::getFileStatus(Directory directory, std::u16string_view name, FileStatus& status) {
  State& lookup = *state;
  State::Entry& entry = lookup.entries[directory];
  if (name.empty() || (!entry.started && !lookup.start(entry))) {
    std::u16string whole = entry.given;
    if (!whole.empty() && whole.back() != u'/' && whole.back() != u'\\') whole.push_back(u'/');
    return platform::getFileStatus(whole.append(name), status);
  }
  status = {};
  posix::toNativePath(name, lookup.name);
  std::size_t leading = 0;
  while (leading < lookup.name.size() && lookup.name[leading] == '/') ++leading;  // "a//b" is "a/b"
  lookup.relative.assign(entry.rest).append(lookup.name, leading);
  if (lookup.relative.empty()) lookup.relative = ".";
  struct stat info {};
  if (::fstatat(entry.descriptor, lookup.relative.c_str(), &info, 0) != 0) {
    return namesNothing(errno) ? std::error_code{} : errnoCode();
  }
  fill(info, status);
  return {};
}

std::error_code getNameStatus(std::u16string_view path, FileStatus& status) {
  status = {};
  const std::string native = posix::toNativePath(path);
  struct stat info {};
  if (::stat(native.c_str(), &info) == 0) {
    fill(info, status);
    return {};
  }
  if (!namesNothing(errno)) return errnoCode();
  // A link that leads nowhere still holds the name.
  if (::lstat(native.c_str(), &info) == 0) status.type = FileType::Other;
  return {};
}

std::error_code createDirectories(std::u16string_view path) {
  std::string native = posix::toNativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
  // Most directories of a store exist already: one look usually does it.
  struct stat info {};
  if (::stat(native.c_str(), &info) == 0) {
    return S_ISDIR(info.st_mode) ? std::error_code{} : std::make_error_code(std::errc::file_exists);
  }
  return createDirectoryAndParents(native);
}

std::error_code syncDirectory(std::u16string_view path, bool wholeFileSystem) {
  const std::string native = posix::toNativePath(path.empty() ? u"." : path);
  const int descriptor = retryOnSignal([&] { return ::open(native.c_str(), kDirectoryFlags); });
  if (descriptor < 0) return errnoCode();
  std::error_code error;
  if (wholeFileSystem && posix::kernel::syncFileSystem(descriptor) == 0) {
    // everything of that file system is durable, the names too
  } else if (wholeFileSystem && errno != ENOSYS) {
    error = errnoCode();
  } else if (::fsync(descriptor) != 0 && errno != EINVAL && errno != EROFS) {
    // Some file systems cannot sync a directory and say so; their entries
    // are as durable as they can be.
    error = errnoCode();
  }
  ::close(descriptor);
  return error;
}

void DirectoryHandleTraits::close(Handle handle) {
  ::closedir(handle->stream);
  delete handle;
}

std::error_code openDirectory(std::u16string_view path, UniqueDirectory& directory,
                              FileIdentity& identity) {
  directory.reset();
  const std::string native = posix::toNativePath(path);
  if (native.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
  return adoptDirectory(retryOnSignal([&] { return ::open(native.c_str(), kDirectoryFlags); }),
                        directory, identity);
}

std::error_code openSubdirectory(DirectoryHandle parent, std::u16string_view name,
                                 UniqueDirectory& directory, FileIdentity& identity) {
  directory.reset();
  std::string native;
  appendUtf16AsUtf8(name, native);
  const int parentDescriptor = ::dirfd(parent->stream);
  return adoptDirectory(
      retryOnSignal([&] { return ::openat(parentDescriptor, native.c_str(), kDirectoryFlags); }),
      directory, identity);
}

std::error_code readDirectoryEntry(DirectoryHandle directory, DirectoryEntry& entry, bool& atEnd) {
  atEnd = false;
  for (;;) {
    errno = 0;
    const dirent* found = ::readdir(directory->stream);
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
    entry.statusError.clear();

    // The kernel's type saves a status query for directories and other
    // kinds; a regular file needs one for its size, and links and unknown
    // types are followed.
    if (found->d_type == DT_DIR) {
      entry.type = FileType::Directory;
      return {};
    }
    if (found->d_type != DT_REG && found->d_type != DT_LNK && found->d_type != DT_UNKNOWN) {
      entry.type = FileType::Other;
      return {};
    }
    struct stat info {};
    const int flags = found->d_type == DT_REG ? AT_SYMLINK_NOFOLLOW : 0;
    if (::fstatat(::dirfd(directory->stream), found->d_name, &info, flags) != 0) {
      // Gone since it was read, or a link to nothing: not a file to list.
      entry.type = FileType::Other;
      if (!namesNothing(errno)) entry.statusError = errnoCode();
      return {};
    }
    FileStatus status;
    fill(info, status);
    entry.type = status.type;
    entry.size = status.size;
    return {};
  }
}

}  // namespace RazaDedeZuzev::platform
