#include "platform/FileSystem.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/File.h"
#include "platform/windows/Win32.h"

// After windows.h, which it needs.
#include <shlobj.h>

namespace RazaDedeZuzev::platform {

// An open directory search. The path is absolute and ends with `\`, so that
// subdirectories are found from it whatever the current directory becomes.
struct DirectoryState {
  std::wstring path;
  HANDLE search = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW found{};
  bool pending = false;  // `found` holds the first entry, not handed out yet
};

namespace {

using windows::absolutePath;
using windows::forSystem;
using windows::lastError;
using windows::nativePath;
using windows::win32Error;

std::uint64_t combine(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// The errors with which the system says that a path names nothing.
bool namesNothing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_DRIVE || error == ERROR_BAD_NETPATH ||
         error == ERROR_BAD_NET_NAME || error == ERROR_DIRECTORY;
}

bool isDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void fill(DWORD attributes, std::uint64_t size, FileStatus& status) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    status.type = FileType::Directory;
  } else if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    status.type = FileType::Other;
  } else {
    status.type = FileType::RegularFile;
    status.size = size;
  }
}

// Opened for its attributes only, so that no sharing mode of another
// process stands in the way; a directory needs the backup flag to be opened
// at all. Links are followed.
UniqueFile openForAttributes(const std::wstring& native) {
  return UniqueFile(windows::fromHandle(::CreateFileW(
      native.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
}

// What a link leads to. `dangling` is set when it leads nowhere.
std::error_code queryLinkTarget(const std::wstring& native, FileStatus& status, bool& dangling) {
  const UniqueFile target = openForAttributes(native);
  if (!target) {
    const DWORD error = ::GetLastError();
    if (namesNothing(error)) {
      dangling = true;
      return {};
    }
    return win32Error(error);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(windows::toHandle(target.get()), &info)) return lastError();
  fill(info.dwFileAttributes, combine(info.nFileSizeHigh, info.nFileSizeLow), status);
  return {};
}

// What the path names, links followed; Missing when nothing is there.
std::error_code queryStatus(const std::wstring& native, FileStatus& status, bool& dangling) {
  status = {};
  dangling = false;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = ::GetLastError();
    return namesNothing(error) ? std::error_code{} : win32Error(error);
  }
  // The attributes of a link are its own; its target's are read through it.
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return queryLinkTarget(native, status, dangling);
  }
  fill(data.dwFileAttributes, combine(data.nFileSizeHigh, data.nFileSizeLow), status);
  return {};
}

// The part of a `\\?\` path that names the volume, `\\?\X:` or
// `\\?\UNC\server\share`: no directory to create.
std::size_t volumeLength(std::wstring_view path) {
  constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
  if (!path.starts_with(kUncPrefix)) return std::min<std::size_t>(path.size(), 6);
  const std::size_t server = path.find(L'\\', kUncPrefix.size());
  const std::size_t share =
      server == std::wstring_view::npos ? server : path.find(L'\\', server + 1);
  return share == std::wstring_view::npos ? path.size() : share;
}

// CreateDirectoryW on a `\\?\` path, one level at a time from the first
// missing parent: for paths too long for the shell's call.
std::error_code createDirectoryAndParents(const std::wstring& path) {
  if (::CreateDirectoryW(path.c_str(), nullptr)) return {};
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS) {
    return isDirectory(::GetFileAttributesW(path.c_str())) ? std::error_code{}
                                                           : win32Error(ERROR_FILE_EXISTS);
  }
  if (error != ERROR_PATH_NOT_FOUND) return win32Error(error);
  const std::size_t separator = path.find_last_of(L'\\');
  if (separator == std::wstring::npos || separator <= volumeLength(path)) return win32Error(error);
  if (const std::error_code parent = createDirectoryAndParents(path.substr(0, separator))) {
    return parent;
  }
  if (::CreateDirectoryW(path.c_str(), nullptr)) return {};
  return ::GetLastError() == ERROR_ALREADY_EXISTS ? std::error_code{} : lastError();
}

bool isDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Volume serial number and file index: what tells two directories apart,
// also when a junction leads to one of them. Zeros when the system does not
// say.
FileIdentity identityOf(const std::wstring& directory) {
  const UniqueFile handle = openForAttributes(forSystem(directory));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle || !::GetFileInformationByHandle(windows::toHandle(handle.get()), &info)) return {};
  return {info.dwVolumeSerialNumber, combine(info.nFileIndexHigh, info.nFileIndexLow)};
}

// Starts the search of `path` (absolute, ending with `\`); the first entry
// is kept for the first readDirectoryEntry.
std::error_code startSearch(std::wstring path, UniqueDirectory& directory, FileIdentity& identity) {
  auto state = std::make_unique<DirectoryState>();
  state->path = std::move(path);
  state->search = ::FindFirstFileW(forSystem(state->path + L"*").c_str(), &state->found);
  if (state->search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A drive's root directory has no "." and "..": empty, it has no entry
    // at all, and the search says "not found".
    if (error != ERROR_FILE_NOT_FOUND ||
        !isDirectory(::GetFileAttributesW(forSystem(state->path).c_str()))) {
      return win32Error(error);
    }
  } else {
    state->pending = true;
  }
  identity = identityOf(state->path);
  directory.reset(state.release());
  return {};
}

