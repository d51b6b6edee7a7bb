#include <cinttypes>
#include <cstdio>

#include "app/Handlers.h"
#include "app/Logger.h"
#include "copy/PathUtil.h"
#include "copy/TextEncoding.h"
#include "input/InputFile.h"
#include "zip/ZipArchive.h"
#include "zip/ZipModes.h"
#include "zip/ZipFileCopyCommand.h"

namespace RazaDedeZuzev {
namespace {

bool extractRecord(InputFile& job, std::uint64_t row, ZipArchive& archive,
                   const std::u16string& outputBaseDirectory, std::FILE* output) {
  Logger& logger = Logger::GetInstance();
  const std::u16string uuid = toWideString(job.GetCell(row, "uuid"));
  const std::string archiveName = job.GetCell(row, "archive_name");
  const std::u16string fileName = toWideString(job.GetCell(row, "file_name"));
  const std::u16string destination = joinPath(outputBaseDirectory, fileName);

  ZipFileCopyCommand command(archive);
  if (!command.SetZipEntryName(archiveName)) {
    logger << "SetZipEntryName failed: " << archiveName << "\n";
    return false;
  }
  if (!command.EnableHashCalculation()) {
    logger << "EnableHashCalculation failed\n";
    return false;
  }
  if (!command.CopyToFile(destination)) {
    logger << "file copy failed: " << toMultiByteString(destination, kCodePageUtf8) << "\n";
    return false;
  }
  const std::string digest = command.GetCalculatedHash();
  std::fprintf(output, "file\t%s\t%" PRId64 "\t%s\n", toMultiByteString(uuid, kCodePageUtf8).c_str(),
               static_cast<std::int64_t>(command.GetSourceSize()), digest.c_str());
  return true;
}

}  // namespace

// Extracts the named entries of one archive into files below the output
// directory, one result line per record; the first failing record ends the
// run. The archive is opened once, before the records are looked at.
bool ExecuteExtractFromZip(InputFile& job, std::FILE* output) {
  job.AddColumn("uuid");
  job.AddColumn("archive_name");
  job.AddColumn("file_name");

  const std::u16string zipFilePath = toWideString(job.GetParameter("zip_file_path"));
  ZipArchive archive;
  if (!openArchiveOfJob(archive, zipFilePath)) return false;
  const std::u16string outputBaseDirectory =
      toWideString(job.GetParameter("output_base_dir_path"));

  const std::uint64_t rowCount = job.GetRowCount();
  for (std::uint64_t row = 0; row < rowCount; ++row) {
    if (!extractRecord(job, row, archive, outputBaseDirectory, output)) return false;
  }
  return true;
}

}  // namespace RazaDedeZuzev
