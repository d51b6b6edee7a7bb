#include "store/StorageLayout.h"

#include <limits>

#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "platform/File.h"

namespace RazaDedeZuzev {
namespace {

constexpr std::size_t kCharactersPerLevel = 2;

bool isWhiteSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Record values in messages: UTF-8, empty ones too (the text conversion of
// the handlers would refuse those with a message of its own).
std::string quoted(std::u16string_view value) {
  return "\"" + asUtf8(value) + "\"";
}

// A uuid names the stored file and, by its first characters, the
// directories: none of them may be a separator, a NUL, "." or "..".
bool namesAFile(std::u16string_view uuid) {
  if (uuid.find_first_of(std::u16string_view(u"/\\\0", 3)) != std::u16string_view::npos) return false;
  if (uuid == u"." || uuid == u"..") return false;
  for (std::size_t start = 0; start < uuid.size() && start < 3 * kCharactersPerLevel; start += kCharactersPerLevel) {
    if (uuid.substr(start, kCharactersPerLevel) == u"..") return false;
  }
  return true;
}

}  // namespace

std::size_t layoutUuidLength(std::int32_t storageType) {
  return (storageType == kThreeLevelStorageType ? 3 : 2) * kCharactersPerLevel;
}

std::u16string makeStorageDirectoryPath(std::u16string_view root, std::u16string_view uuid,
                                        std::int32_t storageType) {
  std::u16string directory(root);
  if (!directory.empty() && !isPathSeparator(directory.back())) {
    directory.push_back(platform::kNativeSeparator);
  }
  const std::size_t used = layoutUuidLength(storageType);
  for (std::size_t start = 0; start < used && start < uuid.size(); start += kCharactersPerLevel) {
    directory.append(uuid.substr(start, kCharactersPerLevel));
    directory.push_back(platform::kNativeSeparator);
  }
  return directory;
}

std::optional<std::int32_t> parseStorageType(std::u16string_view text) {
  std::size_t position = 0;
  while (position < text.size() && isWhiteSpace(text[position])) ++position;
  bool negative = false;
  if (position < text.size() && (text[position] == u'+' || text[position] == u'-')) {
    negative = text[position] == u'-';
    ++position;
  }
  if (position == text.size() || !isDigit(text[position])) return std::nullopt;

  // One past the largest magnitude, so that -2147483648 still fits.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; position < text.size() && isDigit(text[position]); ++position) {
    magnitude = magnitude * 10 + (text[position] - u'0');
    if (magnitude > kLimit) return std::nullopt;
  }
  if (!negative && magnitude == kLimit) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

bool locateStoredFile(std::u16string_view root, std::u16string_view uuid,
                      std::u16string_view storageTypeText, StoredFileLocation& location) {
  Logger& logger = Logger::GetInstance();
  if (!namesAFile(uuid)) {
    // It would place the stored file elsewhere than the layout says,
    // outside the store even.
    logger << "invalid uuid " << quoted(uuid) << ": not a file name\n";
    return false;
  }
  const std::optional<std::int32_t> storageType = parseStorageType(storageTypeText);
  if (!storageType) {
    logger << "invalid storage_type " << quoted(storageTypeText) << " for uuid " << quoted(uuid)
           << "\n";
    return false;
  }
  if (root.empty()) {
    // The store would otherwise land below whatever the current directory is.
    logger << "empty private_resource_dir_path for uuid " << quoted(uuid) << "\n";
    return false;
  }
  const std::size_t needed = layoutUuidLength(*storageType);
  if (uuid.size() < needed) {
    logger << "uuid " << quoted(uuid) << " is too short for storage_type " << quoted(storageTypeText)
           << " (the store layout needs " << std::uint64_t{needed} << " characters)\n";
    return false;
  }
  location.directory = makeStorageDirectoryPath(root, uuid, *storageType);
  location.path = joinPath(location.directory, uuid);
  return true;
}

}  // namespace RazaDedeZuzev
