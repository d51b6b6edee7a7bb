// Every mode that writes files, run on a job whose third record meets a
// failing system: a file-size limit, a read error, places it may not write,
// a source it may not read or that is a pipe. Each run must stop at that
// record with exit code 2 and a message that names the cause, report exactly
// the records before it, and leave every file that was there before as it was.

#include <gtest/gtest.h>

#include <set>

#include "e2e/WritingModes.h"

namespace {

using namespace e2e;

const char* const kFaults[] = {"FileSizeLimit",     "EarlyFileSizeLimit", "ReadError",      "UnwritableTarget",
                               "UncreatableTarget", "UnreadableSource",   "SourceIsAPipe"};

// a.bin is copied, b.bin's destination exists already (and must stay as it
// is), c.bin meets the fault and d.bin is never reached. Only c.bin is larger
// than either file-size limit.
std::vector<Item> jobItems() {
  return {{"aaaa0001-4e11-8d3b-000000000001", "a.bin", randomBytes(70000, 1)},
          {"bbbb0002-4e11-8d3b-000000000002", "b.bin", randomBytes(1000, 2)},
          {"cccc0003-4e11-8d3b-000000000003", "sub/deeper/c.bin", randomBytes(3 << 19, 3)},
          {"dddd0004-4e11-8d3b-000000000004", "d.bin", randomBytes(5000, 4)}};
}

struct Expectation {
  RunOptions options;
  std::string error;          // the error file, without the mode's last line
  std::size_t completed = 2;  // records done before the fault
};

// The messages of a failing record, as each kind of mode words them: in a
// zip mode a failed write or read is a failed extraction too, whichever
// thread finds it.
std::string ioFailed(const Workspace& workspace, const Item& item, const char* call, const std::string& reason) {
  const bool zip = workspace.readsArchive();
  const bool read = call[0] == 'R';
  return call + std::string(zip ? " failed: " : read ? " failed" : " failed:") + reason + "\n\n" +
         (zip ? "extract failed\n" : read ? "SetSourceDataToBuffer failed\n" : "") + workspace.copyFailedLine(item);
}
std::string openFailed(const Workspace& workspace, const Item& item, const std::string& reason) {
  return "failed to open file: " + workspace.destinationOf(item).string() + ": " + reason + "\n\n" +
         workspace.copyFailedLine(item);
}
// For the zip modes the source is the archive, opened before any record.
std::string sourceFailed(const Workspace& workspace, const Item& item, const std::string& reason) {
  const std::string source = workspace.sourceOf(item).string();
  if (workspace.readsArchive()) {
    return "CreateFileW failed for " + source + ": " + reason + "\n\nfailed to open fileSetZipFilePath failed: " + source + "\n";
  }
  return "failed to open file: " + source + ": " + reason + "\n\nSetSourceFilePath failed: (from " + source +
         ", to " + workspace.destinationOf(item).string() + ")\n";
}

// Puts the fault in place for the failing record and says what the run must
// report. Faults of rights need a run without root's privileges.
Expectation arrange(const std::string& fault, const Workspace& workspace) {
  const Item& failing = workspace.items[2];
  const fs::path target = workspace.destinationOf(failing).parent_path();
  const fs::path source = workspace.sourceOf(failing);
  Expectation expected;
  workspace.openToEveryone();
  if (fault.ends_with("FileSizeLimit")) {
    // Past the limit by less than a buffer, an entry's failing write is
    // its last and is found at publication; far past it, the thread that
    // decompresses finds it with more to come.
    expected.options.fileSizeLimit = fault == "FileSizeLimit" ? 1 << 20 : 100000;
    expected.error = ioFailed(workspace, failing, "WriteFile", "File too large");
  } else if (fault == "ReadError") {
    // In the middle of the failing record's data, in its own file or in
    // the archive: no other file is that large, no other record's data
    // lies there, and the archive's directory lies beyond it.
    expected.options.environment =
        faultPointEnvironment("RAZADEDEZUZEV_TEST_FAIL_READS_AT_OFFSET", 71000 + failing.bytes.size() / 2);
    expected.error = ioFailed(workspace, failing, "ReadFile", "Input/output error");
  } else if (fault == "UnwritableTarget") {
    shell("mkdir -p " + quoted(target.string()) + " && chmod a-w " + quoted(target.string()));
    expected.error = openFailed(workspace, failing, "Permission denied");
  } else if (fault == "UncreatableTarget") {
    // A plain copy does not look at the directory's creation: the open that
    // follows fails and tells.
    shell("mkdir -p " + quoted(target.parent_path().string()) + " && chmod a-w " + quoted(target.parent_path().string()));
    expected.error = !workspace.mode.intoStore ? openFailed(workspace, failing, "No such file or directory")
                     : workspace.readsArchive()   ? "createDirectoryRecursively failed for" + target.string() + "/\n"
                                                  : "createDirectoryRecursively failed for " + target.string() + "/\n";
  } else if (fault == "UnreadableSource") {
    fs::permissions(source, fs::perms::owner_all);
    expected.error = sourceFailed(workspace, failing, "Permission denied");
  } else {  // a pipe with no writer: opening it for reading would wait for ever
    fs::remove(source);
    shell("mkfifo " + quoted(source.string()));
    expected.error = sourceFailed(workspace, failing, "Operation not supported");
  }
  // Faults of rights need a run without root's privileges.
  expected.options.unprivileged = fault.starts_with("Un");
  if (fault.find("Source") != std::string::npos) expected.completed = workspace.readsArchive() ? 0 : 2;
  return expected;
}

class FaultInWritingMode : public ::testing::TestWithParam<std::tuple<WritingMode, const char*>> {};

TEST_P(FaultInWritingMode, StopsAtTheRecordReportsTheOnesBeforeAndChangesNothingElse) {
  const auto& [mode, fault] = GetParam();
  const Workspace workspace(mode, jobItems());
  const std::vector<Item>& items = workspace.items;
  writeFile(workspace.destinationOf(items[1]), "was here before");
  ageFile(workspace.destinationOf(items[1]));
  workspace.writeJob();
  const Expectation expected = arrange(fault, workspace);
  const TreeSnapshot before = snapshotTree(workspace.dir.path());

  const RunResult run = workspace.run(expected.options);

  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, expected.error + mode.failureLine());
  EXPECT_EQ(run.out, workspace.resultLines(expected.completed));
  // Files that were there are unchanged; the only new ones are the
  // completed copy and the result and error files: a failed copy leaves no
  // destination and no temporary file, plain copies included.
  const fs::path first = workspace.destinationOf(items[0]);
  const std::set<fs::path> mayBeNew{workspace.job().string() + ".out", workspace.job().string() + ".err", first};
  const TreeSnapshot after = snapshotTree(workspace.dir.path());
  for (const auto& [path, state] : before) EXPECT_TRUE(after.contains(path) && after.at(path) == state) << path;
  for (const auto& [path, state] : after) EXPECT_TRUE(before.contains(path) || mayBeNew.contains(path)) << path;
  EXPECT_EQ(pathExists(first) ? readFile(first) : "", expected.completed > 0 ? items[0].bytes : "");
}

