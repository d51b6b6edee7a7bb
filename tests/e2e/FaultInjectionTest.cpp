// Every mode that writes files, run on a job whose third record meets a
// failing system: a file-size limit, a read error, places it may not write,
// sources it may not read. Each run must stop at that record with exit code 2 and a message
// that names the cause, report exactly the records before it, and leave every
// file that was there before as it was.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <tuple>

#include "e2e/FaultPoint.h"
#include "e2e/WritingModes.h"

namespace {

using namespace testsupport;
using namespace e2e;

enum class Fault {
  FileSizeLimit,
  ReadError,
  UnwritableDestinationDirectory,
  UncreatableDestinationDirectory,
  UnreadableSource,
  UnsearchableSourceDirectory,
  SourceIsNotAFile,
};

const char* nameOf(Fault fault) {
  switch (fault) {
    case Fault::FileSizeLimit: return "FileSizeLimit";
    case Fault::ReadError: return "ReadError";
    case Fault::UnwritableDestinationDirectory: return "UnwritableDestinationDirectory";
    case Fault::UncreatableDestinationDirectory: return "UncreatableDestinationDirectory";
    case Fault::UnreadableSource: return "UnreadableSource";
    case Fault::UnsearchableSourceDirectory: return "UnsearchableSourceDirectory";
    case Fault::SourceIsNotAFile: return "SourceIsNotAFile";
  }
  return "";
}

void PrintTo(Fault fault, std::ostream* stream) { *stream << nameOf(fault); }

constexpr std::uint64_t kFileSizeLimit = 1 << 20;

// a.bin is copied, b.bin's destination exists already (and must stay as it
// is), c.bin meets the fault and d.bin is never reached. Only c.bin is larger
// than the file-size limit.
std::vector<Item> jobItems() {
  return {{"aaaa0001-4e11-8d3b-000000000001", "a.bin", randomBytes(70000, 1)},
          {"bbbb0002-4e11-8d3b-000000000002", "b.bin", randomBytes(1000, 2)},
          {"cccc0003-4e11-8d3b-000000000003", "sub/deeper/c.bin", randomBytes(3 << 20, 3)},
          {"dddd0004-4e11-8d3b-000000000004", "d.bin", randomBytes(5000, 4)}};
}
constexpr std::size_t kFirst = 0, kExisting = 1, kFailing = 2, kNeverReached = 3;

// The messages of a record that fails, as each kind of mode words them.
class Messages {
 public:
  Messages(const Workspace& workspace, const Item& item)
      : mode(workspace.mode()),
        item(item),
        source(workspace.sourceOf(item).string()),
        destination(workspace.destinationOf(item).string()),
        storageDirectory(workspace.storageDirectoryOf(item)) {}

  std::string copyFailed() const {
    if (readsArchive(mode)) return "file copy failed: " + destination + "\n";
    return "File Copy failed: (from " + source + ", to " + destination + ")\n";
  }
  std::string writeFailed(const std::string& reason) const {
    if (readsArchive(mode)) return "WriteFile failed: " + reason + "\n\nextract failed\n" + copyFailed();
    return "WriteFile failed:" + reason + "\n\n" + copyFailed();
  }
  std::string readFailed(const std::string& reason) const {
    if (readsArchive(mode)) return "ReadFile failed: " + reason + "\n\nextract failed\n" + copyFailed();
    return "ReadFile failed" + reason + "\n\nSetSourceDataToBuffer failed\n" + copyFailed();
  }
  std::string destinationFailed(const std::string& reason) const {
    return "failed to open file: " + destination + ": " + reason + "\n\n" + copyFailed();
  }
  std::string storageDirectoryFailed() const {
    // The zip mode's line has no blank after "for", as its callers expect.
    const char* prefix = readsArchive(mode) ? "createDirectoryRecursively failed for"
                                            : "createDirectoryRecursively failed for ";
    return prefix + storageDirectory + "\n";
  }
  // For the zip modes the source is the archive, opened before any record.
  std::string sourceFailed(const std::string& reason) const {
    if (readsArchive(mode)) {
      return "CreateFileW failed for " + source + ": " + reason +
             "\n\nfailed to open fileSetZipFilePath failed: " + source + "\n";
    }
    return "failed to open file: " + source + ": " + reason + "\n\nSetSourceFilePath failed: (from " +
           source + ", to " + destination + ")\n";
  }

