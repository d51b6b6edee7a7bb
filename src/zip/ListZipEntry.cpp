#include <cinttypes>
#include <cstdio>

#include "app/Handlers.h"
#include "app/Logger.h"
#include "copy/TextEncoding.h"
#include "input/InputFile.h"
#include "zip/ZipArchive.h"
#include "zip/ZipModes.h"

namespace RazaDedeZuzev {
namespace {

// The first block: the first bytes of an entry's content, as hex text.
constexpr std::size_t kFirstBlockSize = 16;

bool isListed(const ZipEntry& entry) {
  const bool isDirectory = !entry.name.empty() && entry.name.back() == '/';
  return !isDirectory && !entry.isHidden;
}

std::string toHex(const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 0xF]);
  }
  return hex;
}

void printEntryLine(std::FILE* output, const ZipEntry& entry) {
  std::fprintf(output, "file\t%s\t%" PRId64 "\t%" PRId64 "\t%d\n", entry.name.c_str(),
               static_cast<std::int64_t>(entry.size), static_cast<std::int64_t>(entry.packedSize),
               entry.isEncrypted ? 1 : 0);
}

bool printEntryLineWithFirstBlock(std::FILE* output, ZipArchive& archive, const ZipEntry& entry) {
  unsigned char firstBlock[kFirstBlockSize];
  std::uint64_t received = 0;
  if (!archive.GetZipContentData(entry.index, firstBlock, sizeof firstBlock, received)) {
    Logger::GetInstance() << "GetZipContentData failed\n";
    return false;
  }
  std::fprintf(output, "file\t%s\t%" PRId64 "\t%" PRId64 "\t%d\t%s\n", entry.name.c_str(),
               static_cast<std::int64_t>(entry.size), static_cast<std::int64_t>(entry.packedSize),
               entry.isEncrypted ? 1 : 0,
               toHex(firstBlock, static_cast<std::size_t>(received)).c_str());
  return true;
}

}  // namespace

// Lists the file entries of the archive in item order: directories and
// hidden entries are left out; names are written as the archive holds them.
bool ExecuteListZipEntry(InputFile& job, std::FILE* output, bool withFirstBlock) {
  const std::u16string zipFilePath = toWideString(job.GetParameter("zip_file_path"));
  ZipArchive archive;
  if (!openArchiveOfJob(archive, zipFilePath)) return false;
  std::vector<ZipEntry> entries;
  if (!archive.GetZipEntryList(entries)) {
    Logger::GetInstance() << "GetZipEntryList failed: "
                          << toMultiByteString(zipFilePath, kCodePageUtf8) << "\n";
    return false;
  }
  for (const ZipEntry& entry : entries) {
    if (!isListed(entry)) continue;
    if (!withFirstBlock) {
      printEntryLine(output, entry);
    } else if (!printEntryLineWithFirstBlock(output, archive, entry)) {
      return false;
    }
  }
  return true;
}

}  // namespace RazaDedeZuzev
