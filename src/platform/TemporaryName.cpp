#include "platform/TemporaryName.h"

#include <atomic>
#include <charconv>

#include "platform/File.h"

namespace RazaDedeZuzev::platform {
namespace {

constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kHostDigits = 16;

bool isHexDigits(std::string_view text) {
  return text.size() == kHostDigits && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

bool isNumber(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Splits "a-b-c" into at most `count` parts; false when the count differs.
template <std::size_t count>
bool splitFields(std::string_view text, std::string_view (&fields)[count], std::size_t& found) {
  found = 0;
  while (found < count) {
    const std::size_t dash = text.find('-');
    fields[found++] = text.substr(0, dash);
    if (dash == std::string_view::npos) return true;
    text.remove_prefix(dash + 1);
  }
  return false;
}

}  // namespace

std::u16string temporaryFilePath(std::u16string_view directory, std::u16string_view prefix,
                                 std::string_view host, std::uint64_t processId, std::uint64_t clock,
                                 unsigned attempt) {
  static std::atomic<std::uint64_t> counter{0};
  std::u16string path(directory.empty() ? u"." : directory);
  if (path.back() != u'/' && path.back() != u'\\') path.push_back(kNativeSeparator);
  path.append(prefix);
  const std::string unique = std::string(host) + "-" + std::to_string(processId) + "-" +
                             std::to_string(++counter) + "-" + std::to_string(clock) + "-" +
                             std::to_string(attempt) + std::string(kSuffix);
  path.append(unique.begin(), unique.end());
  return path;
}

bool readTemporaryWriter(std::string_view name, std::string_view prefix, TemporaryWriter& writer) {
  if (!name.starts_with(prefix) || !name.ends_with(kSuffix)) return false;
  name = name.substr(prefix.size(), name.size() - prefix.size() - kSuffix.size());
  std::string_view fields[5];
  std::size_t count = 0;
  if (!splitFields(name, fields, count) || count < 4) return false;
  // Names of earlier versions: process, counter, clock, attempt.
  const bool withHost = count == 5;
  if (withHost && !isHexDigits(fields[0])) return false;
  for (std::size_t i = withHost ? 1 : 0; i < count; ++i) {
    if (!isNumber(fields[i])) return false;
  }
  const std::string_view process = fields[withHost ? 1 : 0];
  writer.host = withHost ? std::string(fields[0]) : std::string();
  return std::from_chars(process.data(), process.data() + process.size(), writer.processId).ec == std::errc{};
}

bool isAbandoned(const TemporaryWriter& writer, std::string_view ownHost, bool writerRunning,
                 std::uint64_t idleSeconds) {
  if (!writer.host.empty() && writer.host == ownHost) return !writerRunning;
  return idleSeconds >= kAbandonedAfterSeconds;
}

std::string hostDigits(std::string_view text) {
  std::uint64_t hash = 14695981039346656037u;  // FNV-1a
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string digits(kHostDigits, '0');
  for (std::size_t i = kHostDigits; i-- > 0; hash >>= 4) digits[i] = kHex[hash & 15];
  return digits;
}

}  // namespace RazaDedeZuzev::platform