INSTANTIATE_TEST_SUITE_P(
    EveryWritingMode, FaultInWritingMode,
    ::testing::Combine(::testing::ValuesIn(writingModes()), ::testing::ValuesIn(kFaults)),
    [](const auto& info) { return std::string(std::get<0>(info.param).word) + "_" + std::get<1>(info.param); });

// Limits of the run itself: a run with few file descriptors copies within
// them, a run that has used them up still tells why it failed (the message
// waits until the error file can be made), and result lines that cannot
// all be written fail the run although every copy was made.
class RunLimits : public ::testing::TestWithParam<WritingMode> {};

TEST_P(RunLimits, NoDescriptorsOrNoRoomForResultsFailWithTheCause) {
  const WritingMode& mode = GetParam();
  const Workspace workspace(mode, jobItems());
  workspace.writeJob();
  RunOptions fewDescriptors;
  fewDescriptors.descriptorLimit = 5;  // none left for the first destination, nor for the job's directory
  EXPECT_EQ(workspace.run(fewDescriptors).outcome(),
            outcome(2, "", openFailed(workspace, workspace.items[0], "Too many open files") + mode.failureLine() +
                               "failed to write file: " + workspace.job().string() + ".out\n"));

  std::vector<Item> many;
  for (int n = 1000; n < 1100; ++n) many.push_back({std::to_string(n) + "abcd-4e11", "f" + std::to_string(n), "content"});
  const Workspace full(mode, many);
  full.writeJob();
  // The fewest descriptors that two threads copy with hold their copies in
  // flight and a batch waiting for its sync.
  RunOptions justEnough;
  justEnough.descriptorLimit = 64;
  EXPECT_EQ(full.run(justEnough).outcome(), outcome(0, full.resultLines(many.size()), ""));

  if (!mode.writesResultLines) return;
  RunOptions smallFiles;
  smallFiles.fileSizeLimit = 4096;
  const RunResult run = full.run(smallFiles);
  EXPECT_EQ(run.outcome(), outcome(2, full.resultLines(many.size()).substr(0, 4096),
                                   "failed to write file: " + full.job().string() + ".out\n" + mode.failureLine()));
  for (const Item& item : full.items) EXPECT_EQ(readFile(full.destinationOf(item)), item.bytes);
}

INSTANTIATE_TEST_SUITE_P(EveryWritingMode, RunLimits, ::testing::ValuesIn(writingModes()), testName);

}  // namespace
