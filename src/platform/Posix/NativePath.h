#pragma once

// Shared by the POSIX implementation files only.

#include <string>
#include <string_view>

#include "platform/Unicode.h"

namespace RazaDedeZuzev::platform::posix {

// The byte path the kernel takes: UTF-8 (raw bytes restored), every `\`
// turned into `/`, so that jobs written with Windows separators work.
inline std::string toNativePath(std::u16string_view path) {
  std::string native;
  appendUtf16AsUtf8(path, native);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

}  // namespace RazaDedeZuzev::platform::posix
