// The program as a server starts it: arguments, exit codes, the output and
// error files, loading the job file with its retry policy, and garbage input.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/TestSupport.h"

using namespace testsupport;

TEST(FrontEnd, BadArgumentsPrintOnStandardOutputAndTouchNothing) {
  ScratchDir dir;
  writeFile(dir / "job", line({"dir_path", dir.job()}));
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"list_files"}}) {
    const RunResult run = runProgram(args, {});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.stdoutText, "usage: razadedezuzev.exe <mode> <input file>\n");
  }
  for (const std::string word : {"LIST_FILES", "list_file", "list_files ", ""}) {
    const RunResult run = runProgram({word, dir.job("job")}, dir / "job");
    EXPECT_EQ(run.exitCode, 1) << word;
    EXPECT_EQ(run.stdoutText, "unknown mode: " + word + "\n");
    EXPECT_FALSE(run.outExists || run.errExists);
  }
}

TEST(FrontEnd, EveryModeWordRunsItsModeAndExtraArgumentsAreIgnored) {
  ScratchDir dir;
  writeFile(dir / "data/a", "abc");
  writeFile(dir / "job.txt", line({"dir_path", dir.job("data")}));
  const RunResult run = runProgram({"list_files", dir.job("job.txt"), "extra"}, dir / "job.txt");
  EXPECT_EQ(run.outcome() + run.stdoutText, outcome(0, "file\t3\ta\n", ""));
  // Without records or parameters each mode still runs: the modes that need
  // an archive or a directory fail with their own failure line.
  const std::pair<const char*, bool> modes[] = {  // (word, fails)
      {"batch_copy_to_resource_store", false}, {"batch_copy_to_resource_store_from_multiple_directories", false},
      {"test_file_existence", false}, {"batch_copy_from_resource_store", false}, {"extract_from_zip", true},
      {"extract_from_zip_to_resource_store", true}, {"list_zip_entry", true},
      {"list_zip_entry_with_first_block", true}, {"list_files", true}};
  for (const auto& [mode, fails] : modes) {
    const RunResult empty = runJob(mode, dir, "");
    EXPECT_EQ(empty.exitCode, fails ? 2 : 0) << mode;
    EXPECT_TRUE(empty.outExists && empty.out.empty() && empty.err.ends_with(fails ? failureLine(mode) : "")) << mode;
  }
}

TEST(FrontEnd, AJobFileThatCannotBeLoadedOrAnOutputThatCannotBeWrittenFailsTheRun) {
  ScratchDir dir;
  RunOptions noRetry;
  noRetry.environment["NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION"] = "0";
  const RunResult missing = runProgram({"list_files", dir.job("job")}, dir / "job", noRetry);
  EXPECT_EQ(missing.outcome(), outcome(2, "", "failed to open input file: " + dir.job("job") + "\n"));
  const RunResult malformed = runJob("list_files", dir, "a\tb\tc\n");
  EXPECT_EQ(malformed.outcome(), outcome(2, "", "input file format error"));
  EXPECT_FALSE(missing.outExists || malformed.outExists);

  fs::create_directory(dir / "job.out");  // cannot be opened as a file
  writeFile(dir / "job", line({"dir_path", dir.job()}));
  EXPECT_EQ(runProgram({"list_files", dir.job("job")}, dir / "job").outcome(),
            outcome(2, "", "failed to open file: " + dir.job("job") + ".out\n"));

  // Rows on a share: a job, a tree, a source or an archive on a share that is not there.
  if (const std::string absent = target().absentShare(); !absent.empty()) {
    EXPECT_EQ(runProgram({"list_files", absent + "\\job"}, {}, noRetry).exitCode, 2);
    const std::pair<const char*, std::string> jobs[] = {
        {"list_files", line({"dir_path", absent})},
        {"batch_copy_to_resource_store", line({"input_base_dir_path", absent}) + line({"file", "77ab0001", "a", dir.job("s"), "1"})},
        {"list_zip_entry", line({"zip_file_path", absent + "\\a.zip"})}};
    for (const auto& [mode, job] : jobs) {
      const RunResult run = runJob(mode, dir, job);
      EXPECT_EQ(std::to_string(run.exitCode) + run.out, "2") << mode;
      EXPECT_TRUE(run.err.ends_with(failureLine(mode))) << run.err;
    }
  }
}

// The job file appears some time after the start; whether the run finds it
// tells which open attempts the retry limit allowed (at 0, 1, 3, 7, ... s).
TEST(FrontEnd, RetriesOnlyWhileTheWaitStaysBelowTheLimit) {
  struct Case {
    const char* limit;
    int appearsAfterMs;
    bool found;
  };
  for (const Case& c : {Case{"0", 300, false}, Case{"2", 300, true}, Case{"2", 1800, false},
                        Case{"3", 1800, true}}) {
    ScratchDir dir;
    writeFile(dir / "data/x", "12");
    RunOptions options;
    options.environment["NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION"] = c.limit;
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(c.appearsAfterMs));
      writeFile(dir / "job.tmp", line({"dir_path", dir.job("data")}));
      fs::rename(dir / "job.tmp", dir / "job");
    });
    const RunResult run = runProgram({"list_files", dir.job("job")}, dir / "job", options);
    writer.join();
    EXPECT_EQ(std::to_string(run.exitCode) + run.out, c.found ? "0file\t2\tx\n" : "2") << c.limit << " " << c.appearsAfterMs;
  }
}
