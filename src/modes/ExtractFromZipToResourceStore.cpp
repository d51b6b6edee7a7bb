#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "job/InputFile.h"
#include "modes/ModeSupport.h"
#include "modes/Modes.h"
#include "transfer/FileCopyCommand.h"
#include "transfer/Publisher.h"
#include "store/StorageLayout.h"
#include "zip/ZipArchive.h"

namespace RazaDedeZuzev {
namespace {

// Puts one record's entry into the store as a pending copy with its result
// line. The order is fixed: storage directory, entry, hash, copy.
bool storeEntry(const InputFile& job, std::uint64_t row, ZipArchive& archive, PendingFile& copy) {
  const std::u16string uuid = toWideString(job.GetCell(row, "uuid"));
  const std::string archiveName = job.GetCell(row, "archive_name");
  toWideString(job.GetCell(row, "file_name"));  // read like the others, not used
  const std::u16string root = toWideString(job.GetCell(row, "private_resource_dir_path"));
  const std::u16string storageType = toWideString(job.GetCell(row, "storage_type"));

  StoredFileLocation location;
  if (!locateStoredFile(root, uuid, storageType, location)) return false;
  unsigned parentsWithNewNames = 0;
  if (!createDirectoryRecursively(location.directory, &parentsWithNewNames)) {
    // No blank after "for": the line reads as the callers expect it.
    Logger::GetInstance() << "createDirectoryRecursively failed for" << toUtf8(location.directory) << "\n";
    return false;
  }
  return extractEntry(archive, archiveName, {location.path, location.directory, parentsWithNewNames}, uuid,
                      copy);
}

}  // namespace

// Extracts the named entries of one archive straight into the resource
// store, one stored file per record, published only when complete; the first
// failing record ends the run.
bool ExecuteExtractFromZipToResourceStore(InputFile& job, TextWriter& output) {
  job.AddColumn("uuid");
  job.AddColumn("archive_name");
  job.AddColumn("file_name");
  job.AddColumn("private_resource_dir_path");
  job.AddColumn("storage_type");

  const std::u16string zipFilePath = toWideString(job.GetParameter("zip_file_path"));
  ArchiveReaders archive;
  if (!archive.Open(zipFilePath, job.GetRowCount())) return false;

  const auto storeRecord = [&](std::uint64_t row, unsigned lane, PendingFile& copy) {
    return storeEntry(job, row, archive.ForLane(lane), copy);
  };
  return copyEveryRecord(job, &output, storeRecord, archive.Lanes());
}

}  // namespace RazaDedeZuzev
