#pragma once

// What the zip mode handlers share.

#include <cstdio>
#include <string>
#include <string_view>

#include "zip/ZipArchive.h"

namespace RazaDedeZuzev {

// Opens the job's archive; on failure completes the archive's message with
// "SetZipFilePath failed: " and the path, and returns false.
bool openArchiveOfJob(ZipArchive& archive, const std::u16string& zipFilePath);

enum class ExtractionTarget {
  File,        // a new file; an existing one is left as it is
  StoredFile,  // a file of the resource store, published only when complete
};

// Extracts the named entry into `destination`, hashing it on the way, and
// writes the record's result line (uuid, the entry's size, the digest).
// False after the messages that say why.
bool extractEntryAndReport(ZipArchive& archive, const std::string& archiveName,
                           std::u16string_view destination, ExtractionTarget target,
                           std::u16string_view uuid, std::FILE* output);

}  // namespace RazaDedeZuzev
