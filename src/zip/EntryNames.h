#pragma once

// How an entry's name is read: one rule, applied to what the engine tells
// of that entry alone, whatever else the archive holds.
//
// The engine reads a name with the UTF-8 mark (bit 11 of its flags) as
// UTF-8, and takes an Info-ZIP Unicode Path field (0x7075) that it finds
// right for the name. It reads any other name byte by byte as Latin-1 (on
// Linux by itself, elsewhere because it is asked to), so that the bytes
// the archive stores come back unchanged, up to a NUL. The program reads
// those bytes as the archivers that wrote them meant:
//
// 1. a marked name, or one from a Unicode Path field, stands as the
//    engine read it;
// 2. otherwise a name made on a system other than DOS/Windows whose bytes
//    are valid UTF-8 is UTF-8, as the zip tools of those systems write it;
// 3. otherwise the bytes are in the legacy code page
//    (NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE, by default the system's:
//    platform::defaultLegacyCodePage); bytes that are not text in it are
//    kept as they stand, so that a job naming those bytes finds the entry.
//
// After reading, `\` is a separator like `/`, and a directory's name (by
// the engine's own mark) ends in `/`.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Text.h"

namespace RazaDedeZuzev {

inline constexpr const char* kZipCodePageVariable = "NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE";

// The code page that the engine is asked to read unmarked names in: each
// byte one character, so that every byte comes back.
inline constexpr std::uint32_t kByteForByteCodePage = 28591;

// The code page a setting names: decimal digits of a code page the system
// can read. Nothing for any other text.
std::optional<std::uint32_t> zipCodePageOfSetting(std::string_view value);

// The code page of names without a UTF-8 mark: the variable's, the system's
// default when it is not set. Nothing when it is set to no code page.
std::optional<std::uint32_t> zipCodePageFromEnvironment();

// What the engine tells of one entry's name.
struct EngineEntryName {
  std::u16string path;             // as the engine read it
  std::u16string characteristics;  // space-separated marks: "UTF8", "up" (a Unicode Path field), ...
  std::u16string hostSystem;       // "FAT", "NTFS", "Unix", ...; empty for an entry read from its local header
  bool isDirectory = false;
};

// The entry's name by the rule above, in UTF-8; `legacy` reads the legacy
// code page.
std::string entryNameByRule(const EngineEntryName& engineName, platform::CodePageDecoder& legacy);

}  // namespace RazaDedeZuzev
