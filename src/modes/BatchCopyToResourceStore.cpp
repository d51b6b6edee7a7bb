#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "job/InputFile.h"
#include "modes/ModeSupport.h"
#include "modes/Modes.h"
#include "store/StorageLayout.h"
#include "transfer/FileCopyCommand.h"
#include "transfer/Publisher.h"

namespace RazaDedeZuzev {
namespace {

struct StoreRecord {
  std::u16string uuid;
  std::u16string fileName;
  std::u16string sourcePath;
  std::u16string root;
  std::u16string storageType;
};

// Reads one record's cells in the order the job declares them.
StoreRecord readRecord(const InputFile& job, std::uint64_t row, bool fromMultipleDirectories,
                       const std::u16string& inputBaseDirectory) {
  StoreRecord record;
  record.uuid = toWideString(job.GetCell(row, "uuid"));
  record.fileName = toWideString(job.GetCell(row, "file_name"));
  record.root = toWideString(job.GetCell(row, "private_resource_dir_path"));
  record.storageType = toWideString(job.GetCell(row, "storage_type"));
  const std::u16string sourceDirectory =
      fromMultipleDirectories ? toWideString(job.GetCell(row, "dir_name")) : inputBaseDirectory;
  record.sourcePath = joinPath(sourceDirectory, record.fileName);
  return record;
}

// Stores one record's file, hashing it on the way, as a pending copy with
// its result line. False after the messages that say why.
bool storeRecord(const StoreRecord& record, PendingFile& copy) {
  if (!checkNameBelowBase("file_name", record.fileName)) return false;
  StoredFileLocation location;
  if (!locateStoredFile(record.root, record.uuid, record.storageType, location)) return false;
  unsigned parentsWithNewNames = 0;
  if (!createDirectoryRecursively(location.directory, &parentsWithNewNames)) {
    Logger::GetInstance() << "createDirectoryRecursively failed for " << toUtf8(location.directory) << "\n";
    return false;
  }

  FileCopyCommand command;
  if (!command.EnableHashCalculation()) {
    Logger::GetInstance() << "EnableHashCalculation failed\n";
    return false;
  }
  if (!command.SetSourceFilePath(record.sourcePath)) {
    reportCopyFailure("SetSourceFilePath failed", record.sourcePath, location.path);
    return false;
  }
  if (!command.CopyToPendingFile({location.path, location.directory, parentsWithNewNames}, copy)) {
    reportCopyFailure("File Copy failed", record.sourcePath, location.path);
    return false;
  }
  copy.resultLine = copyResultLineBeforeDigest(record.uuid, command.GetSourceSize());
  copy.failureLine = copyFailureLine("File Copy failed", record.sourcePath, location.path);
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

  if (job.GetRowCount() == 0) return true;
  const std::u16string inputBaseDirectory =
      fromMultipleDirectories ? std::u16string() : toWideString(job.GetParameter("input_base_dir_path"));

  return copyEveryRecord(job, &output, [&](std::uint64_t row, unsigned /*lane*/, PendingFile& copy) {
    return storeRecord(readRecord(job, row, fromMultipleDirectories, inputBaseDirectory), copy);
  }, recordLanes(job.GetRowCount()));
}

}  // namespace RazaDedeZuzev
