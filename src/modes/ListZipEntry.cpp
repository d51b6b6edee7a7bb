#include "base/Logger.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "job/InputFile.h"
#include "modes/ModeSupport.h"
#include "modes/Modes.h"
#include "zip/ZipArchive.h"

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

// "file", name, size, packed size and the encryption mark, tab-separated.
// The name is written as formatted printing of "%s" writes it: up to a NUL.
std::string entryLine(const ZipEntry& entry) {
  std::string line = "file\t";
  line.append(entry.name.c_str()).push_back('\t');
  appendDecimal(line, static_cast<std::int64_t>(entry.size));
  line.push_back('\t');
  appendDecimal(line, static_cast<std::int64_t>(entry.packedSize));
  line.append(entry.isEncrypted ? "\t1" : "\t0");
  return line;
}

void printEntryLine(TextWriter& output, const ZipEntry& entry) {
  output.Write(entryLine(entry) + "\n");
}

bool printEntryLineWithFirstBlock(TextWriter& output, ZipArchive& archive, const ZipEntry& entry) {
  unsigned char firstBlock[kFirstBlockSize];
  std::uint64_t received = 0;
  if (!archive.GetZipContentData(entry.index, firstBlock, sizeof firstBlock, received)) {
    Logger::GetInstance() << "GetZipContentData failed\n";
    return false;
  }
  output.Write(entryLine(entry) + "\t" + toHex(firstBlock, static_cast<std::size_t>(received)) +
               "\n");
  return true;
}

}  // namespace

// Lists the file entries of the archive in item order: directories and
// hidden entries are left out; names are written as the archive holds them.
bool ExecuteListZipEntry(InputFile& job, TextWriter& output, bool withFirstBlock) {
  const std::u16string zipFilePath = toWideString(job.GetParameter("zip_file_path"));
  ZipArchive archive;
  if (!openArchiveOfJob(archive, zipFilePath)) return false;
  std::vector<ZipEntry> entries;
  if (!archive.GetZipEntryList(entries)) {
    Logger::GetInstance() << "GetZipEntryList failed: " << toUtf8(zipFilePath) << "\n";
    return false;
  }
  for (const ZipEntry& entry : entries) {
    if (!isListed(entry)) continue;
    // An entry's name comes from whoever made the archive: one that would
    // break its line is left out, and said so.
    if (const char* why = unlistableName(entry.name, false)) {
      reportLeftOut(entry.name, why);
    } else if (!withFirstBlock) {
      printEntryLine(output, entry);
    } else if (!printEntryLineWithFirstBlock(output, archive, entry)) {
      return false;
    }
  }
  return true;
}

}  // namespace RazaDedeZuzev
