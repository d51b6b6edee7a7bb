#pragma once

// What several mode handlers share: the line that names a failed copy, the
// opening of a job's archive and the extraction of one entry with its
// result line.

#include <cstdint>
#include <string>
#include <string_view>

namespace RazaDedeZuzev {

class TextWriter;
class ZipArchive;

// what + ": (from " + source + ", to " + destination + ")\n", paths in UTF-8:
// the store modes' line after the copy command's own message about the cause.
void reportCopyFailure(const char* what, std::u16string_view source,
                       std::u16string_view destination);

// "file", uuid, size and digest, tab-separated: the result line of a copy
// into the store or out of an archive.
void writeCopyResultLine(TextWriter& output, std::u16string_view uuid, std::uint64_t size,
                         const std::string& digest);

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
                           std::u16string_view uuid, TextWriter& output);

}  // namespace RazaDedeZuzev
