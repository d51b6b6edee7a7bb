// The program as a server starts it: arguments, exit codes, the output and
// error files, loading the job file with its retry policy, and garbage input.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/TestSupport.h"

using namespace testsupport;

TEST(FrontEnd, MissingArgumentsPrintUsageAndTouchNothing) {
  ScratchDir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"list_files"}}) {
    const RunResult run = runProgram(args, {});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.stdoutText, "usage: razadedezuzev.exe <mode> <input file>\n");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(FrontEnd, UnknownModeWordsAreRejectedExactly) {
  ScratchDir dir;
  writeFile(dir / "job", "dir_path\t" + dir.str() + "\n");
  for (const std::string word : {"LIST_FILES", "list_file", "list_files ", ""}) {
    const RunResult run = runProgram({word, dir.str("job")}, dir / "job");
    EXPECT_EQ(run.exitCode, 1) << word;
    EXPECT_EQ(run.stdoutText, "unknown mode: " + word + "\n");
    EXPECT_FALSE(run.outExists || run.errExists);
  }
}

TEST(FrontEnd, ExtraArgumentsAreIgnoredAndOutputLandsNextToTheJob) {
  ScratchDir dir;
  writeFile(dir / "data/a", "abc");
  writeFile(dir / "job.txt", "dir_path\t" + dir.str("data") + "\n");
  const RunResult run = runProgram({"list_files", dir.str("job.txt"), "extra"}, dir / "job.txt");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.stdoutText, "");
  EXPECT_EQ(run.out, "file\t3\ta\n");
  EXPECT_FALSE(run.errExists);
}

TEST(FrontEnd, EveryModeWordIsRecognised) {
  ScratchDir dir;
  for (const std::string mode :
       {"batch_copy_to_resource_store", "batch_copy_to_resource_store_from_multiple_directories",
        "test_file_existence", "batch_copy_from_resource_store", "extract_from_zip",
        "extract_from_zip_to_resource_store", "list_zip_entry", "list_zip_entry_with_first_block",
        "list_files"}) {
    const RunResult run = runJob(mode, dir, "");
    EXPECT_NE(run.exitCode, 1) << mode;
    EXPECT_TRUE(run.outExists) << mode;
    EXPECT_EQ(run.stdoutText, "") << mode;
  }
}

TEST(FrontEnd, AFailingHandlerKeepsItsLinesAndEndsWithTheModesFailureLine) {
  ScratchDir dir;
  writeFile(dir / "data/a", "1");
  std::filesystem::create_directories(dir / "data/b");
  std::filesystem::permissions(dir / "data/b", std::filesystem::perms::owner_write);
  std::filesystem::permissions(dir / "data", std::filesystem::perms::all);
  RunOptions asNobody;
  asNobody.unprivileged = true;
  const RunResult run = runJob("list_files", dir, "dir_path\t" + dir.str("data") + "\n", asNobody);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "FindFirstFile failed (Permission denied\n)\n" + dir.str("data") +
                         "/b/*\nExecuteListFiles failed\n");
}

TEST(FrontEnd, AJobFileThatCannotBeLoadedLeavesNoOutputFile) {
  ScratchDir dir;
  RunOptions noRetry;
  noRetry.environment["NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION"] = "0";
  const RunResult missing = runProgram({"list_files", dir.str("job")}, dir / "job", noRetry);
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.err, "failed to open input file: " + dir.str("job") + "\n");
  EXPECT_FALSE(missing.outExists);

  const RunResult malformed = runJob("list_files", dir, "a\tb\tc\n");
  EXPECT_EQ(malformed.exitCode, 2);
  EXPECT_EQ(malformed.err, "input file format error");
  EXPECT_FALSE(malformed.outExists);
}

TEST(FrontEnd, AnUnwritableOutputFileFailsTheRun) {
  ScratchDir dir;
  writeFile(dir / "job", "dir_path\t" + dir.str() + "\n");
  std::filesystem::create_directory(dir / "job.out");  // cannot be opened as a file
  const RunResult run = runProgram({"list_files", dir.str("job")}, dir / "job");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "failed to open file: " + dir.str("job") + ".out\n");
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
      writeFile(dir / "job.tmp", "dir_path\t" + dir.str("data") + "\n");
      std::filesystem::rename(dir / "job.tmp", dir / "job");
    });
    const RunResult run = runProgram({"list_files", dir.str("job")}, dir / "job", options);
    writer.join();
    const std::string context = std::string("limit ") + c.limit;
    if (c.found) {
      EXPECT_EQ(run.exitCode, 0) << context << run.err;
      EXPECT_EQ(run.out, "file\t2\tx\n") << context;
    } else {
      EXPECT_EQ(run.exitCode, 2) << context;
      EXPECT_EQ(run.err, "failed to open input file: " + dir.str("job") + "\n") << context;
    }
  }
}

// Whatever bytes the job file holds, the run ends with a known code, never a
// crash: the runner's timeout would turn a hang into a failure too.
TEST(FrontEnd, GarbageJobFilesEndCleanly) {
  ScratchDir dir;
  std::vector<std::string> inputs;
  for (std::uint32_t seed = 1; seed <= 12; ++seed) inputs.push_back(randomBytes(seed * 997, seed));
  inputs.push_back(std::string(5000, '\0'));
  inputs.push_back("file\t" + std::string(3 << 20, 'a') + "\n");             // a 3 MB line
  inputs.push_back("file\t" + std::string(3 << 20, '\t') + "\n");            // 3 MB of tabs
  inputs.push_back("dir_path\t\xFF\xFE\xC3(\n");                             // invalid UTF-8
  inputs.push_back("file\t\xED\xA0\x80\t\xC0\xAF\tx\t1\n");
  for (const char* mode : {"test_file_existence", "list_files"}) {
    for (const std::string& input : inputs) {
      const RunResult run = runJob(mode, dir, input);
      EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 2) << mode << " exit " << run.exitCode;
    }
  }
}
