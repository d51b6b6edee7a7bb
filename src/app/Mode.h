#pragma once

#include <cstdint>

namespace RazaDedeZuzev {

// Numbered in the order in which the mode words are matched.
enum class Mode : std::int32_t {
  BatchCopyToResourceStore = 0,
  BatchCopyToResourceStoreFromMultipleDirectories = 1,
  TestFileExistence = 2,
  BatchCopyFromResourceStore = 3,
  ExtractFromZip = 4,
  ExtractFromZipToResourceStore = 5,
  ListZipEntry = 6,
  ListZipEntryWithFirstBlock = 7,
  ListFiles = 8,
};

}  // namespace RazaDedeZuzev
