#include "platform/File.h"

#include <algorithm>
#include <string>

#include "platform/TemporaryName.h"
#include "platform/windows/Win32.h"

namespace RazaDedeZuzev::platform {
namespace {

using windows::fromHandle;
using windows::lastError;
using windows::nativePath;
using windows::toHandle;
using windows::win32Error;

// ReadFile and WriteFile take 32-bit counts.
constexpr std::size_t kLargestTransfer = 1u << 30;

HANDLE createFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                  DWORD attributes) {
  return ::CreateFileW(path.c_str(), access, share, nullptr, disposition, attributes, nullptr);
}

std::error_code adopt(HANDLE handle, UniqueFile& file) {
  if (handle == INVALID_HANDLE_VALUE) {
    const std::error_code error = lastError();
    file.reset();
    return error;
  }
  file.reset(fromHandle(handle));
  return {};
}

DWORD attributesOf(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

bool nameExists(const std::wstring& path) { return attributesOf(path) != INVALID_FILE_ATTRIBUTES; }

bool isDirectory(const std::wstring& path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// An exclusive create or a rename that meets an existing directory, or a
// name it may not look at, is refused as "access denied"; for the caller
// the point is that the name is taken.
DWORD refusalOfExistingName(DWORD error, const std::wstring& path) {
  return error == ERROR_ACCESS_DENIED && nameExists(path) ? ERROR_FILE_EXISTS : error;
}

// The published file is an ordinary one: the hidden mark only keeps a
// listing from showing the file while it is being written. A new file's
// archive mark stays, so that backups take it.
std::error_code unhide(HANDLE handle) {
  FILE_BASIC_INFO info{};  // times of zero are left as they are
  info.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  if (!::SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info)) return lastError();
  return {};
}

// Renames within one directory, never replacing: an existing name fails
// (ERROR_ALREADY_EXISTS). Written through, so that the new name is on the
// disk when the call returns.
std::error_code renameWithoutReplacing(const std::wstring& from, const std::wstring& to) {
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return {};
  return win32Error(refusalOfExistingName(::GetLastError(), to));
}

// This host as temporary names tell it: the computer's name. Processes of
// another session of the same name are asked after as if they were ours.
const std::string& ownHost() {
  static const std::string host = [] {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &length)) length = 0;
    std::string bytes;
    for (DWORD i = 0; i < length; ++i) bytes.append({static_cast<char>(name[i] & 0xff), static_cast<char>(name[i] >> 8)});
    return hostDigits(bytes);
  }();
  return host;
}

// Only a process id that no process holds proves the writer gone.
bool processRunning(std::uint64_t processId) {
  const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId));
  if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

std::uint64_t secondsSince(const FILETIME& time) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
  return ticks(now) > ticks(time) ? (ticks(now) - ticks(time)) / 10'000'000 : 0;
}

bool abandonedEntry(const WIN32_FIND_DATAW& found, std::string_view prefix) {
  std::string name;
  for (const wchar_t* c = found.cFileName; *c != 0; ++c) {
    if (*c > 0x7f) return false;  // no name of ours
    name.push_back(static_cast<char>(*c));
  }
  TemporaryWriter writer;
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !readTemporaryWriter(name, prefix, writer)) {
    return false;
  }
  const bool sameHost = writer.host == ownHost();
  return isAbandoned(writer, ownHost(), sameHost && processRunning(writer.processId),
                     secondsSince(found.ftLastWriteTime));
}

}  // namespace

void FileHandleTraits::close(Handle handle) { ::CloseHandle(toHandle(handle)); }

namespace {

std::error_code getFileSize(FileHandle handle, std::uint64_t& size) {
  LARGE_INTEGER value{};
  if (!::GetFileSizeEx(toHandle(handle), &value)) return lastError();
  size = static_cast<std::uint64_t>(value.QuadPart);
  return {};
}

}  // namespace

std::error_code openFileForRead(std::u16string_view path, UniqueFile& file, std::uint64_t* size) {
  // Shared with readers only: a process that writes the file keeps it from
  // being opened, and no writer can open it while it is read.
  const std::wstring native = nativePath(path);
  const HANDLE handle =
      createFile(native, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    file.reset();
    // A directory cannot be opened as a file: the system only says "access
    // denied", which would hide what the path names.
    if (error == ERROR_ACCESS_DENIED && isDirectory(native)) {
      return win32Error(windows::kErrorDirectoryNotSupported);
    }
    return win32Error(error);
  }
  file.reset(fromHandle(handle));
  // Pipes and devices open as files too, but have no size to copy.
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    file.reset();
    return win32Error(ERROR_NOT_SUPPORTED);
  }
  if (size != nullptr) {
    if (const std::error_code error = getFileSize(file.get(), *size)) {
      file.reset();
      return error;
    }
  }
  return {};
}

std::error_code openFileForAppend(std::u16string_view path, UniqueFile& file) {
  return adopt(createFile(nativePath(path), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL),
               file);
}

