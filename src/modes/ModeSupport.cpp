#include "modes/ModeSupport.h"

#include "base/Logger.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "transfer/Publisher.h"
#include "zip/ZipArchive.h"
#include "zip/ZipFileCopyCommand.h"

namespace RazaDedeZuzev {

std::string copyFailureLine(const char* what, std::u16string_view source,
                            std::u16string_view destination) {
  return std::string(what) + ": (from " + toUtf8(source) + ", to " + toUtf8(destination) + ")\n";
}

void reportCopyFailure(const char* what, std::u16string_view source,
                       std::u16string_view destination) {
  // Piece by piece: a conversion's own message comes where it happens.
  Logger::GetInstance() << what << ": (from " << toUtf8(source) << ", to " << toUtf8(destination)
                        << ")\n";
}

std::string copyResultLine(std::u16string_view uuid, std::uint64_t size, const std::string& digest) {
  std::string line = "file\t";
  line.append(toUtf8(uuid)).push_back('\t');
  appendDecimal(line, static_cast<std::int64_t>(size));
  line.append("\t").append(digest).push_back('\n');
  return line;
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
                           const CopyDestination& destination, std::u16string_view uuid,
                           Publisher& publisher) {
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
  const std::string failureLine = "file copy failed: " + toUtf8(destination.path) + "\n";
  PendingFile copy;
  if (!command.CopyToPendingFile(destination, copy)) {
    logger << failureLine;
    return false;
  }
  // A digest that cannot be had must not be reported as an empty field.
  const std::string digest = command.GetCalculatedHash();
  if (digest.empty()) return false;
  copy.resultLine = copyResultLine(uuid, command.GetSourceSize(), digest);
  copy.failureLine = failureLine;
  return publisher.Add(std::move(copy));
}

}  // namespace RazaDedeZuzev
