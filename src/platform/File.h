#pragma once

// Open files by handle, in the manner of the operating system's own file API:
// every call reports failure as a std::error_code, and the error that a caller
// must tell apart (the file exists already) compares equal to
// std::errc::file_exists on every system.
//
// Paths are UTF-16 and may use `\` or `/` as separators; the implementation
// turns them into what the system expects.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace RazaDedeZuzev::platform {

#ifdef _WIN32
inline constexpr char16_t kNativeSeparator = u'\\';
#else
inline constexpr char16_t kNativeSeparator = u'/';
#endif

// A file descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFileHandle = -1;

// Opens an existing file for reading; other readers are not excluded.
std::error_code openFileForRead(std::u16string_view path, FileHandle& handle);

// Creates a file that must not exist yet, for writing. Never truncates or
// replaces anything: an existing name fails with std::errc::file_exists.
std::error_code createNewFile(std::u16string_view path, FileHandle& handle);

std::error_code getFileSize(FileHandle handle, std::uint64_t& size);

// Reads at most `capacity` bytes; `bytesRead` is 0 only at the end of the file.
std::error_code readFile(FileHandle handle, void* buffer, std::size_t capacity,
                         std::size_t& bytesRead);

// Writes all `size` bytes unless the system refuses; `bytesWritten` tells how
// many reached the file when it did (a full disk may stop it short).
std::error_code writeFile(FileHandle handle, const void* data, std::size_t size,
                          std::size_t& bytesWritten);

enum class SeekOrigin { Begin, Current, End };
std::error_code seekFile(FileHandle handle, std::int64_t offset, SeekOrigin origin,
                         std::uint64_t& newPosition);

// Closes the handle if it is open and sets it to kInvalidFileHandle.
void closeFile(FileHandle& handle);

// A file that is written completely before it gets its final name, so that
// no reader, and no process killed halfway, ever leaves a partial file under
// that name. One owner holds it from creation until it is published or
// discarded; both release it.
struct TemporaryFile {
  FileHandle handle = kInvalidFileHandle;
  // Empty while the file has no name at all; otherwise its temporary name.
  std::u16string temporaryPath;
};

// Creates a temporary file for writing in `directory` (so on the file system
// of its final name). Where the system can, the file has no name at all and
// vanishes with the process unless it is published; elsewhere it falls back
// to createNamedTemporaryFile.
std::error_code createTemporaryFile(std::u16string_view directory, TemporaryFile& file);

// Creates a temporary file under a new, unique hidden name in `directory`.
// A process killed before publishing leaves that name behind (never the
// final one).
std::error_code createNamedTemporaryFile(std::u16string_view directory, TemporaryFile& file);

// Gives the finished file its final name, then closes it and removes any
// temporary name, whatever the outcome. A name that exists already is never
// replaced: that fails with std::errc::file_exists and the file is dropped.
std::error_code publishTemporaryFile(TemporaryFile& file, std::u16string_view path);

// Closes and removes a temporary file that is not to be published.
void discardTemporaryFile(TemporaryFile& file);

// Memory for I/O buffers, aligned to the system page; null on failure.
void* allocatePageAligned(std::size_t size);
void freePageAligned(void* memory, std::size_t size);

}  // namespace RazaDedeZuzev::platform
