#pragma once

// Questions about paths and directory trees: what a path names, creating a
// directory with its parents, making a directory's entries durable, and
// reading directories one entry at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/UniqueHandle.h"

namespace RazaDedeZuzev::platform {

enum class FileType { Missing, RegularFile, Directory, Other };

// What a path names, following symbolic links. `size` is set for regular
// files only.
struct FileStatus {
  FileType type = FileType::Missing;
  std::uint64_t size = 0;
  // How many names the file has; 1 where the system does not tell.
  std::uint64_t links = 1;
};

// A path that does not exist (also when one of its directories does not)
// is Missing, without an error. Any other failure to examine it (no right to
// search a directory, a name too long, an I/O error) is an error: it says
// nothing about whether the file is there.
std::error_code getFileStatus(std::u16string_view path, FileStatus& status);

// getFileStatus for many paths of the form `directory` + separator + `name`
// (no separator added when `directory` ends with one): each directory is
// looked up once, and every name from there, so that a job of a million
// names in a few directories does not walk the same directories a million
// times. Answers exactly what getFileStatus answers for the whole path;
// nothing is remembered of what a lookup found.
class StatusLookup {
 public:
  using Directory = std::size_t;

  StatusLookup();
  StatusLookup(const StatusLookup&) = delete;
  StatusLookup& operator=(const StatusLookup&) = delete;
  ~StatusLookup();

  // A directory to look names up in, for the lookup's life.
  Directory AddDirectory(std::u16string_view directory);
  std::u16string_view DirectoryPath(Directory directory) const;
  std::error_code getFileStatus(Directory directory, std::u16string_view name, FileStatus& status);

 private:
  struct State;
  std::unique_ptr<State> state;
};

// Like getFileStatus, for a name that is about to be created: a symbolic
// link whose target is missing is a name that exists, and counts as Other.
std::error_code getNameStatus(std::u16string_view path, FileStatus& status);

// Creates the directory and every missing parent. A directory that exists
// already is success; a path that exists as anything else fails with
// std::errc::file_exists. `parentsWithNewNames`, when given, receives how
// many directories above `path` got a new entry from this call (0 when it
// made none; 2 when it made `path` and its parent): a sync of each makes
// the new directories durable.
std::error_code createDirectories(std::u16string_view path, unsigned* parentsWithNewNames = nullptr);

// Makes the directory's entries (names created in it) durable. Does nothing
// where the system keeps names durable by itself.
std::error_code syncDirectory(std::u16string_view path);

// Identity of a directory, to recognise it when a link leads back to it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// An open directory, read one entry at a time. Opaque; the owner releases it.
struct DirectoryState;
using DirectoryHandle = DirectoryState*;
struct DirectoryHandleTraits {
  using Handle = DirectoryHandle;
  static constexpr Handle invalid() { return nullptr; }
  static void close(Handle handle);
};
using UniqueDirectory = UniqueHandle<DirectoryHandleTraits>;

// Opens the directory at `path` and tells which directory it is.
std::error_code openDirectory(std::u16string_view path, UniqueDirectory& directory,
                              FileIdentity& identity);

// Opens the subdirectory `name` of an open directory, following a link,
// however deep the tree and however long the whole path: names are resolved
// from the parent, never from the root.
std::error_code openSubdirectory(DirectoryHandle parent, std::u16string_view name,
                                 UniqueDirectory& directory, FileIdentity& identity);

// One entry of a directory, in the form a listing needs. Links are followed:
// a link to a directory is a Directory, a link to a regular file is a
// RegularFile with the target's size; a link to nothing is Other.
struct DirectoryEntry {
  std::u16string name;  // never "." or ".."
  FileType type = FileType::Other;
  bool hidden = false;     // the system's hidden mark; POSIX files carry none
  std::uint64_t size = 0;  // for regular files
  // Set when the entry was read but what it is could not be learnt (an I/O
  // error, no right to look): the entry is then neither listed nor skipped
  // silently.
  std::error_code statusError;
};

// Fetches the next entry into `entry` (whose storage is reused). At the end
// sets `atEnd` and returns no error. An error means the directory could not
// be read on.
std::error_code readDirectoryEntry(DirectoryHandle directory, DirectoryEntry& entry, bool& atEnd);

}  // namespace RazaDedeZuzev::platform
