#pragma once

// The layout of the resource store: every stored file is named by its uuid
// alone and lies in a storage directory made of the uuid's first characters
// below the store's root, two levels deep, or three for storage type 3:
//   root/9b/1d/9b1de0f4-...      root/9b/1d/e0/9b1de0f4-...

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace RazaDedeZuzev {

// The storage type that selects three directory levels; any other gives two.
inline constexpr std::int32_t kThreeLevelStorageType = 3;

// How many uuid characters the layout takes: 6 for three levels, else 4.
std::size_t layoutUuidLength(std::int32_t storageType);

// The storage directory, ending in a separator: the root, a separator unless
// the root ends in one, then two characters of the uuid per level, each
// followed by a separator. Characters are copied as they are. Only composes
// text; a uuid shorter than layoutUuidLength gives shorter levels, never a
// read past its end (callers check it first, see locateStoredFile).
std::u16string makeStorageDirectoryPath(std::u16string_view root, std::u16string_view uuid,
                                        std::int32_t storageType);

// A storage_type cell read as the standard string-to-integer conversion reads
// it: leading white space, an optional sign, decimal digits up to the first
// other character (3, 03, +3, " 3" and 3abc are all 3). Empty when there is
// no digit or the value leaves the signed 32-bit range.
std::optional<std::int32_t> parseStorageType(std::u16string_view text);

struct StoredFileLocation {
  std::u16string directory;  // the storage directory, with its final separator
  std::u16string path;       // the stored file: directory + uuid
};

// Checks one record's store fields and composes where its stored file lies.
// A storage_type that does not parse, an empty root or a uuid too short for
// the layout gives false after one line that names the record's value.
bool locateStoredFile(std::u16string_view root, std::u16string_view uuid,
                      std::u16string_view storageTypeText, StoredFileLocation& location);

}  // namespace RazaDedeZuzev
