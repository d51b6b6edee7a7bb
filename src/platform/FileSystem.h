#pragma once

// Questions about paths and directory trees: what a path names, creating a
// directory with its parents, and reading the entries of one directory.

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace RazaDedeZuzev::platform {

enum class FileType { Missing, RegularFile, Directory, Other };

// What a path names, following symbolic links. `size` is set for regular
// files only. A path that cannot be examined reports an error code.
struct FileStatus {
  FileType type = FileType::Missing;
  std::uint64_t size = 0;
};
std::error_code getFileStatus(std::u16string_view path, FileStatus& status);

// Creates the directory and every missing parent. A directory that exists
// already is success; a path that exists as anything else fails with
// std::errc::file_exists.
std::error_code createDirectories(std::u16string_view path);

// Identity of a directory, to recognise it when a link leads back to it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// One entry of a directory, in the form a listing needs. Links are followed:
// a link to a directory is a Directory, a link to a regular file is a
// RegularFile with the target's size; a broken link is Other.
struct DirectoryEntry {
  std::u16string name;  // never "." or ".."
  FileType type = FileType::Other;
  bool hidden = false;      // the system's hidden mark; POSIX files carry none
  std::uint64_t size = 0;   // for regular files
};

// An open directory search. Opaque; released with closeDirectorySearch.
struct DirectorySearchState;
using DirectorySearchHandle = DirectorySearchState*;
inline constexpr DirectorySearchHandle kInvalidSearchHandle = nullptr;

// Opens `directory` for reading and tells which directory it is.
std::error_code openDirectorySearch(std::u16string_view directory, DirectorySearchHandle& handle,
                                    FileIdentity& identity);

// Fetches the next entry. At the end sets `atEnd` and returns no error.
std::error_code readDirectoryEntry(DirectorySearchHandle handle, DirectoryEntry& entry,
                                   bool& atEnd);

// Closes the search if open and sets it to kInvalidSearchHandle.
void closeDirectorySearch(DirectorySearchHandle& handle);

}  // namespace RazaDedeZuzev::platform