void fillEntry(const DirectoryState& directory, DirectoryEntry& entry) {
  const WIN32_FIND_DATAW& found = directory.found;
  const std::wstring_view name(found.cFileName);
  entry.name.assign(name.begin(), name.end());
  entry.hidden = (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
  entry.size = 0;
  entry.statusError.clear();
  // Directories, junctions and links to directories alike: the search
  // follows them.
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    entry.type = FileType::Directory;
    return;
  }
  // The search tells of a link to a file, not of its target.
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      found.dwReserved0 == IO_REPARSE_TAG_SYMLINK) {
    FileStatus status;
    bool dangling = false;
    entry.statusError =
        queryLinkTarget(forSystem(directory.path + found.cFileName), status, dangling);
    entry.type = dangling || entry.statusError ? FileType::Other : status.type;
    entry.size = status.size;
    return;
  }
  entry.type = FileType::RegularFile;
  entry.size = combine(found.nFileSizeHigh, found.nFileSizeLow);
}

}  // namespace

std::error_code getFileStatus(std::u16string_view path, FileStatus& status) {
  bool dangling = false;
  return queryStatus(nativePath(path), status, dangling);
}

// Windows has no lookups relative to an open directory that would spare the
// walk of the path: each name is looked up whole.
struct StatusLookup::State {
  std::vector<std::u16string> directories;
  std::u16string path;  // reused for every lookup
};

StatusLookup::StatusLookup() : state(std::make_unique<State>()) {}
StatusLookup::~StatusLookup() = default;

StatusLookup::Directory StatusLookup::AddDirectory(std::u16string_view directory) {
  state->directories.emplace_back(directory);
  return state->directories.size() - 1;
}

std::u16string_view StatusLookup::DirectoryPath(Directory directory) const {
  return state->directories[directory];
}

std::error_code StatusLookup::getFileStatus(Directory directory, std::u16string_view name, FileStatus& status) {
  std::u16string& path = state->path;
  path.assign(state->directories[directory]);
  if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path.push_back(u'\\');
  return platform::getFileStatus(path.append(name), status);
}

std::error_code getNameStatus(std::u16string_view path, FileStatus& status) {
  bool dangling = false;
  const std::error_code error = queryStatus(nativePath(path), status, dangling);
  // A link that leads nowhere still holds the name.
  if (!error && dangling) status.type = FileType::Other;
  return error;
}

std::error_code createDirectories(std::u16string_view path, unsigned* parentsWithNewNames) {
  // No directory needs a sync of its own here (see syncDirectory).
  if (parentsWithNewNames != nullptr) *parentsWithNewNames = 0;
  // The shell's call takes `\` only; a trailing one names the same directory.
  std::wstring native = windows::withBackslashes(path);
  while (native.size() > 1 && native.back() == L'\\' && native[native.size() - 2] != L':') {
    native.pop_back();
  }
  if (native.empty()) return win32Error(ERROR_PATH_NOT_FOUND);
  // The shell's call stops at the classic path limit.
  if (native.size() >= windows::kLongPathThreshold) {
    return createDirectoryAndParents(forSystem(absolutePath(native)));
  }
  const int result = ::SHCreateDirectoryExW(nullptr, native.c_str(), nullptr);
  switch (result) {
    case ERROR_SUCCESS:
      return {};
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      // Said of an existing directory, and of a file that holds the name.
      return isDirectory(::GetFileAttributesW(native.c_str())) ? std::error_code{}
                                                               : win32Error(ERROR_FILE_EXISTS);
    default:
      return win32Error(static_cast<DWORD>(result));
  }
}

std::error_code syncDirectory(std::u16string_view) {
  // Nothing to do: a name is created or changed in the file system's own
  // journal, and the one rename that must be durable at once is made with
  // MOVEFILE_WRITE_THROUGH. Windows has no call that flushes a directory's
  // entries on their own.
  return {};
}

void DirectoryHandleTraits::close(Handle handle) {
  if (handle->search != INVALID_HANDLE_VALUE) ::FindClose(handle->search);
  delete handle;
}

std::error_code openDirectory(std::u16string_view path, UniqueDirectory& directory,
                              FileIdentity& identity) {
  directory.reset();
  if (path.empty()) return win32Error(ERROR_PATH_NOT_FOUND);
  std::wstring absolute = absolutePath(windows::withBackslashes(path));
  if (absolute.back() != L'\\') absolute.push_back(L'\\');
  return startSearch(std::move(absolute), directory, identity);
}

std::error_code openSubdirectory(DirectoryHandle parent, std::u16string_view name,
                                 UniqueDirectory& directory, FileIdentity& identity) {
  directory.reset();
  std::wstring path = parent->path;
  path.append(name.begin(), name.end());
  path.push_back(L'\\');
  return startSearch(std::move(path), directory, identity);
}

std::error_code readDirectoryEntry(DirectoryHandle directory, DirectoryEntry& entry, bool& atEnd) {
  atEnd = false;
  for (;;) {
    if (directory->pending) {
      directory->pending = false;
    } else if (directory->search == INVALID_HANDLE_VALUE ||
               !::FindNextFileW(directory->search, &directory->found)) {
      const DWORD error =
          directory->search == INVALID_HANDLE_VALUE ? ERROR_NO_MORE_FILES : ::GetLastError();
      if (error != ERROR_NO_MORE_FILES) return win32Error(error);
      atEnd = true;
      return {};
    }
    if (isDotOrDotDot(directory->found.cFileName)) continue;
    fillEntry(*directory, entry);
    return {};
  }
}

}  // namespace RazaDedeZuzev::platform
