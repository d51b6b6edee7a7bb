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

// Memory for I/O buffers, aligned to the system page; null on failure.
void* allocatePageAligned(std::size_t size);
void freePageAligned(void* memory, std::size_t size);

}  // namespace RazaDedeZuzev::platform
