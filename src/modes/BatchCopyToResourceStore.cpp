#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "job/InputFile.h"
#include "modes/ModeSupport.h"
#include "modes/Modes.h"
#include "store/StorageLayout.h"
#include "transfer/FileCopyCommand.h"

namespace RazaDedeZuzev {
namespace {

struct StoreRecord {
  std::u16string uuid;
  std::u16string sourcePath;
  std::u16string root;
  std::u16string storageType;
};

// Reads one record's cells in the order the job declares them.
StoreRecord readRecord(const InputFile& job, std::uint64_t row, bool fromMultipleDirectories,
                       const std::u16string& inputBaseDirectory) {
  StoreRecord record;
  record.uuid = toWideString(job.GetCell(row, "uuid"));
  const std::u16string fileName = toWideString(job.GetCell(row, "file_name"));
  record.root = toWideString(job.GetCell(row, "private_resource_dir_path"));
  record.storageType = toWideString(job.GetCell(row, "storage_type"));
  const std::u16string sourceDirectory =
      fromMultipleDirectories ? toWideString(job.GetCell(row, "dir_name")) : inputBaseDirectory;
  record.sourcePath = joinPath(sourceDirectory, fileName);
  return record;
}

// Stores one record's file, hashing it on the way, and writes its result
// line. False after the messages that say why.
bool storeRecord(const StoreRecord& record, TextWriter& output) {
  Logger& logger = Logger::GetInstance();
  StoredFileLocation location;
  if (!locateStoredFile(record.root, record.uuid, record.storageType, location)) return false;
  if (!createDirectoryRecursively(location.directory)) {
    logger << "createDirectoryRecursively failed for " << toUtf8(location.directory) << "\n";
    return false;
  }

  FileCopyCommand command;
  if (!command.EnableHashCalculation()) {
    logger << "EnableHashCalculation failed\n";
    return false;
  }
  if (!command.SetSourceFilePath(record.sourcePath)) {
    reportCopyFailure("SetSourceFilePath failed", record.sourcePath, location.path);
    return false;
  }
  if (!command.CopyToStoredFile(location.path)) {
    reportCopyFailure("File Copy failed", record.sourcePath, location.path);
    return false;
  }
  // A digest that cannot be had must not be reported as an empty field.
  const std::string digest = command.GetCalculatedHash();
  if (digest.empty()) return false;
  writeCopyResultLine(output, record.uuid, command.GetSourceSize(), digest);
  return true;
}

}  // namespace

// Copies every record's file into the resource store, one after the other,
// and stops at the first record that fails.
bool ExecuteBatchCopyToResourceStore(InputFile& job, TextWriter& output,
                                     bool fromMultipleDirectories) {
  job.AddColumn("uuid");
  if (fromMultipleDirectories) job.AddColumn("dir_name");
  job.AddColumn("file_name");
  job.AddColumn("private_resource_dir_path");
  job.AddColumn("storage_type");

  const std::uint64_t rowCount = job.GetRowCount();
  if (rowCount == 0) return true;
  const std::u16string inputBaseDirectory =
      fromMultipleDirectories ? std::u16string() : toWideString(job.GetParameter("input_base_dir_path"));

  for (std::uint64_t row = 0; row < rowCount; ++row) {
    const StoreRecord record = readRecord(job, row, fromMultipleDirectories, inputBaseDirectory);
    if (!storeRecord(record, output)) return false;
  }
  return true;
}

}  // namespace RazaDedeZuzev