 private:
  WritingMode mode;
  Item item;
  std::string source;
  std::string destination;
  std::string storageDirectory;
};

struct Expectation {
  RunOptions options;
  std::string error;             // the error file, without the mode's last line
  std::size_t completed = 0;     // records done before the fault
};

void setMode(const fs::path& path, fs::perms permissions) {
  fs::permissions(path, permissions, fs::perm_options::replace);
}

const fs::perms kReadAndSearch = fs::perms::owner_read | fs::perms::owner_exec |
                                 fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec;
const fs::perms kReadAndWriteOnly = fs::perms::owner_read | fs::perms::owner_write |
                                    fs::perms::group_read | fs::perms::group_write |
                                    fs::perms::others_read | fs::perms::others_write;

// Puts the fault in place for the failing record and says what the run must
// report. Faults of rights need a run without root's privileges.
Expectation arrange(Fault fault, const Workspace& workspace) {
  const Item& failing = workspace.items()[kFailing];
  const Messages messages(workspace, failing);
  const bool toStore = workspace.mode().target == TargetKind::Store;
  const std::size_t completedBeforeSource = readsArchive(workspace.mode()) ? 0 : 2;
  const fs::path destinationDirectory = workspace.destinationOf(failing).parent_path();
  const fs::path source = workspace.sourceOf(failing);

  Expectation expected;
  expected.completed = 2;
  expected.options.unprivileged = true;
  workspace.openToEveryone();
  switch (fault) {
    case Fault::FileSizeLimit:
      expected.options.unprivileged = false;
      expected.options.fileSizeLimit = kFileSizeLimit;
      expected.error = messages.writeFailed("File too large");
      break;
    case Fault::ReadError:
      // In the middle of the failing record's data: the records before it
      // are read whole, an existing destination too.
      expected.options.unprivileged = false;
      expected.options.environment = faultPointEnvironment(
          "RAZADEDEZUZEV_TEST_FAIL_READS_AFTER_BYTES",
          workspace.items()[kFirst].bytes.size() + workspace.items()[kExisting].bytes.size() +
              failing.bytes.size() / 2);
      expected.error = messages.readFailed("Input/output error");
      break;
    case Fault::UnwritableDestinationDirectory:
      fs::create_directories(destinationDirectory);
      setMode(destinationDirectory, kReadAndSearch);
      expected.error = messages.destinationFailed("Permission denied");
      break;
    case Fault::UncreatableDestinationDirectory:
      fs::create_directories(destinationDirectory.parent_path());
      setMode(destinationDirectory.parent_path(), kReadAndSearch);
      // A plain copy does not look at the directory's creation: the open
      // that follows fails and tells.
      expected.error = toStore ? messages.storageDirectoryFailed()
                               : messages.destinationFailed("No such file or directory");
      break;
    case Fault::UnreadableSource:
      setMode(source, fs::perms::none);
      expected.error = messages.sourceFailed("Permission denied");
      expected.completed = completedBeforeSource;
      break;
    case Fault::UnsearchableSourceDirectory:
      setMode(source.parent_path(), kReadAndWriteOnly);
      expected.error = messages.sourceFailed("Permission denied");
      expected.completed = completedBeforeSource;
      break;
    case Fault::SourceIsNotAFile:
      // A pipe with no writer: opening it for reading would wait for ever.
      expected.options.unprivileged = false;
      expected.options.timeoutSeconds = 20;
      fs::remove(source);
      ::mkfifo(source.c_str(), 0666);
      expected.error = messages.sourceFailed("Operation not supported");
      expected.completed = completedBeforeSource;
      break;
  }
  return expected;
}

class FaultInWritingMode : public ::testing::TestWithParam<std::tuple<WritingMode, Fault>> {};

TEST_P(FaultInWritingMode, StopsAtTheRecordReportsTheOnesBeforeAndChangesNothingElse) {
  const auto& [mode, fault] = GetParam();
  const Workspace workspace(mode, jobItems());
  const std::vector<Item>& items = workspace.items();
  writeFile(workspace.destinationOf(items[kExisting]), "was here before");
  ageFile(workspace.destinationOf(items[kExisting]));
  workspace.writeJob();
  const Expectation expected = arrange(fault, workspace);
  const TreeSnapshot before = snapshotTree(workspace.scratch().path());

  const RunResult run = runProgram({mode.word, workspace.job().string()}, workspace.job(),
                                   expected.options);

  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, expected.error + mode.failureLine);
  EXPECT_TRUE(run.outExists);
  EXPECT_EQ(run.out, workspace.resultLines(expected.completed));

