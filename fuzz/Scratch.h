#pragma once

// Scratch places of the fuzz targets: below $TMPDIR (a memory file system
// spares the disk the campaign's millions of small files), else /tmp.

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzzing {

// Scratch places are removed when the target exits normally (its run count
// reached, a merge done); a crash leaves them beside its report.
inline std::vector<std::string>& scratchPlaces() {
  static std::vector<std::string> places;
  return places;
}

inline void removeScratchPlaces() {
  std::error_code ignored;
  for (const std::string& place : scratchPlaces()) std::filesystem::remove_all(place, ignored);
}

inline std::string removedAtExit(std::string place) {
  // The list exists before the handler is registered, so it outlives it.
  if (scratchPlaces().empty()) std::atexit(removeScratchPlaces);
  scratchPlaces().push_back(place);
  return place;
}

inline std::string scratchPattern(const char* name) {
  const char* base = std::getenv("TMPDIR");
  return std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/razadedezuzev-fuzz-" + name + "-XXXXXX";
}

// A new directory; aborts when none can be made.
inline std::string makeScratchDirectory(const char* name) {
  std::string pattern = scratchPattern(name);
  if (::mkdtemp(pattern.data()) == nullptr) abort();
  return removedAtExit(pattern);
}

// A new, empty file; aborts when none can be made.
inline std::string makeScratchFile(const char* name) {
  std::string pattern = scratchPattern(name);
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) abort();
  ::close(fd);
  return removedAtExit(pattern);
}

}  // namespace fuzzing
