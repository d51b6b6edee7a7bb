#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "job/InputFile.h"
#include "modes/ModeSupport.h"
#include "modes/Modes.h"
#include "transfer/FileCopyCommand.h"
#include "transfer/Publisher.h"
#include "zip/ZipArchive.h"

namespace RazaDedeZuzev {

// Extracts the named entries of one archive into files below the output
// directory, one result line per record; the first failing record ends the
// run. The archive is opened before the records are looked at (and once
// more for a second thread, where one pays).
bool ExecuteExtractFromZip(InputFile& job, TextWriter& output) {
  job.AddColumn("uuid");
  job.AddColumn("archive_name");
  job.AddColumn("file_name");

  const std::u16string zipFilePath = toWideString(job.GetParameter("zip_file_path"));
  ArchiveReaders archive;
  if (!archive.Open(zipFilePath, job.GetRowCount())) return false;
  const std::u16string outputBaseDirectory =
      toWideString(job.GetParameter("output_base_dir_path"));

  const auto extractRecord = [&](std::uint64_t row, unsigned lane, PendingFile& copy) {
    const std::u16string uuid = toWideString(job.GetCell(row, "uuid"));
    const std::string archiveName = job.GetCell(row, "archive_name");
    const std::u16string fileName = toWideString(job.GetCell(row, "file_name"));
    const std::u16string destination = joinPath(outputBaseDirectory, fileName);
    return checkNameBelowBase("file_name", fileName) &&
           extractEntry(archive.ForLane(lane), archiveName, {destination, directoryOfFile(destination)}, uuid,
                        copy);
  };
  return copyEveryRecord(job, &output, extractRecord, archive.Lanes());
}

}  // namespace RazaDedeZuzev
