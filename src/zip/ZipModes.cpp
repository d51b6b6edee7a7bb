#include "zip/ZipModes.h"

#include <cinttypes>

#include "app/Logger.h"
#include "copy/TextEncoding.h"
#include "zip/ZipFileCopyCommand.h"

namespace RazaDedeZuzev {

bool openArchiveOfJob(ZipArchive& archive, const std::u16string& zipFilePath) {
  if (archive.SetZipFilePath(zipFilePath)) return true;
  // The path is converted after the prefix is written, so that a conversion
  // failure's own message follows it on the same line.
  Logger::GetInstance() << "SetZipFilePath failed: "
                        << toMultiByteString(zipFilePath, kCodePageUtf8) << "\n";
  return false;
}

bool extractEntryAndReport(ZipArchive& archive, const std::string& archiveName,
                           std::u16string_view destination, ExtractionTarget target,
                           std::u16string_view uuid, std::FILE* output) {
  Logger& logger = Logger::GetInstance();
  ZipFileCopyCommand command(archive);
  if (!command.SetZipEntryName(archiveName)) {
    logger << "SetZipEntryName failed: " << archiveName << "\n";
    return false;
  }
  if (!command.EnableHashCalculation()) {
    logger << "EnableHashCalculation failed\n";
    return false;
  }
  const bool copied = target == ExtractionTarget::StoredFile ? command.CopyToStoredFile(destination)
                                                             : command.CopyToFile(destination);
  if (!copied) {
    logger << "file copy failed: " << toMultiByteString(destination, kCodePageUtf8) << "\n";
    return false;
  }
  // A digest that cannot be had must not be reported as an empty field.
  const std::string digest = command.GetCalculatedHash();
  if (digest.empty()) return false;
  std::fprintf(output, "file\t%s\t%" PRId64 "\t%s\n", toMultiByteString(uuid, kCodePageUtf8).c_str(),
               static_cast<std::int64_t>(command.GetSourceSize()), digest.c_str());
  return true;
}

}  // namespace RazaDedeZuzev