std::error_code createOrTruncateFile(std::u16string_view path, UniqueFile& file) {
  // Shared as a C runtime stream opened with "w" shares it: the caller may
  // read the file while it is being written.
  return adopt(createFile(nativePath(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL),
               file);
}

std::error_code readFile(FileHandle handle, void* buffer, std::size_t capacity,
                         std::size_t& bytesRead) {
  bytesRead = 0;
  DWORD got = 0;
  const auto wanted = static_cast<DWORD>(std::min(capacity, kLargestTransfer));
  if (!::ReadFile(toHandle(handle), buffer, wanted, &got, nullptr)) {
    const DWORD error = ::GetLastError();
    // The writer of a pipe has closed its end: that is the pipe's end.
    if (error == ERROR_BROKEN_PIPE) return {};
    return win32Error(error);
  }
  bytesRead = got;
  return {};
}

std::error_code writeFile(FileHandle handle, const void* data, std::size_t size,
                          std::size_t& bytesWritten) {
  bytesWritten = 0;
  const auto* bytes = static_cast<const char*>(data);
  while (bytesWritten < size) {
    const auto wanted = static_cast<DWORD>(std::min(size - bytesWritten, kLargestTransfer));
    DWORD written = 0;
    if (!::WriteFile(toHandle(handle), bytes + bytesWritten, wanted, &written, nullptr)) {
      return lastError();
    }
    if (written == 0) break;  // nothing more fits: reported as a short write
    bytesWritten += written;
  }
  return {};
}

std::error_code seekFile(FileHandle handle, std::int64_t offset, SeekOrigin origin,
                         std::uint64_t& newPosition) {
  const DWORD method = origin == SeekOrigin::Begin     ? FILE_BEGIN
                       : origin == SeekOrigin::Current ? FILE_CURRENT
                                                       : FILE_END;
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(toHandle(handle), distance, &position, method)) return lastError();
  newPosition = static_cast<std::uint64_t>(position.QuadPart);
  return {};
}

std::error_code copyFileRange(FileHandle, FileHandle, std::uint64_t, std::uint64_t& copied) {
  // Windows copies inside the system only whole files by name (CopyFileEx),
  // never between two files that are open already: the caller moves the bytes.
  copied = 0;
  return std::make_error_code(std::errc::function_not_supported);
}

std::error_code syncFileData(FileHandle handle) {
  if (!::FlushFileBuffers(toHandle(handle))) return lastError();
  return {};
}

void startWriteback(FileHandle, std::uint64_t, std::uint64_t) {}  // Windows has no such hint

std::uint64_t openFileLimit() {
  // Windows sets a process no limit of its own on open files; the kernel
  // stops handing out handles at 2^24.
  return std::uint64_t{1} << 24;
}

std::error_code closeFile(UniqueFile& file) {
  if (!file) return {};
  if (!::CloseHandle(toHandle(file.release()))) return lastError();
  return {};
}

FileHandle standardOutput() { return fromHandle(::GetStdHandle(STD_OUTPUT_HANDLE)); }

std::error_code createTemporaryFile(std::u16string_view directory, std::u16string_view namePrefix,
                                    TemporaryFile& file) {
  // Windows has no files without a name.
  return createNamedTemporaryFile(directory, namePrefix, file);
}

std::error_code createNamedTemporaryFile(std::u16string_view directory,
                                         std::u16string_view namePrefix, TemporaryFile& file) {
  file = {};
  constexpr unsigned kAttempts = 100;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    std::u16string path = temporaryFilePath(directory, namePrefix, ownHost(), ::GetCurrentProcessId(),
                                            static_cast<std::uint64_t>(now.QuadPart), attempt);
    const HANDLE handle =
        createFile(nativePath(path), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
    if (handle != INVALID_HANDLE_VALUE) {
      file.file.reset(fromHandle(handle));
      file.temporaryPath = std::move(path);
      return {};
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return win32Error(error);
  }
  return win32Error(ERROR_FILE_EXISTS);
}

std::error_code publishTemporaryFile(TemporaryFile& file, std::u16string_view path) {
  std::error_code error;
  if (file.temporaryPath.empty() || !file.file) {
    error = win32Error(ERROR_INVALID_HANDLE);  // every temporary file here has a name
  } else {
    error = unhide(toHandle(file.file.get()));
    // A late write error shows at close: the bytes must be whole before
    // they get the final name.
    if (!error) error = closeFile(file.file);
    if (!error) error = renameWithoutReplacing(nativePath(file.temporaryPath), nativePath(path));
    if (!error) file.temporaryPath.clear();  // the temporary name is the final one now
  }
  file.file.reset();
  return error;
}

void discardTemporaryFile(TemporaryFile& file) {
  file.file.reset();
  if (!file.temporaryPath.empty()) {
    ::DeleteFileW(nativePath(file.temporaryPath).c_str());
    file.temporaryPath.clear();
  }
}

std::size_t removeAbandonedTemporaryFiles(std::u16string_view directory, std::u16string_view namePrefix) {
  std::u16string folder(directory.empty() ? u"." : directory);
  if (folder.back() != u'/' && folder.back() != u'\\') folder.push_back(kNativeSeparator);
  const std::string prefix(namePrefix.begin(), namePrefix.end());  // ASCII
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(nativePath(folder + u"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  std::size_t removed = 0;
  do {
    if (!abandonedEntry(found, prefix)) continue;
    const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    if (::DeleteFileW(nativePath(folder + name).c_str())) ++removed;
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return removed;
}

void* allocatePageAligned(std::size_t size) {
  // Whole pages, committed at once, page aligned by their nature.
  return ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

}  // namespace RazaDedeZuzev::platform
