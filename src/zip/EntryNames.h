#pragma once

// Entry names as the archive stores them, and the one rule that reads a name
// which carries no UTF-8 mark (bit 11 of its flags). The engine reads such a
// name in whatever code page its system gives it (on Linux: every byte as
// Latin-1); the program reads it the way the archivers that wrote it meant:
//
// 1. an Info-ZIP Unicode Path field (0x7075) whose CRC matches the stored
//    name wins;
// 2. otherwise a name made on a system other than DOS/Windows (made-by host
//    not 0, 11 or 14) whose bytes are valid UTF-8 is UTF-8, as the zip tools
//    of those systems write it;
// 3. otherwise the bytes are in the legacy code page
//    (NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE, by default the system's:
//    platform::defaultLegacyCodePage); bytes that are not text in it are kept
//    as they stand, so that a job naming those bytes finds the entry.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace RazaDedeZuzev {

inline constexpr const char* kZipCodePageVariable = "NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE";

// The code page a setting names: decimal digits of a code page the system
// can read. Nothing for any other text.
std::optional<std::uint32_t> zipCodePageOfSetting(std::string_view value);

// The code page of names without a UTF-8 mark: the variable's, the system's
// default when it is not set. Nothing when it is set to no code page.
std::optional<std::uint32_t> zipCodePageFromEnvironment();

// One entry of the central directory, as stored.
struct StoredEntry {
  std::uint16_t flags = 0;
  std::uint8_t madeByHost = 0;
  std::string name;                        // the stored bytes
  std::optional<std::string> unicodePath;  // a 0x7075 field whose CRC matches `name`
  std::uint64_t size = 0;
  std::uint64_t packedSize = 0;
};

// Reads `size` bytes at `offset` into `buffer`; false when it cannot.
using ArchiveReader = std::function<bool(std::uint64_t offset, std::size_t size, char* buffer)>;

// Hands each entry of the central directory of an archive of `fileSize`
// bytes, in order, to `visit` (the entry's storage is reused); also behind
// a stub (a self-extracting program) and in zip64 form. False when the
// directory cannot be found or read whole, or `visit` refuses an entry.
bool readCentralDirectory(const ArchiveReader& read, std::uint64_t fileSize,
                          const std::function<bool(const StoredEntry&)>& visit);

// Whether the entry's name needs the rule above: no UTF-8 mark, and bytes
// beyond ASCII or a Unicode Path field. Other names read alike everywhere.
bool needsNameRule(const StoredEntry& entry);

// The entry's name by the rule above, UTF-8 where it could be read; `decode`
// reads the legacy code page (false: not text in it).
std::string nameByRule(const StoredEntry& entry,
                       const std::function<bool(std::string_view, std::string&)>& decode);

// Whether UTF-8 text is valid: well formed, shortest forms, no surrogates.
bool isValidUtf8(std::string_view text);

std::uint32_t crc32Of(std::string_view bytes);

}  // namespace RazaDedeZuzev
