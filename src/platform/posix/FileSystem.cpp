#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/File.h"
#include "platform/Supervisor.h"
#include "platform/WorkerPool.h"
#include "platform/posix/Kernel.h"
#include "platform/posix/NativePath.h"

namespace RazaDedeZuzev::platform {

// A directory being read. Entries are read in batches, and the statuses
// that a batch needs (the size of each regular file, what each link and
// entry of unknown type is) are asked for together: they are most of the
// cost of listing a tree, and a second lane takes half of a large batch.
struct DirectoryState {
  struct Read {
    std::string name;
    unsigned char kind;  // the kernel's d_type
    struct stat info;
    int statusError;     // of fstatat, 0 when it worked or was not needed
  };
  DIR* stream = nullptr;
  std::vector<Read> batch;
  std::size_t next = 0;
  int readError = 0;  // how the stream failed after the batch, 0 at its end
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
  status.links = static_cast<std::uint64_t>(info.st_nlink);
  if (status.type == FileType::RegularFile) status.size = static_cast<std::uint64_t>(info.st_size);
}

// The errors with which the kernel says that a path names nothing.
bool namesNothing(int error) { return error == ENOENT || error == ENOTDIR; }

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// What a name that mkdir found at `path` (failing with `mkdirError`) means
// for a directory wanted there.
std::error_code existingDirectory(const std::string& path, int mkdirError) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    return S_ISDIR(info.st_mode) ? std::error_code{} : std::make_error_code(std::errc::file_exists);
  }
  return errnoCode(mkdirError);
}

// mkdir that treats an existing directory as success. `newNames`, the
// number of directories from `path` upwards that get a new entry, becomes
// at least depth + 1 when this one (`depth` levels above the directory
// asked for) is made.
std::error_code makeOneDirectory(const std::string& path, unsigned depth, unsigned& newNames) {
  if (::mkdir(path.c_str(), 0777) == 0) {
    newNames = std::max(newNames, depth + 1);
    return {};
  }
  return existingDirectory(path, errno);
}

// Tries the directory itself first: in a store most parents exist already,
// so one mkdir usually does it. Only a missing parent costs a walk upwards.
std::error_code createDirectoryAndParents(const std::string& path, unsigned depth, unsigned& newNames) {
  const std::error_code missingParent = makeOneDirectory(path, depth, newNames);
  if (missingParent != std::errc::no_such_file_or_directory) {
    return missingParent;  // made, there already, or a failure a parent cannot mend
  }
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return missingParent;
  std::size_t parentEnd = slash;
  while (parentEnd > 1 && path[parentEnd - 1] == '/') --parentEnd;  // doubled separators
  if (const std::error_code error = createDirectoryAndParents(path.substr(0, parentEnd), depth + 1, newNames)) {
    return error;
  }
  return makeOneDirectory(path, depth, newNames);
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
  directory.reset(new DirectoryState{stream, {}, 0, 0});
  return {};
}

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

constexpr std::size_t kBatchSize = 1024;
// Below this many status queries a batch is not worth sharing; a thread
// takes this many at a time.
constexpr std::size_t kSharedStatuses = 48;
constexpr std::size_t kQueriesTaken = 4;

void queryStatus(int directory, DirectoryState::Read& read) {
  // Regular files are not links: their own status. Links and unknown
  // types are followed.
  const int flags = read.kind == DT_REG ? AT_SYMLINK_NOFOLLOW : 0;
  read.statusError = ::fstatat(directory, read.name.c_str(), &read.info, flags) == 0 ? 0 : errno;
}

bool needsStatus(unsigned char kind) { return kind == DT_REG || kind == DT_LNK || kind == DT_UNKNOWN; }

// Reads the next batch of entries and their statuses.
void readBatch(DirectoryState& directory) {
  directory.batch.clear();
  directory.next = 0;
  std::vector<std::size_t> queries;
  while (directory.batch.size() < kBatchSize) {
    errno = 0;
    const dirent* found = ::readdir(directory.stream);
    if (found == nullptr) {
      directory.readError = errno;
      break;
    }
    if (isDotOrDotDot(found->d_name)) continue;
    if (needsStatus(found->d_type)) queries.push_back(directory.batch.size());
    directory.batch.push_back({found->d_name, found->d_type, {}, 0});
  }
  const int descriptor = ::dirfd(directory.stream);
  if (queries.size() < kSharedStatuses) {
    for (const std::size_t query : queries) queryStatus(descriptor, directory.batch[query]);
    return;
  }
  // Two lanes take a few queries at a time until none are left, so that
  // neither waits long for the other. The second has a descriptor of its
  // own: two threads that share one keep taking the same reference count
  // away from each other.
  const std::size_t runs = (queries.size() + kQueriesTaken - 1) / kQueriesTaken;
  const std::thread::id caller = std::this_thread::get_id();
  int own = -1;
  forEachInParallel(runs, 2, [&](std::size_t run) {
    int from = descriptor;
    if (std::this_thread::get_id() != caller) {
      if (own < 0) own = ::openat(descriptor, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (own >= 0) from = own;
    }
    const std::size_t end = std::min((run + 1) * kQueriesTaken, queries.size());
    for (std::size_t i = run * kQueriesTaken; i < end; ++i) queryStatus(from, directory.batch[queries[i]]);
  });
  if (own >= 0) ::close(own);
}

}  // namespace

