#include "zip/EntryNames.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/System.h"
#include "platform/Text.h"

namespace RazaDedeZuzev {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::size_t kEndSize = 22, kZip64LocatorSize = 20, kZip64EndSize = 56, kCentralSize = 46;
constexpr std::uint16_t kUtf8Flag = 0x800;
constexpr std::uint16_t kZip64Field = 0x0001, kUnicodePathField = 0x7075;
// Made-by hosts whose names are in a DOS or Windows code page.
constexpr std::uint8_t kDosHosts[] = {0, 11, 14};

std::uint64_t little(const char* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = count; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[i]);
  return value;
}
std::uint16_t u16(const char* bytes) { return static_cast<std::uint16_t>(little(bytes, 2)); }
std::uint32_t u32(const char* bytes) { return static_cast<std::uint32_t>(little(bytes, 4)); }
std::uint64_t u64(const char* bytes) { return little(bytes, 8); }

// The 64-bit sizes of a zip64 field: each present only where its 32-bit
// field holds all ones, in this order.
void readZip64Sizes(std::string_view field, StoredEntry& entry, bool sizeInField, bool packedInField) {
  std::size_t at = 0;
  if (sizeInField && at + 8 <= field.size()) entry.size = u64(field.data() + at), at += 8;
  if (packedInField && at + 8 <= field.size()) entry.packedSize = u64(field.data() + at);
}

void readExtraFields(std::string_view extra, StoredEntry& entry, bool sizeInField, bool packedInField) {
  while (extra.size() >= 4) {
    const std::uint16_t id = u16(extra.data());
    const std::size_t length = std::min<std::size_t>(u16(extra.data() + 2), extra.size() - 4);
    const std::string_view field = extra.substr(4, length);
    if (id == kZip64Field) readZip64Sizes(field, entry, sizeInField, packedInField);
    if (id == kUnicodePathField && field.size() >= 5 && field[0] == 1 &&
        u32(field.data() + 1) == crc32Of(entry.name) && isValidUtf8(field.substr(5))) {
      entry.unicodePath = std::string(field.substr(5));
    }
    extra.remove_prefix(4 + length);
  }
}

// Reads one entry at the start of `bytes` into `entry`; its length, or 0
// when it is cut short or misplaced.
std::size_t readEntry(std::string_view bytes, StoredEntry& entry) {
  if (bytes.size() < kCentralSize || u32(bytes.data()) != kCentralSignature) return 0;
  const char* header = bytes.data();
  const std::size_t nameLength = u16(header + 28), extraLength = u16(header + 30), commentLength = u16(header + 32);
  const std::size_t total = kCentralSize + nameLength + extraLength + commentLength;
  if (bytes.size() < total) return 0;
  entry.madeByHost = static_cast<std::uint8_t>(u16(header + 4) >> 8);
  entry.flags = u16(header + 8);
  entry.packedSize = u32(header + 20);
  entry.size = u32(header + 24);
  entry.name.assign(header + kCentralSize, nameLength);
  entry.unicodePath.reset();
  readExtraFields(bytes.substr(kCentralSize + nameLength, extraLength), entry, entry.size == 0xFFFFFFFF,
                  entry.packedSize == 0xFFFFFFFF);
  return total;
}

// Hands every entry of the directory at `start` to `visit`, reading it
// through a window that holds the largest entry there can be. False when
// an entry is cut short or misplaced, or `visit` refuses one.
bool visitEntries(const ArchiveReader& read, std::uint64_t start, std::uint64_t size,
                  const std::function<bool(const StoredEntry&)>& visit) {
  constexpr std::size_t kWindow = 256 << 10;  // an entry: at most 46 + 3 x 65,535 bytes
  std::string window(static_cast<std::size_t>(std::min<std::uint64_t>(size, kWindow)), '\0');
  std::size_t held = 0, at = 0;
  std::uint64_t unread = size;
  StoredEntry entry;
  while (unread > 0 || at < held) {
    if (held - at < kWindow / 2 && unread > 0) {
      std::copy(window.begin() + static_cast<std::ptrdiff_t>(at), window.begin() + static_cast<std::ptrdiff_t>(held), window.begin());
      held -= at;
      at = 0;
      const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(unread, window.size() - held));
      if (!read(start + (size - unread), piece, window.data() + held)) return false;
      held += piece;
      unread -= piece;
    }
    const std::size_t length = readEntry(std::string_view(window).substr(at, held - at), entry);
    if (length == 0 || !visit(entry)) return false;
    at += length;
  }
  return true;
}