  // Files that were there are unchanged; new ones are the completed copy
  // and, for a plain copy, the failing record's partial file.
  const fs::path first = workspace.destinationOf(items[kFirst]);
  const fs::path failed = workspace.destinationOf(items[kFailing]);
  std::set<fs::path> mayBeNew{workspace.job().string() + ".out", workspace.job().string() + ".err",
                              first};
  if (mode.target == TargetKind::Directory) mayBeNew.insert(failed);
  const TreeSnapshot after = snapshotTree(workspace.scratch().path());
  for (const auto& [path, state] : before) {
    ASSERT_TRUE(after.contains(path)) << path;
    EXPECT_TRUE(after.at(path) == state) << "changed: " << path;
  }
  for (const auto& [path, state] : after) {
    EXPECT_TRUE(before.contains(path) || mayBeNew.contains(path)) << "new: " << path;
  }

  if (expected.completed > 0) {
    EXPECT_EQ(readFile(first), items[kFirst].bytes);
  } else {
    EXPECT_FALSE(pathExists(first));
  }
  // A stored file is complete or absent; a plain copy that failed midway may
  // leave the bytes written up to the fault, and nothing else.
  if (after.contains(failed)) {
    EXPECT_EQ(mode.target, TargetKind::Directory);
    const std::string& partial = after.at(failed).bytes;
    EXPECT_LT(partial.size(), items[kFailing].bytes.size());
    EXPECT_TRUE(items[kFailing].bytes.starts_with(partial));
  }
  EXPECT_FALSE(pathExists(workspace.destinationOf(items[kNeverReached])));
}

INSTANTIATE_TEST_SUITE_P(
    EveryWritingMode, FaultInWritingMode,
    ::testing::Combine(::testing::ValuesIn(writingModes()),
                       ::testing::Values(Fault::FileSizeLimit, Fault::ReadError,
                                         Fault::UnwritableDestinationDirectory,
                                         Fault::UncreatableDestinationDirectory,
                                         Fault::UnreadableSource, Fault::UnsearchableSourceDirectory,
                                         Fault::SourceIsNotAFile)),
    [](const auto& info) {
      return testName(std::get<0>(info.param)) + "_" + nameOf(std::get<1>(info.param));
    });

// A run that has used up its file descriptors still tells why it failed: the
// message waits until the run's files are closed and the error file can be
// made. Standard input, output and error, the result file and the source (or
// the archive) leave no descriptor for the first record's destination.
class DescriptorLimit : public ::testing::TestWithParam<WritingMode> {};

TEST_P(DescriptorLimit, FailsAtTheFirstRecordWithTheCauseInTheErrorFile) {
  const WritingMode& mode = GetParam();
  const Workspace workspace(mode, jobItems());
  workspace.writeJob();
  const Item& first = workspace.items()[kFirst];
  RunOptions options;
  options.descriptorLimit = 5;

  const RunResult run = runProgram({mode.word, workspace.job().string()}, workspace.job(), options);

  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, Messages(workspace, first).destinationFailed("Too many open files") +
                         mode.failureLine);
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(pathExists(workspace.destinationOf(first)));
}

INSTANTIATE_TEST_SUITE_P(EveryWritingMode, DescriptorLimit, ::testing::ValuesIn(writingModes()),
                         [](const auto& info) { return testName(info.param); });

// The result file is limited like any other: lines that cannot all be
// written fail the run, although every copy was made.
class ResultFileLimit : public ::testing::TestWithParam<WritingMode> {};

TEST_P(ResultFileLimit, FailsTheRunWhenTheResultLinesDoNotFit) {
  const WritingMode& mode = GetParam();
  std::vector<Item> items;
  for (int n = 0; n < 100; ++n) {
    const std::string number = std::to_string(1000 + n);
    items.push_back({number + "abcd-4e11-8d3b-5a6f0c9e7d21", "f" + number, "content " + number});
  }
  const Workspace workspace(mode, items);
  workspace.writeJob();
  RunOptions options;
  options.fileSizeLimit = 4096;

  const RunResult run = runProgram({mode.word, workspace.job().string()}, workspace.job(), options);

  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "failed to write file: " + workspace.job().string() + ".out\n" + mode.failureLine);
  EXPECT_EQ(run.out.size(), 4096u);
  EXPECT_TRUE(workspace.resultLines(items.size()).starts_with(run.out));
  for (const Item& item : items) EXPECT_EQ(readFile(workspace.destinationOf(item)), item.bytes);
}

std::vector<WritingMode> modesWithResultLines() {
  std::vector<WritingMode> modes;
  for (const WritingMode& mode : writingModes()) {
    if (mode.writesResultLines) modes.push_back(mode);
  }
  return modes;
}

INSTANTIATE_TEST_SUITE_P(ModesWithResultLines, ResultFileLimit,
                         ::testing::ValuesIn(modesWithResultLines()),
                         [](const auto& info) { return testName(info.param); });

}  // namespace
