#pragma once

// Scratch places of the fuzz targets: below $TMPDIR (a memory file system
// spares the disk the campaign's millions of small files), else /tmp.

#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace fuzzing {

inline std::string scratchPattern(const char* name) {
  const char* base = std::getenv("TMPDIR");
  return std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/razadedezuzev-fuzz-" + name + "-XXXXXX";
}

// A new directory; aborts when none can be made.
inline std::string makeScratchDirectory(const char* name) {
  std::string pattern = scratchPattern(name);
  if (::mkdtemp(pattern.data()) == nullptr) abort();
  return pattern;
}

// A new, empty file; aborts when none can be made.
inline std::string makeScratchFile(const char* name) {
  std::string pattern = scratchPattern(name);
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) abort();
  ::close(fd);
  return pattern;
}

}  // namespace fuzzing
