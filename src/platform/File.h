#pragma once

// Open files by handle, in the manner of the operating system's own file API.
// Every call reports failure as a std::error_code; the errors that callers
// must tell apart compare equal to the portable std::errc values named below
// on every system.
//
// Paths are the program's UTF-16 strings and may use `\` or `/` as
// separators; the implementation turns them into what the system expects.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/UniqueHandle.h"

namespace RazaDedeZuzev::platform {

#ifdef _WIN32
inline constexpr char16_t kNativeSeparator = u'\\';
// Text files (results, diagnostics, standard output) end their lines as the
// system's text-mode streams do.
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr char16_t kNativeSeparator = u'/';
inline constexpr std::string_view kLineEnd = "\n";
#endif

// A file descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFileHandle = -1;

struct FileHandleTraits {
  using Handle = FileHandle;
  static constexpr Handle invalid() { return kInvalidFileHandle; }
  static void close(Handle handle);
};
using UniqueFile = UniqueHandle<FileHandleTraits>;

// Opens an existing regular file for reading; other readers are not
// excluded, writers are where the system can exclude them. A directory fails
// with std::errc::is_a_directory, any other kind of file (a pipe, a device)
// with std::errc::operation_not_supported, without waiting for a writer.
// `size`, when given, receives the file's size at the moment it was opened.
std::error_code openFileForRead(std::u16string_view path, UniqueFile& file,
                                std::uint64_t* size = nullptr);

// Creates the file or empties an existing one, for writing: the result and
// error files, which each run writes anew.
std::error_code createOrTruncateFile(std::u16string_view path, UniqueFile& file);

// Opens the file for writing at its end, creating it when missing: a
// message added to an error file that another process wrote.
std::error_code openFileForAppend(std::u16string_view path, UniqueFile& file);

// Reads at most `capacity` bytes; `bytesRead` is 0 only at the end of the file.
std::error_code readFile(FileHandle handle, void* buffer, std::size_t capacity,
                         std::size_t& bytesRead);

// Writes all `size` bytes unless the system refuses; `bytesWritten` tells how
// many reached the file when it stopped short (a full disk).
std::error_code writeFile(FileHandle handle, const void* data, std::size_t size,
                          std::size_t& bytesWritten);

enum class SeekOrigin { Begin, Current, End };
std::error_code seekFile(FileHandle handle, std::int64_t offset, SeekOrigin origin,
                         std::uint64_t& newPosition);

// Moves up to `count` bytes from the current position of `from` to that of
// `to` inside the kernel, without passing them through the program. Fails
// with std::errc::function_not_supported where the system or the file
// systems offer no such copy: the caller then moves the bytes itself.
// `copied` is 0 only when `from` has ended; a call moves at most 64 MiB.
std::error_code copyFileRange(FileHandle from, FileHandle to, std::uint64_t count,
                              std::uint64_t& copied);

// Makes the file's data, and what is needed to read it back, durable.
std::error_code syncFileData(FileHandle handle);

// Starts writing `length` bytes of the file's data from `offset` to the
// disk without waiting for them, so that a later sync finds little left to
// do and the copy of a large file overlaps with the disk's work. A hint:
// does nothing where the system has no such call.
void startWriteback(FileHandle handle, std::uint64_t offset, std::uint64_t length);

// How many files the process may have open at once.
std::uint64_t openFileLimit();

// Closes the file and reports what the system reports: some file systems
// tell of a failed write only now.
std::error_code closeFile(UniqueFile& file);

// The process's standard output; not owned.
FileHandle standardOutput();

// A file that is written completely, and made durable, before it gets its
// final name, so that no reader, no killed process and no crash ever leaves
// a partial file under that name.
// The owner discards the file (closes it and removes its temporary name)
// unless it has been published.
struct TemporaryFile {
  UniqueFile file;
  // Empty while the file has no name at all; otherwise its temporary name,
  // hidden, in the same directory as the final name.
  std::u16string temporaryPath;

  TemporaryFile() = default;
  TemporaryFile(TemporaryFile&& other) noexcept
      : file(std::move(other.file)), temporaryPath(std::exchange(other.temporaryPath, {})) {}
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;
  ~TemporaryFile();
};

// Creates a temporary file for writing in `directory` (so on the file system
// of its final name). Where the system can, the file has no name at all and
// vanishes with the process unless it is published; elsewhere it falls back
// to createNamedTemporaryFile.
std::error_code createTemporaryFile(std::u16string_view directory, std::u16string_view namePrefix,
                                    TemporaryFile& file);

// Creates a temporary file under a new, unique, hidden name in `directory`:
// `namePrefix` (which starts with a dot), then its writer (this host and
// process) and what makes it unique. A process killed before publishing
// leaves that name behind (never the final one), which a later run removes
// (removeAbandonedTemporaryFiles).
std::error_code createNamedTemporaryFile(std::u16string_view directory,
                                         std::u16string_view namePrefix, TemporaryFile& file);

// Gives the written file its final name and closes it, checking the close.
// A temporary name stays until discardTemporaryFile, which the caller calls
// whatever the outcome (so that removals may run side by side). A name that exists
// already is never replaced: that fails with std::errc::file_exists and the
// file is dropped. Where the file system can neither link nor rename without
// replacing, the final name is created exclusively and the bytes are copied
// into it: the name then exists before its bytes are complete.
std::error_code publishTemporaryFile(TemporaryFile& file, std::u16string_view path);

// Closes and removes a temporary file that is not to be published.
void discardTemporaryFile(TemporaryFile& file);

// Removes from `directory` the temporary files that createNamedTemporaryFile
// made with `namePrefix` and whose writers are gone: a process of this host
// (this kernel's run and namespace of process ids) that is no longer
// running, or any file untouched for a day (TemporaryName.h). A file that
// a live process may still write stays. Returns how many were removed;
// what cannot be read or removed stays, without a message: it is never
// taken for a stored file.
std::size_t removeAbandonedTemporaryFiles(std::u16string_view directory, std::u16string_view namePrefix);

inline TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    discardTemporaryFile(*this);
    file = std::move(other.file);
    temporaryPath = std::exchange(other.temporaryPath, {});
  }
  return *this;
}
inline TemporaryFile::~TemporaryFile() { discardTemporaryFile(*this); }

// Memory for I/O buffers, aligned to the system page; null on failure. Its
// one user keeps it for the life of the process, so there is no release.
void* allocatePageAligned(std::size_t size);

}  // namespace RazaDedeZuzev::platform
