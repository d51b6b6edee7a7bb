#include "modes/ModeSupport.h"

#include "base/Logger.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "zip/ZipArchive.h"
#include "zip/ZipFileCopyCommand.h"

namespace RazaDedeZuzev {

void reportCopyFailure(const char* what, std::u16string_view source,
                       std::u16string_view destination) {
  Logger::GetInstance() << what << ": (from " << toUtf8(source) << ", to " << toUtf8(destination)
                        << ")\n";
}

void writeCopyResultLine(TextWriter& output, std::u16string_view uuid, std::uint64_t size,
                         const std::string& digest) {
  std::string line = "file\t";
  line.append(toUtf8(uuid)).push_back('\t');
  appendDecimal(line, static_cast<std::int64_t>(size));
  line.append("\t").append(digest).push_back('\n');
  output.Write(line);
}

bool openArchiveOfJob(ZipArchive& archive, const std::u16string& zipFilePath) {
  if (archive.SetZipFilePath(zipFilePath)) return true;
  // The path is converted after the prefix is written, so that a conversion
  // failure's own message follows it on the same line.
  Logger::GetInstance() << "SetZipFilePath failed: ";
  Logger::GetInstance() << toUtf8(zipFilePath) << "\n";
  return false;
}

bool extractEntryAndReport(ZipArchive& archive, const std::string& archiveName,
                           std::u16string_view destination, ExtractionTarget target,
                           std::u16string_view uuid, TextWriter& output) {
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
    logger << "file copy failed: " << toUtf8(destination) << "\n";
    return false;
  }
  // A digest that cannot be had must not be reported as an empty field.
  const std::string digest = command.GetCalculatedHash();
  if (digest.empty()) return false;
  writeCopyResultLine(output, uuid, command.GetSourceSize(), digest);
  return true;
}

}  // namespace RazaDedeZuzev
