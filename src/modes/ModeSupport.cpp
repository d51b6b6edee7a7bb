#include "modes/ModeSupport.h"

#include <algorithm>
#include <utility>

#include "base/Hex.h"
#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "job/InputFile.h"
#include "modes/WorkInOrder.h"
#include "platform/File.h"
#include "platform/System.h"
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
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\t') shown += "\\t";
    else if (c == '\r') shown += "\\r";
    else if (c == '\n') shown += "\\n";
    else if (c == '\\' || c == '"') shown.append(1, '\\').push_back(c);
    else if (byte < 0x20 || byte == 0x7F) appendHex(shown.append("\\x"), &byte, 1);
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

bool extractEntry(ZipArchive& archive, const std::string& archiveName, const CopyDestination& destination,
                  std::u16string_view uuid, PendingFile& copy) {
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
  if (!command.CopyToPendingFile(destination, copy)) {
    logger << failureLine;
    return false;
  }
  copy.resultLine = copyResultLineBeforeDigest(uuid, command.GetSourceSize());
  copy.failureLine = failureLine;
  return true;
}

unsigned recordLanes(std::uint64_t rowCount) {
  // Where descriptors are scarce, a run fails at the same record, with the
  // same message, whatever the timing of two threads.
  constexpr std::uint64_t kDescriptorsToSpare = 64;
  const bool pays = rowCount > 1 && platform::processorCount() > 1;
  return pays && platform::openFileLimit() >= kDescriptorsToSpare ? 2 : 1;
}

// The engine holds about 200 bytes for each item of an open archive: a
// second reader of 100,000 items costs 20 MiB, and halves the time of a
// job whose entries take the engine's work to decompress.
constexpr std::uint64_t kMostEntriesReadTwice = 100000;

ArchiveReaders::ArchiveReaders() : first(std::make_unique<ZipArchive>()) {}
ArchiveReaders::~ArchiveReaders() = default;

bool ArchiveReaders::Open(const std::u16string& zipFilePath, std::uint64_t rowCount) {
  if (!openArchiveOfJob(*first, zipFilePath)) return false;
  if (recordLanes(rowCount) < 2 || first->EntryCount() > kMostEntriesReadTwice) return true;
  std::string ignored;
  const HeldMessages quiet(ignored);
  second = std::make_unique<ZipArchive>();
  if (!second->SetZipFilePath(zipFilePath)) second.reset();
  return true;
}

namespace {

// Each finished copy in the window holds a descriptor until it is
// published, beside the publisher's batch (at most half the limit): a
// quarter of the limit leaves room for both and for the copies under way.
// Half the largest batch keeps both threads copying while a batch is
// synced; a job of fewer records needs no more places than it has.
std::size_t windowOfRecords(std::uint64_t rowCount) {
  constexpr std::uint64_t kWidest = 1024;
  const std::uint64_t limit = platform::openFileLimit();
  const std::uint64_t widest = std::min(kWidest, std::max<std::uint64_t>(rowCount, 1));
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(limit / 4, 1, widest));
}

}  // namespace

bool copyEveryRecord(InputFile& job, TextWriter* output, const RecordCopy& copyRecord, unsigned lanes) {
  platform::keepHeapCompactForCopyingThreads();
  Publisher publisher(output, job.GetRowCount());
  // The second thread copies records ahead of the one being published, and
  // goes on copying while the caller's thread waits for the disk to take a
  // batch.
  WorkInOrder<PendingFile> records(job.GetRowCount(), windowOfRecords(job.GetRowCount()), copyRecord);
  if (lanes > 1) records.StartSecondLane();
  // The copies before a failed record are published all the same.
  const bool everyRecordCopied = records.TakeAll(
      [&](PendingFile&& copy, bool copied) { return copied && publisher.Add(std::move(copy)); },
      [](PendingFile& left) { discardPendingFile(left); });
  return publisher.Flush() && everyRecordCopied;
}

}  // namespace RazaDedeZuzev
