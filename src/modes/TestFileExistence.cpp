#include <unordered_map>

#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "job/InputFile.h"
#include "modes/ModeSupport.h"
#include "modes/Modes.h"
#include "modes/WorkInOrder.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {
namespace {

// Records are tested in runs of this many: a run is the unit the two
// threads share, and a few runs in flight hold little memory.
constexpr std::uint64_t kRecordsPerRun = 1024;
constexpr std::size_t kRunsInFlight = 8;
constexpr std::size_t kColumns = 4;

// Tests records with a lookup of its own: one per thread.
class ExistenceTester {
 public:
  explicit ExistenceTester(const InputFile& job)
      : job(job),
        columns{job.FindColumn("uuid"), job.FindColumn("dir_name"), job.FindColumn("file_name"),
                job.FindColumn("storage_type")},
        noDirectory(lookup.AddDirectory(u"")) {}

  // Appends the line of every record of [first, end) whose path names a
  // regular file to `lines`; false at the first record whose path cannot be
  // examined, after the message (the lines before it stay).
  bool TestRun(std::uint64_t first, std::uint64_t end, std::string& lines) {
    for (std::uint64_t row = first; row < end; ++row) {
      if (!testRecord(row, lines)) return false;
    }
    return true;
  }

 private:
  bool testRecord(std::uint64_t row, std::string& lines) {
    job.SplitRecord(row, fields);
    // The cells are converted as the job is read, in column order; where a
    // conversion cannot fail (text that is not empty), it may come later or
    // not at all: the uuid's when its line is written, a known directory's
    // never again, storage_type's (read, not used) never.
    platform::StatusLookup::Directory directory = 0;
    for (std::size_t n = 0; n < kColumns; ++n) {
      views[n] = job.GetCellView(fields, columns[n]);
      cells[n].clear();
      if (n == 1 && !views[n].empty()) {
        auto known = directories.find(views[n]);
        if (known == directories.end()) {
          appendWideString(views[n], cells[n]);
          known = directories.emplace(std::string(views[n]), lookup.AddDirectory(cells[n])).first;
        }
        directory = known->second;
      } else if (n == 2 || views[n].empty()) {
        appendWideString(views[n], cells[n]);
        if (n == 1) directory = noDirectory;
      }
    }
    platform::FileStatus status;
    if (const std::error_code error = lookup.getFileStatus(directory, cells[2], status)) {
      Logger::GetInstance() << "failed to get status of file: "
                            << toUtf8(joinPath(lookup.DirectoryPath(directory), cells[2])) << ": "
                            << GetLastErrorMessage(error) << "\n";
      return false;
    }
    if (status.type != platform::FileType::RegularFile) return true;
    if (!views[0].empty()) appendWideString(views[0], cells[0]);
    lines.append("file\t").append(toUtf8(cells[0])).push_back('\t');
    appendDecimal(lines, static_cast<std::int64_t>(status.size));
    lines.push_back('\n');
    return true;
  }

  const InputFile& job;
  const InputFile::Column columns[kColumns];
  // Millions of records go through here: every buffer is reused.
  InputFile::Fields fields;
  std::string_view views[kColumns];
  std::u16string cells[kColumns];
  platform::StatusLookup lookup;
  // Each directory is converted and looked up once, found by the job's own
  // text of it.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  };
  std::unordered_map<std::string, platform::StatusLookup::Directory, TextHash, std::equal_to<>> directories;
  const platform::StatusLookup::Directory noDirectory;
};

}  // namespace

// Writes a line with the uuid and the size for every record whose path names
// a regular file; missing files are told by the uuids that do not come back.
// A path that cannot be examined (no right to search a directory, an I/O
// error) is no missing file: the mode stops there, with the system's text.
// Where two threads pay, the second tests runs of records ahead of the
// first; lines and messages still come in record order.
bool TestFileExistence(InputFile& job, TextWriter& output) {
  job.AddColumn("uuid");
  job.AddColumn("dir_name");
  job.AddColumn("file_name");
  job.AddColumn("storage_type");
  const std::uint64_t rowCount = job.GetRowCount();
  const std::uint64_t runCount = (rowCount + kRecordsPerRun - 1) / kRecordsPerRun;
  ExistenceTester testers[] = {ExistenceTester(job), ExistenceTester(job)};
  const WorkInOrder<std::string>::Work testRun = [&](std::uint64_t run, unsigned lane, std::string& lines) {
    const std::uint64_t first = run * kRecordsPerRun;
    return testers[lane].TestRun(first, std::min(first + kRecordsPerRun, rowCount), lines);
  };
  WorkInOrder<std::string> runs(runCount, kRunsInFlight, testRun);
  if (recordLanes(runCount) > 1) runs.StartSecondLane();
  return runs.TakeAll(
      [&](std::string&& lines, bool) {
        output.Write(lines);
        return true;
      },
      [](std::string&) {});
}

}  // namespace RazaDedeZuzev
