#pragma once

// What several mode handlers share: the line that names a failed copy, the
// opening of a job's archive, the extraction of one entry with its result
// line, and the loop of the copying modes over their records.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace RazaDedeZuzev {

class InputFile;
class Publisher;
class TextWriter;
class ZipArchive;
struct CopyDestination;
struct PendingFile;

// what + ": (from " + source + ", to " + destination + ")\n", paths in UTF-8:
// the store modes' line after the copy command's own message about the cause.
std::string copyFailureLine(const char* what, std::u16string_view source,
                            std::u16string_view destination);
void reportCopyFailure(const char* what, std::u16string_view source,
                       std::u16string_view destination);

// "file", uuid and size with the tab that follows: the result line of a copy
// into the store or out of an archive, but for the digest that completes it
// when it is published (PendingFile::digest).
std::string copyResultLineBeforeDigest(std::u16string_view uuid, std::uint64_t size);

// True when the job's `column` cell `name`, a path below a base directory,
// stays below it; otherwise writes why and returns false (the record is not
// copied: nothing is opened for it).
bool checkNameBelowBase(const char* column, std::u16string_view name);

// Why a name (UTF-8) cannot appear in a result line, or null when it can:
// a tab, CR or LF would break the line the server parses; and where `\` is
// no separator (`backslashIsNoSeparator`), no job could name the file, as
// every `\` in a job is read as a separator.
const char* unlistableName(std::string_view name, bool backslashIsNoSeparator);

// The message for an entry left out of a listing: the name, shown escaped,
// and why.
void reportLeftOut(std::string_view name, const char* why);

// Opens the job's archive; on failure completes the archive's message with
// "SetZipFilePath failed: " and the path, and returns false.
bool openArchiveOfJob(ZipArchive& archive, const std::u16string& zipFilePath);

// Extracts the named entry into a pending file for `destination`, hashing
// it on the way, with the record's result line (uuid, the entry's size, the
// digest to come). False after the messages that say why.
bool extractEntry(ZipArchive& archive, const std::string& archiveName, const CopyDestination& destination,
                  std::u16string_view uuid, PendingFile& copy);

// How many threads copy the records of a job (copyEveryRecord): two where
// that pays and is safe, one on a single core, for a single record, or
// where file descriptors are scarce (each copy in flight holds some).
unsigned recordLanes(std::uint64_t rowCount);

// The readers of a job's archive, one per thread that extracts its records:
// a second one only where two lanes pay (recordLanes), the archive is small
// enough that holding its items twice costs little, and it opens again
// (nothing is said when it does not: one reader does the work then).
class ArchiveReaders {
 public:
  ArchiveReaders();
  ~ArchiveReaders();
  // Opens the job's archive; false after openArchiveOfJob's message.
  bool Open(const std::u16string& zipFilePath, std::uint64_t rowCount);
  ZipArchive& ForLane(unsigned lane) { return lane == 0 || !second ? *first : *second; }
  unsigned Lanes() const { return second ? 2 : 1; }

 private:
  std::unique_ptr<ZipArchive> first;
  std::unique_ptr<ZipArchive> second;
};

// Copies one record (`row`) into `copy`, ready to be published; false after
// the messages that say why. `lane` tells whose resources to use: 0 for the
// caller's thread, 1 for the second thread (copyEveryRecord).
using RecordCopy = std::function<bool(std::uint64_t row, unsigned lane, PendingFile& copy)>;

// Copies the job's records in order and hands each copy to a publisher
// writing result lines to `output` (null: none). The first record that
// fails ends the run: the copies before it are published and reported all
// the same. True when every record was copied and published.
// With two lanes, a second thread copies records ahead of the one being
// published: their messages wait for their turn, and are dropped with
// their copies when a record before them fails.
bool copyEveryRecord(InputFile& job, TextWriter* output, const RecordCopy& copyRecord, unsigned lanes = 1);

}  // namespace RazaDedeZuzev
