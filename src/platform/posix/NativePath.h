#pragma once

// Shared by the POSIX implementation files only.

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/Supervisor.h"
#include "platform/Utf.h"

namespace RazaDedeZuzev::platform::posix {

// The byte path the kernel takes, written into `native` (whose storage is
// reused): UTF-8 with raw bytes restored, every `\` turned into `/`, so that
// jobs written with Windows separators work.
inline const char* toNativePath(std::u16string_view path, std::string& native) {
  native.clear();
  appendUtf16AsUtf8(path, native);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native.c_str();
}

inline std::string toNativePath(std::u16string_view path) {
  std::string native;
  toNativePath(path, native);
  return native;
}

inline std::error_code errnoCode() { return {errno, std::generic_category()}; }
inline std::error_code errnoCode(int error) { return {error, std::generic_category()}; }

// Runs a system call again while a signal interrupts it; a call that
// returned is progress for the watching process (Supervisor.h).
template <typename Call>
auto retryOnSignal(Call call) {
  for (;;) {
    const auto result = call();
    if (!(result < 0 && errno == EINTR)) {
      noteProgress();
      return result;
    }
  }
}

}  // namespace RazaDedeZuzev::platform::posix
