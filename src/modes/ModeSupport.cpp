#include "modes/ModeSupport.h"

#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "job/InputFile.h"
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

std::string copyResultLineBeforeDigest(std::u16string_view uuid, std::uint64_t size) {
  std::string line = "file\t";
  line.append(toUtf8(uuid)).push_back('\t');
  appendDecimal(line, static_cast<std::int64_t>(size));
  line.push_back('\t');
  return line;
}

bool checkNameBelowBase(const char* column, std::u16string_view name) {
  if (staysBelowItsBase(name)) return true;
  Logger::GetInstance() << column << " \"" << asUtf8(name) << "\" leaves its base directory\n";
  return false;
}

const char* unlistableName(std::string_view name, bool backslashIsNoSeparator) {
  if (name.find_first_of("\t\r\n") != std::string_view::npos) {
    return "a tab or a line end cannot stand in a result line";
  }
  if (backslashIsNoSeparator && name.find('\\') != std::string_view::npos) {
    return "a job cannot name a file whose name holds a backslash";
  }
  return nullptr;
}

void reportLeftOut(std::string_view name, const char* why) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\t') shown += "\\t";
    else if (c == '\r') shown += "\\r";
    else if (c == '\n') shown += "\\n";
    else if (c == '\\' || c == '"') shown.append(1, '\\').push_back(c);
    else if (byte < 0x20 || byte == 0x7F) shown.append("\\x").append(1, kDigits[byte >> 4]).push_back(kDigits[byte & 0xF]);
    else shown.push_back(c);
  }
  Logger::GetInstance() << "left out \"" << shown << "\": " << why << "\n";
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
  copy.resultLine = copyResultLineBeforeDigest(uuid, command.GetSourceSize());
  copy.failureLine = failureLine;
  return publisher.Add(std::move(copy));
}

bool copyEveryRecord(InputFile& job, TextWriter* output,
                     const std::function<bool(std::uint64_t row, Publisher& publisher)>& copyRecord) {
  Publisher publisher(output);
  const std::uint64_t rowCount = job.GetRowCount();
  for (std::uint64_t row = 0; row < rowCount; ++row) {
    if (!copyRecord(row, publisher)) {
      publisher.Flush();
      return false;
    }
  }
  return publisher.Flush();
}

}  // namespace RazaDedeZuzev
