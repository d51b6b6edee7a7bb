#include "zip/EntryNames.h"

#include <algorithm>

#include "base/TextEncoding.h"
#include "platform/File.h"
#include "platform/System.h"
#include "platform/Utf.h"

namespace RazaDedeZuzev {
namespace {

// The engine's names of the systems whose names are in a DOS or Windows
// code page (made-by hosts 0, 11 and 14).
constexpr std::u16string_view kDosHosts[] = {u"FAT", u"NTFS", u"VFAT"};

bool hasMark(std::u16string_view marks, std::u16string_view mark) {
  while (!marks.empty()) {
    const std::size_t end = std::min(marks.find(u' '), marks.size());
    if (marks.substr(0, end) == mark) return true;
    marks.remove_prefix(std::min(end + 1, marks.size()));
  }
  return false;
}

// Whether the engine read the name as text rather than byte for byte: by
// the UTF-8 mark, from a Unicode Path field (the engine marks a field it
// refused as an extra-field error), or in another code page than asked.
bool engineReadText(const EngineEntryName& engineName) {
  const std::u16string_view marks = engineName.characteristics;
  const bool fromUnicodeField = hasMark(marks, u"up") && !hasMark(marks, u"Extra_ERROR");
  return hasMark(marks, u"UTF8") || fromUnicodeField ||
         std::any_of(engineName.path.begin(), engineName.path.end(), [](char16_t unit) { return unit > 0xFF; });
}

// The name from the bytes the archive stores for it.
std::string nameFromStoredBytes(std::string bytes, std::u16string_view host, platform::CodePageDecoder& legacy) {
  const bool madeOnDos = std::find(std::begin(kDosHosts), std::end(kDosHosts), host) != std::end(kDosHosts);
  if (!madeOnDos && platform::isValidUtf8(bytes)) return bytes;
  std::string decoded;
  if (legacy.Decode(bytes, decoded)) return decoded;
  // Where `\` is the system's separator, the engine drops a name's last
  // byte when it is 0x5C, the trail byte of many double-byte characters
  // (表 in code page 932 is 95 5C): a name that ends in half a character
  // had it.
  if (platform::kNativeSeparator == u'\\' && legacy.Decode(bytes + '\\', decoded)) return decoded;
  return bytes;  // not text in the code page: kept as it stands
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

std::string entryNameByRule(const EngineEntryName& engineName, platform::CodePageDecoder& legacy) {
  std::string name;
  // An empty name goes through the conversion that reports empty text.
  if (engineName.path.empty() || engineReadText(engineName)) {
    name = toUtf8(engineName.path);
  } else {
    std::string bytes(engineName.path.size(), '\0');
    std::transform(engineName.path.begin(), engineName.path.end(), bytes.begin(),
                   [](char16_t unit) { return static_cast<char>(unit); });
    name = nameFromStoredBytes(std::move(bytes), engineName.hostSystem, legacy);
  }
  std::replace(name.begin(), name.end(), '\\', '/');
  if (engineName.isDirectory && !name.empty() && name.back() != '/') name.push_back('/');
  return name;
}

}  // namespace RazaDedeZuzev
