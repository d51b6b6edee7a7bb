// Every mode that writes files, run on a job whose third record meets a
// failing system: a file-size limit, a read error, places it may not write,
// a source it may not read or that is a pipe. Each run must stop at that
// record with exit code 2 and a message that names the cause, report exactly
// the records before it, and leave every file that was there before as it was.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <tuple>

#include "e2e/FaultPoint.h"
#include "e2e/WritingModes.h"

namespace {

using namespace testsupport;
using namespace e2e;

enum class Fault { FileSizeLimit, ReadError, UnwritableTarget, UncreatableTarget, UnreadableSource, SourceIsAPipe };
const char* const kFaultNames[] = {"FileSizeLimit", "ReadError", "UnwritableTarget", "UncreatableTarget",
                                   "UnreadableSource", "SourceIsAPipe"};

// a.bin is copied, b.bin's destination exists already (and must stay as it
// is), c.bin meets the fault and d.bin is never reached. Only c.bin is larger
// than the file-size limit.
std::vector<Item> jobItems() {
  return {{"aaaa0001-4e11-8d3b-000000000001", "a.bin", randomBytes(70000, 1)},
          {"bbbb0002-4e11-8d3b-000000000002", "b.bin", randomBytes(1000, 2)},
          {"cccc0003-4e11-8d3b-000000000003", "sub/deeper/c.bin", randomBytes(3 << 20, 3)},
          {"dddd0004-4e11-8d3b-000000000004", "d.bin", randomBytes(5000, 4)}};
}

// The messages of a record that fails, as each kind of mode words them.
struct Messages {
  bool zip;
  std::string source, destination;
  Messages(const Workspace& workspace, const Item& item)
      : zip(workspace.readsArchive()),
        source(workspace.sourceOf(item).string()),
        destination(workspace.destinationOf(item).string()) {}

