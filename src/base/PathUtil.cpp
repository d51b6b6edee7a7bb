#include "base/PathUtil.h"

#include "platform/File.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {

bool isPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::u16string joinPath(std::u16string_view left, std::u16string_view right) {
  std::u16string result;
  result.reserve(left.size() + 1 + right.size());
  result.append(left);
  if (!left.empty() && !isPathSeparator(left.back())) result.push_back(platform::kNativeSeparator);
  result.append(right);
  return result;
}

std::u16string getParentDirectoryPath(std::u16string_view path) {
  const std::size_t last = path.find_last_of(u"\\/");
  if (last == std::u16string_view::npos) return u".";
  return std::u16string(path.substr(0, last));
}

std::u16string directoryOfFile(std::u16string_view path) {
  std::u16string directory = getParentDirectoryPath(path);
  if (directory.empty() && !path.empty()) return std::u16string(1, path.front());
  return directory;
}

bool createDirectoryRecursively(std::u16string_view path) {
  return !platform::createDirectories(path);
}

std::int64_t getRegularFileSize(std::u16string_view path) {
  platform::FileStatus status;
  if (platform::getFileStatus(path, status) || status.type != platform::FileType::RegularFile) {
    return -1;
  }
  return static_cast<std::int64_t>(status.size);
}

}  // namespace RazaDedeZuzev
