#include "base/PathUtil.h"

#include "platform/File.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {

bool isPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

void appendJoinedPath(std::u16string_view left, std::u16string_view right, std::u16string& out) {
  out.append(left);
  if (!left.empty() && !isPathSeparator(left.back())) out.push_back(platform::kNativeSeparator);
  out.append(right);
}

std::u16string joinPath(std::u16string_view left, std::u16string_view right) {
  std::u16string result;
  result.reserve(left.size() + 1 + right.size());
  appendJoinedPath(left, right, result);
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

bool staysBelowItsBase(std::u16string_view name) {
  if (!name.empty() && isPathSeparator(name.front())) return false;
  const bool drive = name.size() >= 2 && name[1] == u':' &&
                     ((name[0] >= u'A' && name[0] <= u'Z') || (name[0] >= u'a' && name[0] <= u'z'));
  if (drive) return false;
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t end = start;
    while (end < name.size() && !isPathSeparator(name[end])) ++end;
    if (name.substr(start, end - start) == u"..") return false;
    start = end + 1;
  }
  return true;
}

bool createDirectoryRecursively(std::u16string_view path, unsigned* parentsWithNewNames) {
  return !platform::createDirectories(path, parentsWithNewNames);
}

std::int64_t getRegularFileSize(std::u16string_view path) {
  platform::FileStatus status;
  if (platform::getFileStatus(path, status) || status.type != platform::FileType::RegularFile) {
    return -1;
  }
  return static_cast<std::int64_t>(status.size);
}

}  // namespace RazaDedeZuzev
