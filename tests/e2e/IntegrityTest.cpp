// Nothing is reported, named or left behind that is not whole: file systems
// that tell of a failed write only when a file is synced or closed, file
// systems without hard links, damaged archive entries, and names that are
// taken by something that is not a regular file.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "e2e/WritingModes.h"

namespace {

using namespace e2e;

// A process with a thread that has not ended: a killed process whose first
// thread is gone shows as a zombie while another waits in the kernel.
bool running(int process) {
  std::error_code error;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(process) + "/task", error)) {
    const std::string stat = readFile(task.path() / "stat");
    const std::size_t end = stat.rfind(')');
    if (end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z') return true;
  }
  return false;
}

std::vector<Item> twoItems() {
  return {{"aaaa0001-1111", "small.bin", "small"}, {"bbbb0002-2222", "large.bin", randomBytes(1000000, 5)}};
}

// The writing modes with their destinations on a FUSE file system: mounted
// over the workspace's store and out directories.
class OnUserSpaceFileSystem : public ::testing::TestWithParam<WritingMode> {
 protected:
  Workspace workspace{GetParam(), twoItems()};
  fs::path targets = workspace.dir / (GetParam().intoStore ? "store" : "out");
  fs::path backing = workspace.dir / "backing";
};

// File systems that fail late: one that takes every write but reports the
// quota when the file is synced or closed, and one that cannot give the name
// (EIO). The second record fails, nothing of it remains, and the first is
// published and reported.
TEST_P(OnUserSpaceFileSystem, AFailureAtSyncOrNamingFailsTheRecordAndLeavesNothing) {
  workspace.writeJob();
  const Item& failed = workspace.items[1];
  const std::string destination = workspace.destinationOf(failed).string();
  const std::pair<std::string, std::string> cases[] = {
      {"--quota 100000", "failed to sync file: " + destination + ": Disk quota exceeded\n"},
      {"--eio " + workspace.destinationOf(failed).filename().string(),
       "failed to publish file: " + destination + ": Input/output error\n"}};
  for (const auto& [options, message] : cases) {
    fs::remove_all(backing);
    {
      const FaultFileSystem failing(backing, targets, options);
      ASSERT_TRUE(failing.mounted());
      EXPECT_EQ(workspace.run().outcome(), outcome(2, workspace.resultLines(1), message + "\n" + workspace.copyFailedLine(failed) +
                                                                                     GetParam().failureLine()));
      EXPECT_EQ(readFile(workspace.destinationOf(workspace.items[0])), "small");
    }
    EXPECT_EQ(snapshotTree(backing).size(), 1u) << options;
  }
}

// Without hard links, publication falls back to a rename that never
// replaces, or to creating the name exclusively and copying into it; the
// temporary file goes even where a removal right after its close is refused
// for a moment (SMB through FUSE).
TEST_P(OnUserSpaceFileSystem, FilesArePublishedWholeWithoutHardLinks) {
  workspace.writeJob();
  const FaultFileSystem noLinks(backing, targets, "--no-link --busy-unlink");
  ASSERT_TRUE(noLinks.mounted());
  EXPECT_EQ(workspace.run().outcome(), outcome(0, workspace.resultLines(2), ""));
  for (const Item& item : workspace.items) EXPECT_EQ(readFile(workspace.destinationOf(item)), item.bytes);
  EXPECT_EQ(snapshotTree(backing).size(), 2u);
}

// Where only a sync of each directory makes names durable, the names of
// every batch are synced before their lines: a crash right after the result
// file is synced loses no reported file (batches of one file here).
TEST_P(OnUserSpaceFileSystem, NoReportedFileIsLostToACrashAfterTheResultsAreSynced) {
  workspace.writeJob();
  const FaultFileSystem plain(backing, targets, "");
  ASSERT_TRUE(plain.mounted());
  RunOptions options;
  options.environment = faultPointEnvironment("RAZADEDEZUZEV_TEST_KILL_AFTER_RESULTS_SYNC", 1);
  options.descriptorLimit = 18;
  EXPECT_EQ(workspace.run(options).outcome(), outcome(128 + SIGKILL, workspace.resultLines(2), ""));
  for (const Item& item : workspace.items) EXPECT_EQ(readFile(workspace.destinationOf(item)), item.bytes);
}

