#pragma once

// Shared by the Windows implementation files only: error codes that carry
// the system's own error numbers, and paths in the form the wide calls take.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>
#include <system_error>

#include "platform/File.h"

namespace RazaDedeZuzev::platform::windows {

// "An operation is not supported on a directory.": newer than some SDKs'
// headers.
inline constexpr DWORD kErrorDirectoryNotSupported = 336;

// The system's text for a Windows error number (FormatMessage, English where
// the system has it), with the line break it ends with; empty when there is
// none.
std::string formatSystemMessage(DWORD code);

// The portable meaning of a Windows error number, for the comparisons with
// std::errc that portable code makes; -1 where none fits.
int portableErrorOf(DWORD code);

// Error codes whose value is the Windows error number, so that the system's
// own text can be shown for them.
class Win32ErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "win32"; }

  std::string message(int code) const override {
    std::string text = formatSystemMessage(static_cast<DWORD>(code));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text.empty() ? "Windows error " + std::to_string(code) : text;
  }

  std::error_condition default_error_condition(int code) const noexcept override {
    const int portable = portableErrorOf(static_cast<DWORD>(code));
    if (portable < 0) return {code, *this};
    return {portable, std::generic_category()};
  }
};

inline const std::error_category& win32Category() {
  static const Win32ErrorCategory category;
  return category;
}

inline std::error_code win32Error(DWORD code) { return {static_cast<int>(code), win32Category()}; }

// Taken right after the failing call, before any other system call.
inline std::error_code lastError() { return win32Error(::GetLastError()); }

inline HANDLE toHandle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline FileHandle fromHandle(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

// Paths this long no longer fit the classic limit of 260 characters (248
// for a directory, which must leave room for an 8.3 file name) and need the
// `\\?\` form, which the system passes on without parsing it.
inline constexpr std::size_t kLongPathThreshold = 248;

inline bool hasLongPathPrefix(std::wstring_view path) {
  return path.size() >= 4 && path[0] == L'\\' && path[1] == L'\\' &&
         (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\';
}

// The path with every `/` turned into `\`, so that jobs written with either
// separator work: the `\\?\` form and the shell's calls take `\` only.
inline std::wstring withBackslashes(std::u16string_view path) {
  std::wstring native(path.begin(), path.end());
  for (wchar_t& c : native) {
    if (c == L'/') c = L'\\';
  }
  return native;
}

// The absolute form of a path, as the system resolves it against the current
// directory; the path itself when it cannot be resolved (the call that uses
// it then fails with the reason).
inline std::wstring absolutePath(const std::wstring& path) {
  if (path.empty() || hasLongPathPrefix(path)) return path;
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  return full;
}

// An absolute path in the form the wide calls take: the `\\?\` form when it
// is long. That form resolves neither "." nor ".." nor a relative path, so
// only absolute paths may be given here.
inline std::wstring forSystem(std::wstring absolute) {
  if (absolute.size() < kLongPathThreshold || hasLongPathPrefix(absolute)) return absolute;
  if (absolute.size() >= 2 && absolute[0] == L'\\' && absolute[1] == L'\\') {
    return L"\\\\?\\UNC\\" + absolute.substr(2);  // \\server\share\...
  }
  return L"\\\\?\\" + absolute;
}

// The path that the wide calls take for a path of the program.
inline std::wstring nativePath(std::u16string_view path) {
  std::wstring native = withBackslashes(path);
  if (native.size() < kLongPathThreshold) return native;
  return forSystem(absolutePath(native));
}

}  // namespace RazaDedeZuzev::platform::windows
