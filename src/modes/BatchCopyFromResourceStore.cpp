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

// Copies one record's stored file out under its file name, pending its
// publication. An existing destination is left as it is. False after the
// messages that say why.
bool copyRecordOut(const InputFile& job, std::uint64_t row, const std::u16string& outputDirectory,
                   PendingFile& copy) {
  const std::u16string uuid = toWideString(job.GetCell(row, "uuid"));
  const std::u16string fileName = toWideString(job.GetCell(row, "file_name"));
  const std::u16string root = toWideString(job.GetCell(row, "private_resource_dir_path"));
  const std::u16string storageType = toWideString(job.GetCell(row, "storage_type"));

  if (!checkNameBelowBase("file_name", fileName)) return false;
  StoredFileLocation location;
  if (!locateStoredFile(root, uuid, storageType, location)) return false;
  const std::u16string destination = joinPath(outputDirectory, fileName);

  FileCopyCommand command;
  if (!command.SetSourceFilePath(location.path)) {
    reportCopyFailure("SetSourceFilePath failed", location.path, destination);
    return false;
  }
  if (!command.CopyToPendingFile({destination, directoryOfFile(destination)}, copy)) {
    reportCopyFailure("File Copy failed", location.path, destination);
    return false;
  }
  copy.failureLine = copyFailureLine("File Copy failed", location.path, destination);
  return true;
}

}  // namespace

// Copies stored files out of the resource store, one record after the
// other, and stops at the first record that fails. Writes no result lines.
bool ExecuteBatchCopyFromResourceStore(InputFile& job) {
  job.AddColumn("uuid");
  job.AddColumn("file_name");
  job.AddColumn("private_resource_dir_path");
  job.AddColumn("storage_type");
  const std::u16string outputDirectory = toWideString(job.GetParameter("output_base_dir_path"));

  return copyEveryRecord(job, nullptr, [&](std::uint64_t row, unsigned /*lane*/, PendingFile& copy) {
    return copyRecordOut(job, row, outputDirectory, copy);
  }, recordLanes(job.GetRowCount()));
}

}  // namespace RazaDedeZuzev
