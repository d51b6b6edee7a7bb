#include "base/Hex.h"
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

bool isListed(const ZipEntry& entry) { return !entry.isDirectory && !entry.isHidden; }

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
  std::string line = entryLine(entry) + "\t";
  appendHex(line, firstBlock, static_cast<std::size_t>(received));
  output.Write(line + "\n");
  return true;
}

}  // namespace

// Lists the file entries of the archive in item order: directories and
// hidden entries are left out; names are written as the archive holds them.
bool ExecuteListZipEntry(InputFile& job, TextWriter& output, bool withFirstBlock) {
  const std::u16string zipFilePath = toWideString(job.GetParameter("zip_file_path"));
  ZipArchive archive;
  if (!openArchiveOfJob(archive, zipFilePath)) return false;
  // Each line is written as its item is read: the listing holds one entry
  // at a time, whatever the archive's size.
  bool firstBlocksRead = true;
  const bool listed = archive.ForEachEntry([&](const ZipEntry& entry) {
    if (!isListed(entry)) return true;
    // An entry's name comes from whoever made the archive: one that would
    // break its line is left out, and said so.
    if (const char* why = unlistableName(entry.name, false)) {
      reportLeftOut(entry.name, why);
    } else if (!withFirstBlock) {
      printEntryLine(output, entry);
    } else {
      firstBlocksRead = printEntryLineWithFirstBlock(output, archive, entry);
    }
    return firstBlocksRead;
  });
  if (!listed) Logger::GetInstance() << "GetZipEntryList failed: " << toUtf8(zipFilePath) << "\n";
  return listed && firstBlocksRead;
}

}  // namespace RazaDedeZuzev