// A file system that stops answering holds the run's call in the kernel,
// where no signal ends it; the caller is answered once no call has returned
// for the stall time, while the worker waits. When the file system lets it
// go, the worker ends (it was killed) and nothing of the job has a name.
TEST(StalledFileSystem, TheCallerIsAnsweredAtTheStallTimeWhileTheFileSystemHoldsTheRun) {
  const WritingMode& mode = writingModes()[0];
  Workspace workspace{mode, twoItems()};
  const fs::path targets = workspace.dir / "store", backing = workspace.dir / "backing";
  workspace.writeJob();
  const FaultFileSystem stalled(backing, targets, "--hang-sync 8");
  ASSERT_TRUE(stalled.mounted());
  RunOptions options;
  options.environment = {{"NUV_RAZADEDEZUZEV_STALL_SECONDS", "2"}};
  const auto start = std::chrono::steady_clock::now();
  const RunResult run = workspace.run(options);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 2.0);
  EXPECT_LT(seconds, 6.0);  // the stall time, a watcher's tick, the start
  EXPECT_EQ(run.exitCode, 2);
  const std::string given = "no file system call of the run returned for 2 s: a file system stopped answering; "
                            "the run is given up (its worker process ";
  ASSERT_TRUE(run.err.starts_with(given)) << run.err;
  EXPECT_TRUE(run.err.ends_with(" ends when the file system lets it go)\n" + mode.failureLine())) << run.err;
  EXPECT_EQ(run.out, "");
  const int worker = std::stoi(run.err.substr(given.size()));
  EXPECT_TRUE(running(worker)) << "the worker ended while its call was held";
  // The server goes: the held call fails, the worker ends.
  stalled.kill();
  for (int wait = 0; wait < 100 && running(worker); ++wait) shell("sleep 0.05");
  EXPECT_FALSE(running(worker)) << "the worker outlived its call";
  for (const Item& item : workspace.items) EXPECT_FALSE(pathExists(backing / workspace.destinationOf(item).lexically_relative(targets)));
}

// A name taken by what is not a regular file is no copy made earlier.
TEST_P(OnUserSpaceFileSystem, ANameTakenByAnythingButARegularFileFailsTheRecord) {
  workspace.writeJob();
  const fs::path taken = workspace.destinationOf(workspace.items[1]);
  fs::create_directories(taken.parent_path());
  for (const char* take : {"mkdir", "mkfifo", "ln -s nowhere", "python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])'"}) {
    std::error_code ignored;
    fs::remove(taken, ignored);
    ASSERT_EQ(shell(std::string(take) + " " + quoted(taken.string())), 0);
    const RunResult run = workspace.run();
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.starts_with("destination is not a regular file: " + taken.string() + "\n")) << run.err;
    EXPECT_EQ(run.out, workspace.resultLines(1));
    fs::remove(workspace.destinationOf(workspace.items[0]));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWritingMode, OnUserSpaceFileSystem, ::testing::ValuesIn(writingModes()),
                         testName);

// An entry whose data the engine finds damaged, cut short or locked is never
// published in either extraction mode: the record fails after the engine's
// message, and the records before it stand.
TEST(DamagedEntries, AreNeverPublishedOrReported) {
  ScratchDir dir;
  struct Case {
    fs::path archive;
    std::string good, damaged, message;
  };
  const Case cases[] = {
      {makeArchive(dir, "crc_error"), "good.txt", "damaged.txt", "extract failed: CRC error\n"},
      {makeArchive(dir, "truncated"), "good.txt", "cut.txt", "extract failed: data error\n"},
      {makeArchive(dir, "zipcrypto"), "", "secret.bin", "extract failed: unknown error\n"},
      {makeArchive(dir, "aes"), "", "secret.bin", "extract failed: unknown error\n"},
  };
  for (const Case& c : cases) {
    for (const bool intoStore : {false, true}) {
      fs::remove_all(dir / "out");
      std::string job = zipParameter(c.archive) + line({"output_base_dir_path", dir.job("out")});
      const auto record = [&](const char* uuid, const std::string& name) {
        return intoStore ? line({"file", uuid, name, name, dir.job("out"), "1"}) : line({"file", uuid, name, name});
      };
      if (!c.good.empty()) job += record("aaaa0001", c.good);
      job += record("bbbb0002", c.damaged);
      const std::string mode = intoStore ? "extract_from_zip_to_resource_store" : "extract_from_zip";
      const RunResult run = runJob(mode, dir, job);
      const std::string destination =
          dir.job("out") + sep() + (intoStore ? "bb" + sep() + "bb" + sep() + "bbbb0002" : c.damaged);
      EXPECT_EQ(run.outcome(), outcome(2, c.good.empty() ? "" : resultLine("aaaa0001", 5, md5OfBytes("good\n")),
                                       c.message + "file copy failed: " + destination + "\n" + failureLine(mode)));
      EXPECT_FALSE(pathExists(destination));
      EXPECT_EQ(pathExists(dir / "out") ? snapshotTree(dir / "out").size() : 0u, c.good.empty() ? 0u : 1u);
    }
  }
}