std::error_code getFileStatus(std::u16string_view path, FileStatus& status) {
  noteProgress();
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
  // Descriptors held at once: an eighth of the limit leaves room for a
  // second lookup on another thread and for everything else.
  static const std::size_t mostOpen =
      static_cast<std::size_t>(std::clamp<std::uint64_t>(openFileLimit() / 8, 1, 256));
  if (entry.native.empty() || entry.native.front() != '/') return false;  // relative: whole, every time
  if (opened.size() >= mostOpen) forget();
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
      if (!entry.rest.empty() && entry.rest.front() == '/') entry.rest.erase(0, 1);
      if (!entry.rest.empty()) entry.rest.push_back('/');
      entry.started = true;
      return true;
    }
    // The root is where every search ends: a directory missing up to it
    // is searched from there, one query a name, like any other.
    if (ancestor == "/") return false;
    const std::size_t slash = ancestor.find_last_of('/');
    ancestor.resize(slash == 0 ? 1 : slash);
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
  noteProgress();
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
  noteProgress();
  status = {};
  const std::string native = posix::toNativePath(path);
  // The name itself first: a missing name, the common case, costs one query.
  struct stat info {};
  if (::lstat(native.c_str(), &info) != 0) return namesNothing(errno) ? std::error_code{} : errnoCode();
  if (S_ISLNK(info.st_mode) && ::stat(native.c_str(), &info) != 0) {
    if (!namesNothing(errno)) return errnoCode();
    status.type = FileType::Other;  // a link that leads nowhere still holds the name
    return {};
  }
  fill(info, status);
  return {};
}

std::error_code createDirectories(std::u16string_view path, unsigned* parentsWithNewNames) {
  noteProgress();
  unsigned newNames = 0;
  std::string native = posix::toNativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
  // Most directories of a store exist already: one look usually does it.
  struct stat info {};
  std::error_code error;
  if (::stat(native.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode)) error = std::make_error_code(std::errc::file_exists);
  } else {
    error = createDirectoryAndParents(native, 0, newNames);
  }
  if (parentsWithNewNames != nullptr) *parentsWithNewNames = newNames;
  return error;
}

std::error_code syncDirectory(std::u16string_view path) {
  const std::string native = posix::toNativePath(path.empty() ? u"." : path);
  const int descriptor = retryOnSignal([&] { return ::open(native.c_str(), kDirectoryFlags); });
  if (descriptor < 0) return errnoCode();
  std::error_code error;
  if (::fsync(descriptor) != 0 && errno != EINVAL && errno != EROFS) {
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
  noteProgress();
  atEnd = false;
  if (directory->next == directory->batch.size()) {
    // A failure of the stream is told once the entries read before it are.
    if (const int failed = std::exchange(directory->readError, 0)) return errnoCode(failed);
    readBatch(*directory);
    if (directory->batch.empty()) {
      if (const int failed = std::exchange(directory->readError, 0)) return errnoCode(failed);
      atEnd = true;
      return {};
    }
  }
  const DirectoryState::Read& read = directory->batch[directory->next++];
  entry.name.clear();
  appendUtf8AsUtf16(read.name, entry.name);
  entry.hidden = false;
  entry.size = 0;
  entry.statusError.clear();
  // The kernel's type saves a status query for directories and other kinds.
  if (!needsStatus(read.kind)) {
    entry.type = read.kind == DT_DIR ? FileType::Directory : FileType::Other;
    return {};
  }
  if (read.statusError != 0) {
    // Gone since it was read, or a link to nothing: not a file to list.
    entry.type = FileType::Other;
    if (!namesNothing(read.statusError)) entry.statusError = errnoCode(read.statusError);
    return {};
  }
  FileStatus status;
  fill(read.info, status);
  entry.type = status.type;
  entry.size = status.size;
  return {};
}

}  // namespace RazaDedeZuzev::platform
