#pragma once

// Result lines and records as the fuzz targets take them apart.

#include <string>
#include <vector>

namespace fuzzing {

// The pieces of `text` between separators; one piece for a text without one.
inline std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

}  // namespace fuzzing