// Where the end record starts in `tail`, the file's last bytes: the last
// signature whose comment ends the file, else the last signature at all.
std::optional<std::size_t> findEndRecord(std::string_view tail) {
  std::optional<std::size_t> any;
  for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
    if (u32(tail.data() + at) != kEndSignature) continue;
    if (at + kEndSize + u16(tail.data() + at + 20) == tail.size()) return at;
    if (!any) any = at;
  }
  return any;
}

}  // namespace

std::optional<std::uint32_t> zipCodePageOfSetting(std::string_view value) {
  if (value.empty() || value.size() > 5 || !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  std::uint32_t codePage = 0;
  for (const char digit : value) codePage = codePage * 10 + static_cast<std::uint32_t>(digit - '0');
  if (!platform::CodePageDecoder(codePage).IsKnown()) return std::nullopt;
  return codePage;
}

std::optional<std::uint32_t> zipCodePageFromEnvironment() {
  const std::optional<std::string> value = platform::getEnvironmentVariable(kZipCodePageVariable);
  if (!value) return platform::defaultLegacyCodePage();
  return zipCodePageOfSetting(*value);
}

bool readCentralDirectory(const ArchiveReader& read, std::uint64_t fileSize,
                          const std::function<bool(const StoredEntry&)>& visit) {
  if (fileSize < kEndSize) return false;
  std::string tail(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndSize + 0xFFFF)), '\0');
  const std::uint64_t tailStart = fileSize - tail.size();
  if (!read(tailStart, tail.size(), tail.data())) return false;
  const std::optional<std::size_t> end = findEndRecord(tail);
  if (!end) return false;
  const char* record = tail.data() + *end;
  std::uint64_t directoryEnd = tailStart + *end;
  std::uint64_t directorySize = u32(record + 12), directoryOffset = u32(record + 16);
  if (u16(record + 10) == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
    // zip64: the locator right before the end record names the zip64 end
    // record, which normally lies right before the locator.
    if (*end < kZip64LocatorSize || u32(record - kZip64LocatorSize) != kZip64LocatorSignature) return false;
    const std::uint64_t locatorAt = directoryEnd - kZip64LocatorSize;
    const std::uint64_t named = u64(record - kZip64LocatorSize + 8);
    char zip64End[kZip64EndSize];
    bool found = false;
    for (const std::uint64_t at : {locatorAt >= kZip64EndSize ? locatorAt - kZip64EndSize : 0, named}) {
      if (at + kZip64EndSize <= locatorAt && read(at, kZip64EndSize, zip64End) &&
          u32(zip64End) == kZip64EndSignature) {
        directoryEnd = at;
        found = true;
        break;
      }
    }
    if (!found) return false;
    directorySize = u64(zip64End + 40);
    directoryOffset = u64(zip64End + 48);
  }
  if (directorySize > directoryEnd) return false;
  // A stub before the archive shifts every offset: the directory ends where
  // the end records begin, and is read from there.
  std::uint64_t start = directoryEnd - directorySize;
  char signature[4];
  if (directorySize >= 4 && (!read(start, 4, signature) || u32(signature) != kCentralSignature)) start = directoryOffset;
  if (start + directorySize > fileSize) return false;
  return visitEntries(read, start, directorySize, visit);
}

bool needsNameRule(const StoredEntry& entry) {
  if ((entry.flags & kUtf8Flag) != 0) return false;
  return entry.unicodePath || std::any_of(entry.name.begin(), entry.name.end(),
                                          [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::string nameByRule(const StoredEntry& entry,
                       const std::function<bool(std::string_view, std::string&)>& decode) {
  if (entry.unicodePath) return *entry.unicodePath;
  const bool madeOnDos = std::find(std::begin(kDosHosts), std::end(kDosHosts), entry.madeByHost) != std::end(kDosHosts);
  if (!madeOnDos && isValidUtf8(entry.name)) return entry.name;
  std::string decoded;
  if (decode(entry.name, decoded)) return decoded;
  return entry.name;  // not text in the code page: kept as it stands
}

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, point = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, point = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, point = lead & 0x07;
    else return false;
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3F);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

std::uint32_t crc32Of(std::string_view bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t value = n;
      for (int bit = 0; bit < 8; ++bit) value = (value & 1) != 0 ? 0xEDB88320u ^ (value >> 1) : value >> 1;
      entries[n] = value;
    }
    return entries;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) crc = table[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace RazaDedeZuzev