// An entry whose status cannot be read (here: EIO from the file system) is
// no missing file: test_file_existence and list_files stop with the
// system's text instead of leaving it out.
TEST(UnreadableStatus, IsAnErrorNotAnAbsence) {
  ScratchDir dir;
  writeFile(dir / "backing/a.txt", "12");
  writeFile(dir / "backing/bad.txt", "x");
  writeFile(dir / "backing/sub/bad/x", "x");
  const FaultFileSystem failing(dir / "backing", dir / "mnt", "--eio bad.txt bad");
  ASSERT_TRUE(failing.mounted());
  // More records than the program holds at once, shared by two threads:
  // what comes back is still in record order, messages included, and ends
  // where the unreadable one stands. A directory missing up to the root is
  // absence.
  std::string job, lines, messages;
  for (int n = 0; n < 20000; ++n) {
    const std::string uuid = n % 1100 == 7 ? "" : "u" + std::to_string(n);
    job += line({"file", uuid, n % 3 == 0 ? "/razadedezuzev-missing-root/d" : dir.job("mnt"), "a.txt", "1"});
    const bool listed = n % 3 != 0;
    for (const char* conversion : {"MultiByteToWideChar", listed ? "WideCharToMultiByte" : nullptr}) {
      if (uuid.empty() && conversion != nullptr) {
        messages += std::string(conversion) + " failed to get buffer size (" + target().text(SystemError::InvalidArgument) + ")\n";
      }
    }
    if (listed) lines += "file\t" + uuid + "\t2\n";
  }
  job += line({"file", "u-bad", dir.job("mnt"), "bad.txt", "1"}) + line({"file", "u-last", dir.job("mnt"), "a.txt", "1"});
  const RunResult exists = runJob("test_file_existence", dir, job);
  EXPECT_EQ(exists.outcome(), outcome(2, lines, messages + "failed to get status of file: " + dir.job("mnt/bad.txt") +
                                                    ": Input/output error\n\nTestFileExistence failed\n"));
  for (const char* root : {"mnt", "mnt/sub"}) {
    const RunResult listing = runJob("list_files", dir, line({"dir_path", dir.job(root)}));
    EXPECT_EQ(listing.exitCode, 2);
    EXPECT_TRUE(listing.err.starts_with("failed to get status of file: " + dir.job(root) + "/bad")) << listing.err;
    EXPECT_TRUE(listing.err.ends_with(": Input/output error\n\nExecuteListFiles failed\n")) << listing.err;
  }
}

// A job path that names a directory, or a file whose size is mostly holes,
// ends in the outcome of a job that cannot be opened or holds no valid line.
TEST(JobFile, ADirectoryOrAHugeSparseFileEndsCleanly) {
  ScratchDir dir;
  fs::create_directory(dir / "job");
  RunOptions noRetry;
  noRetry.environment["NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION"] = "0";
  EXPECT_EQ(runProgram({"test_file_existence", dir.job("job")}, dir / "job", noRetry).outcome(),
            outcome(2, "", "failed to open input file: " + dir.job("job") + "\n"));
  fs::remove(dir / "job");
  ASSERT_EQ(shell("truncate -s 64G " + quoted((dir / "job").string())), 0);
  EXPECT_EQ(runProgram({"test_file_existence", dir.job("job")}, dir / "job").outcome(),
            outcome(2, "", "input file format error, # of column must be > 2"));
}

}  // namespace
