#include "platform/TemporaryName.h"

#include <atomic>

#include "platform/File.h"

namespace RazaDedeZuzev::platform {

std::u16string temporaryFilePath(std::u16string_view directory, std::u16string_view prefix,
                                 std::uint64_t processId, std::uint64_t clock, unsigned attempt) {
  static std::atomic<std::uint64_t> counter{0};
  std::u16string path(directory.empty() ? u"." : directory);
  if (path.back() != u'/' && path.back() != u'\\') path.push_back(kNativeSeparator);
  path.append(prefix);
  const std::string unique = std::to_string(processId) + "-" + std::to_string(++counter) + "-" +
                             std::to_string(clock) + "-" + std::to_string(attempt) + ".tmp";
  path.append(unique.begin(), unique.end());
  return path;
}

}  // namespace RazaDedeZuzev::platform