  std::string copyFailed() const {
    return zip ? "file copy failed: " + destination + "\n"
               : "File Copy failed: (from " + source + ", to " + destination + ")\n";
  }
  std::string ioFailed(const char* call, const std::string& reason) const {
    const std::string prefix = std::string(call) + (zip ? " failed: " : call[0] == 'W' ? " failed:" : " failed");
    return prefix + reason + "\n\n" + (zip ? "extract failed\n" : call[0] == 'R' ? "SetSourceDataToBuffer failed\n" : "") +
           copyFailed();
  }
  std::string destinationFailed(const std::string& reason) const {
    return "failed to open file: " + destination + ": " + reason + "\n\n" + copyFailed();
  }
  // For the zip modes the source is the archive, opened before any record.
  std::string sourceFailed(const std::string& reason) const {
    if (zip) return "CreateFileW failed for " + source + ": " + reason + "\n\nfailed to open fileSetZipFilePath failed: " + source + "\n";
    return "failed to open file: " + source + ": " + reason + "\n\nSetSourceFilePath failed: (from " + source +
           ", to " + destination + ")\n";
  }
};

struct Expectation {
  RunOptions options;
  std::string error;          // the error file, without the mode's last line
  std::size_t completed = 2;  // records done before the fault
};

// Puts the fault in place for the failing record and says what the run must
// report. Faults of rights need a run without root's privileges.
Expectation arrange(Fault fault, const Workspace& workspace) {
  const Item& failing = workspace.items()[2];
  const Messages messages(workspace, failing);
  const fs::path target = workspace.destinationOf(failing).parent_path();
  const fs::path source = workspace.sourceOf(failing);
  const fs::perms readOnly = fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
  Expectation expected;
  expected.options.unprivileged = true;
  workspace.openToEveryone();
  switch (fault) {
    case Fault::FileSizeLimit:
      expected.options = {};
      expected.options.fileSizeLimit = 1 << 20;
      expected.error = messages.ioFailed("WriteFile", "File too large");
      break;
    case Fault::ReadError:
      // In the middle of the failing record's data: the records before it
      // (an existing destination too) and the job file are read whole.
      expected.options = {};
      expected.options.environment = faultPointEnvironment(
          "RAZADEDEZUZEV_TEST_FAIL_READS_AFTER_BYTES", fs::file_size(workspace.job()) + 71000 + failing.bytes.size() / 2);
      expected.error = messages.ioFailed("ReadFile", "Input/output error");
      break;
    case Fault::UnwritableTarget:
      fs::create_directories(target);
      fs::permissions(target, readOnly);
      expected.error = messages.destinationFailed("Permission denied");
      break;
    case Fault::UncreatableTarget:
      // A plain copy does not look at the directory's creation: the open
      // that follows fails and tells.
      fs::create_directories(target.parent_path());
      fs::permissions(target.parent_path(), readOnly);
      expected.error = !workspace.mode().intoStore ? messages.destinationFailed("No such file or directory")
                       : workspace.readsArchive()   ? "createDirectoryRecursively failed for" + target.string() + "/\n"
                                                    : "createDirectoryRecursively failed for " + target.string() + "/\n";
      break;
    case Fault::UnreadableSource:
    case Fault::SourceIsAPipe:
      if (fault == Fault::UnreadableSource) {
        fs::permissions(source, fs::perms::owner_all);
      } else {  // with no writer: opening it for reading would wait for ever
        expected.options = {};
        fs::remove(source);
        ::mkfifo(source.c_str(), 0666);
      }
      expected.error = messages.sourceFailed(fault == Fault::UnreadableSource ? "Permission denied" : "Operation not supported");
      expected.completed = workspace.readsArchive() ? 0 : 2;
      break;
  }
  return expected;
}

class FaultInWritingMode : public ::testing::TestWithParam<std::tuple<WritingMode, Fault>> {};

TEST_P(FaultInWritingMode, StopsAtTheRecordReportsTheOnesBeforeAndChangesNothingElse) {
  const auto& [mode, fault] = GetParam();
  const Workspace workspace(mode, jobItems());
  const std::vector<Item>& items = workspace.items();
  writeFile(workspace.destinationOf(items[1]), "was here before");
  ageFile(workspace.destinationOf(items[1]));
  workspace.writeJob();
  const Expectation expected = arrange(fault, workspace);
  const TreeSnapshot before = snapshotTree(workspace.scratch().path());

  const RunResult run = workspace.run(expected.options);

  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, expected.error + mode.failureLine);
  EXPECT_EQ(run.out, workspace.resultLines(expected.completed));
  // Files that were there are unchanged; the only new ones are the
  // completed copy and the result and error files: a failed copy leaves no
  // destination and no temporary file, plain copies included.
  const fs::path first = workspace.destinationOf(items[0]);
  const std::set<fs::path> mayBeNew{workspace.job().string() + ".out", workspace.job().string() + ".err", first};
  const TreeSnapshot after = snapshotTree(workspace.scratch().path());
  for (const auto& [path, state] : before) EXPECT_TRUE(after.contains(path) && after.at(path) == state) << path;
  for (const auto& [path, state] : after) EXPECT_TRUE(before.contains(path) || mayBeNew.contains(path)) << path;
  EXPECT_EQ(pathExists(first) ? readFile(first) : "", expected.completed > 0 ? items[0].bytes : "");
}

INSTANTIATE_TEST_SUITE_P(
    EveryWritingMode, FaultInWritingMode,
    ::testing::Combine(::testing::ValuesIn(writingModes()),
                       ::testing::Values(Fault::FileSizeLimit, Fault::ReadError, Fault::UnwritableTarget,
                                         Fault::UncreatableTarget, Fault::UnreadableSource, Fault::SourceIsAPipe)),
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
  EXPECT_EQ(starved.err, Messages(workspace, workspace.items()[0]).destinationFailed("Too many open files") +
                             mode.failureLine);
  EXPECT_EQ(starved.out, "");

  if (!mode.writesResultLines) return;
  std::vector<Item> many;
  for (int n = 1000; n < 1100; ++n) many.push_back({std::to_string(n) + "abcd-4e11", "f" + std::to_string(n), "content"});
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
