// Every mode that writes files, run on a job whose third record meets a
// failing system: a file-size limit, a read error, places it may not write,
// sources it may not read. Each run must stop at that record with exit code 2
// and a message that names the cause, report exactly the records before it,
// and leave every file that was there before as it was.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <tuple>

#include "e2e/FaultPoint.h"
#include "e2e/WritingModes.h"

namespace {

using namespace testsupport;
using namespace e2e;

enum class Fault { FileSizeLimit, ReadError, UnwritableTarget, UncreatableTarget, UnreadableSource,
                   UnsearchableSource, SourceIsNotAFile };
const char* const kFaultNames[] = {"FileSizeLimit", "ReadError", "UnwritableTarget", "UncreatableTarget",
                                   "UnreadableSource", "UnsearchableSource", "SourceIsNotAFile"};
void PrintTo(Fault fault, std::ostream* stream) { *stream << kFaultNames[static_cast<int>(fault)]; }

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

// The messages of a failing record, as each kind of mode words them.
struct Messages {
  const Workspace& workspace;
  const Item& item;
  std::string source = workspace.sourceOf(item).string();
  std::string destination = workspace.destinationOf(item).string();

  std::string copyFailed() const {
    if (workspace.readsArchive()) return "file copy failed: " + destination + "\n";
    return "File Copy failed: (from " + source + ", to " + destination + ")\n";
  }
  std::string writeFailed(const std::string& reason) const {
    if (workspace.readsArchive()) return "WriteFile failed: " + reason + "\n\nextract failed\n" + copyFailed();
    return "WriteFile failed:" + reason + "\n\n" + copyFailed();
  }
  std::string readFailed(const std::string& reason) const {
    if (workspace.readsArchive()) return "ReadFile failed: " + reason + "\n\nextract failed\n" + copyFailed();
    return "ReadFile failed" + reason + "\n\nSetSourceDataToBuffer failed\n" + copyFailed();
  }
  std::string destinationFailed(const std::string& reason) const {
    return "failed to open file: " + destination + ": " + reason + "\n\n" + copyFailed();
  }
  // For the zip modes the source is the archive, opened before any record.
  std::string sourceFailed(const std::string& reason) const {
    if (workspace.readsArchive()) {
      return "CreateFileW failed for " + source + ": " + reason + "\n\nfailed to open fileSetZipFilePath failed: " +
             source + "\n";
    }
    return "failed to open file: " + source + ": " + reason + "\n\nSetSourceFilePath failed: (from " + source +
           ", to " + destination + ")\n";
  }
};

struct Expectation {
  RunOptions options;
  std::string error;          // the error file, without the mode's last line
  std::size_t completed = 2;  // records done before the fault
};

void setMode(const fs::path& path, fs::perms permissions) {
  fs::permissions(path, permissions, fs::perm_options::replace);
}
constexpr fs::perms kReadAndSearch = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;

// Puts the fault in place for the failing record and says what the run must
// report. Faults of rights need a run without root's privileges.
Expectation arrange(Fault fault, const Workspace& workspace) {
  const Item& failing = workspace.items()[kFailing];
  const Messages messages{workspace, failing};
  const fs::path target = workspace.destinationOf(failing).parent_path();
  const fs::path source = workspace.sourceOf(failing);
  const std::size_t completedBeforeSource = workspace.readsArchive() ? 0 : 2;
  Expectation expected;
  expected.options.unprivileged = true;
  workspace.openToEveryone();
  switch (fault) {
    case Fault::FileSizeLimit:
      expected.options = {};
      expected.options.fileSizeLimit = 1 << 20;
      expected.error = messages.writeFailed("File too large");
      break;
    case Fault::ReadError:
      // In the middle of the failing record's data: the records before it
      // (an existing destination too) and the job file are read whole.
      expected.options.environment = faultPointEnvironment(
          "RAZADEDEZUZEV_TEST_FAIL_READS_AFTER_BYTES",
          fs::file_size(workspace.job()) + 71000 + failing.bytes.size() / 2);
      expected.options.unprivileged = false;
      expected.error = messages.readFailed("Input/output error");
      break;
    case Fault::UnwritableTarget:
      fs::create_directories(target);
      setMode(target, kReadAndSearch);
      expected.error = messages.destinationFailed("Permission denied");
      break;
    case Fault::UncreatableTarget:
      fs::create_directories(target.parent_path());
      setMode(target.parent_path(), kReadAndSearch);
      // A plain copy does not look at the directory's creation: the open
      // that follows fails and tells.
      expected.error = workspace.mode().intoStore
                           ? std::string(workspace.readsArchive() ? "createDirectoryRecursively failed for"
                                                                  : "createDirectoryRecursively failed for ") +
                                 target.string() + "/\n"
                           : messages.destinationFailed("No such file or directory");
      break;
    case Fault::UnreadableSource:
    case Fault::UnsearchableSource:
      setMode(fault == Fault::UnreadableSource ? source : source.parent_path(), fs::perms::owner_all);
      expected.error = messages.sourceFailed("Permission denied");
      expected.completed = completedBeforeSource;
      break;
    case Fault::SourceIsNotAFile:
      // A pipe with no writer: opening it for reading would wait for ever.
      expected.options = {};
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

  const RunResult run = workspace.run(expected.options);

  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, expected.error + mode.failureLine);
  EXPECT_EQ(run.out, workspace.resultLines(expected.completed));
  // Files that were there are unchanged; new ones are the completed copy
  // and, for a plain copy, the failing record's partial file.
  const fs::path first = workspace.destinationOf(items[kFirst]);
  const fs::path failed = workspace.destinationOf(items[kFailing]);
  std::set<fs::path> mayBeNew{workspace.job().string() + ".out", workspace.job().string() + ".err", first};
  if (!mode.intoStore) mayBeNew.insert(failed);
  const TreeSnapshot after = snapshotTree(workspace.scratch().path());
  for (const auto& [path, state] : before) EXPECT_TRUE(after.contains(path) && after.at(path) == state) << path;
  for (const auto& [path, state] : after) EXPECT_TRUE(before.contains(path) || mayBeNew.contains(path)) << path;
  EXPECT_EQ(pathExists(first), expected.completed > 0);
  if (expected.completed > 0) {
    EXPECT_EQ(readFile(first), items[kFirst].bytes);
  }
  // A stored file is complete or absent; a plain copy that failed midway may
  // leave the bytes written up to the fault, and nothing else.
  if (after.contains(failed)) {
    EXPECT_FALSE(mode.intoStore);
    EXPECT_TRUE(items[kFailing].bytes.starts_with(after.at(failed).bytes));
  }
  EXPECT_FALSE(pathExists(workspace.destinationOf(items[kNeverReached])));
}

INSTANTIATE_TEST_SUITE_P(
    EveryWritingMode, FaultInWritingMode,
    ::testing::Combine(::testing::ValuesIn(writingModes()),
                       ::testing::Values(Fault::FileSizeLimit, Fault::ReadError, Fault::UnwritableTarget,
                                         Fault::UncreatableTarget, Fault::UnreadableSource,
                                         Fault::UnsearchableSource, Fault::SourceIsNotAFile)),
    [](const auto& info) {
      return testName(std::get<0>(info.param)) + "_" + kFaultNames[static_cast<int>(std::get<1>(info.param))];
    });

// Limits of the run itself: a run that has used up its file descriptors
// still tells why it failed (the message waits until the error file can be
// made), and result lines that cannot all be written fail the run although
// every copy was made.
class RunLimits : public ::testing::TestWithParam<WritingMode> {};

TEST_P(RunLimits, NoDescriptorsOrNoRoomForResultsFailWithTheCause) {
  const WritingMode& mode = GetParam();
  const Workspace workspace(mode, jobItems());
  workspace.writeJob();
  RunOptions fewDescriptors;
  fewDescriptors.descriptorLimit = 5;  // none left for the first destination
  const RunResult starved = workspace.run(fewDescriptors);
  EXPECT_EQ(starved.exitCode, 2);
  const Messages first{workspace, workspace.items()[kFirst]};
  EXPECT_EQ(starved.err, first.destinationFailed("Too many open files") + mode.failureLine);
  EXPECT_EQ(starved.out, "");
  EXPECT_FALSE(pathExists(workspace.destinationOf(workspace.items()[kFirst])));

  if (!mode.writesResultLines) return;
  std::vector<Item> many;
  for (int n = 0; n < 100; ++n) {
    const std::string number = std::to_string(1000 + n);
    many.push_back({number + "abcd-4e11-8d3b-5a6f0c9e7d21", "f" + number, "content " + number});
  }
  const Workspace full(mode, many);
  full.writeJob();
  RunOptions smallFiles;
  smallFiles.fileSizeLimit = 4096;
  const RunResult run = full.run(smallFiles);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "failed to write file: " + full.job().string() + ".out\n" + mode.failureLine);
  EXPECT_EQ(run.out.size(), 4096u);
  EXPECT_TRUE(full.resultLines(many.size()).starts_with(run.out));
  for (const Item& item : full.items()) EXPECT_EQ(readFile(full.destinationOf(item)), item.bytes);
}

INSTANTIATE_TEST_SUITE_P(EveryWritingMode, RunLimits, ::testing::ValuesIn(writingModes()),
                         [](const auto& info) { return testName(info.param); });

}  // namespace
