#include "platform/System.h"

#include <bit>
#include <cerrno>
#include <cwchar>
#include <thread>

#include "platform/UniqueHandle.h"
#include "platform/Utf.h"
#include "platform/windows/Win32.h"

// After windows.h, which it needs.
#include <shellapi.h>

namespace RazaDedeZuzev::platform {
namespace windows {

namespace {

constexpr DWORD kMessageFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kEnglishUnitedStates = 0x409;
constexpr DWORD kDefaultLanguage = 0;

// Memory that FormatMessage and CommandLineToArgvW allocate for the caller.
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static constexpr Handle invalid() { return nullptr; }
  static void close(Handle memory) { ::LocalFree(memory); }
};
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

bool formatMessageIn(DWORD code, DWORD language, std::string& text) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(kMessageFlags, nullptr, code, language,
                                        reinterpret_cast<char*>(&buffer), 0, nullptr);
  const UniqueLocalMemory owner(buffer);
  if (length == 0 || buffer == nullptr) return false;
  text.assign(buffer, length);
  return true;
}

}  // namespace

std::string formatSystemMessage(DWORD code) {
  std::string text;
  if (formatMessageIn(code, kEnglishUnitedStates, text)) return text;
  // A system without the English texts installed still has its own.
  if (formatMessageIn(code, kDefaultLanguage, text)) return text;
  return {};
}

int portableErrorOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
      return ENOSYS;  // std::errc::function_not_supported
    case ERROR_NOT_SUPPORTED:
      return EOPNOTSUPP;  // std::errc::operation_not_supported
    case windows::kErrorDirectoryNotSupported:
      return EISDIR;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return EPIPE;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_IO_DEVICE:
      return EIO;
    default:
      return -1;
  }
}

}  // namespace windows

namespace {

// The Windows error whose text says what a portable error says, for the
// errors that portable code makes itself (a short write is a full disk).
DWORD windowsErrorFor(const std::error_condition& condition) {
  static constexpr struct {
    std::errc portable;
    DWORD windows;
  } kEquivalents[] = {
      {std::errc::no_space_on_device, ERROR_DISK_FULL},
      {std::errc::file_exists, ERROR_FILE_EXISTS},
      {std::errc::no_such_file_or_directory, ERROR_FILE_NOT_FOUND},
      {std::errc::permission_denied, ERROR_ACCESS_DENIED},
      {std::errc::function_not_supported, ERROR_CALL_NOT_IMPLEMENTED},
      {std::errc::operation_not_supported, ERROR_NOT_SUPPORTED},
      {std::errc::not_enough_memory, ERROR_NOT_ENOUGH_MEMORY},
      {std::errc::invalid_argument, ERROR_INVALID_PARAMETER},
      {std::errc::filename_too_long, ERROR_FILENAME_EXCED_RANGE},
      {std::errc::is_a_directory, windows::kErrorDirectoryNotSupported},
      {std::errc::io_error, ERROR_IO_DEVICE},
  };
  for (const auto& equivalent : kEquivalents) {
    if (condition == equivalent.portable) return equivalent.windows;
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::string systemErrorText(const std::error_code& error) {
  // The system category of this platform holds Windows error numbers too.
  if (error.category() == windows::win32Category() || error.category() == std::system_category()) {
    std::string text = windows::formatSystemMessage(static_cast<DWORD>(error.value()));
    if (!text.empty()) return text;
  }
  // An error that portable code made, or a Windows error that this system
  // has no text for: the text of what it means.
  const std::error_condition meaning = error.default_error_condition();
  if (meaning.category() != std::generic_category()) return {};
  const DWORD equivalent = windowsErrorFor(meaning);
  if (equivalent != ERROR_SUCCESS) {
    std::string text = windows::formatSystemMessage(equivalent);
    if (!text.empty()) return text;
  }
  // The C runtime's English text, ended the way the system's texts end.
  std::string text = meaning.message();
  return text.empty() ? text : text + "\r\n";
}

void prepareProcess() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

// The Windows heap returns large blocks to the system by itself.
void keepHeapCompactForCopyingThreads() {}

std::vector<std::u16string> commandLineArguments(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  // The wide command line carries every character; the narrow argv only
  // those of the ANSI code page.
  int count = 0;
  windows::UniqueLocalMemory owner;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  owner.reset(reinterpret_cast<HLOCAL>(wide));
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) {
      const std::wstring_view argument(wide[i]);
      arguments.emplace_back(argument.begin(), argument.end());
    }
    return arguments;
  }
  for (int i = 0; i < argc; ++i) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, argv[i], -1, nullptr, 0);
    std::wstring argument(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length > 0) ::MultiByteToWideChar(CP_ACP, 0, argv[i], -1, argument.data(), length);
    argument.resize(std::wcslen(argument.c_str()));
    arguments.emplace_back(argument.begin(), argument.end());
  }
  return arguments;
}

void sleepMilliseconds(std::uint64_t milliseconds) {
  // Sleep takes 32 bits, and its largest value means for ever.
  constexpr std::uint64_t kLongestSleep = INFINITE - 1;
  while (milliseconds > 0) {
    const std::uint64_t step = milliseconds < kLongestSleep ? milliseconds : kLongestSleep;
    ::Sleep(static_cast<DWORD>(step));
    milliseconds -= step;
  }
}

std::optional<std::string> getEnvironmentVariable(const char* name) {
  const std::u16string wideName = utf8ToUtf16(name);
  const std::wstring nativeName(wideName.begin(), wideName.end());
  std::wstring value(256, L'\0');
  for (;;) {
    // An empty value also gives 0, but leaves the error untouched.
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(nativeName.c_str(), value.data(),
                                                   static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < value.size()) {
      value.resize(length);
      break;
    }
    value.resize(length);  // the size needed, with the terminator
  }
  return utf16ToUtf8(std::u16string(value.begin(), value.end()));
}

std::u16string executableDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // cut short: try a larger buffer
  }
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return {};
  return std::u16string(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(separator) + 1);
}

unsigned processorCount() {
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask) &&
      processMask != 0) {
    return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(processMask)));
  }
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

}  // namespace RazaDedeZuzev::platform
