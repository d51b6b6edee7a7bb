// Every mode that writes files, crashed at many points of a long job (data
// and names that no sync reached are lost; see FaultPoint.cpp): after a
// given number of bytes written, right before and right after a file gets
// its name, and once the result file is synced. After every crash each destination is absent or whole, no
// other file is there, the one there before is untouched, the result lines
// that reached the result file name whole files, and running the job again
// completes it.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "e2e/WritingModes.h"

namespace {

using namespace e2e;

constexpr std::size_t kExisting = 8;

// Sizes around the copy chunk and up to a few MiB, about 6 MB in all; text
// that compresses, so that the archive holds deflated entries too.
std::vector<Item> jobItems() {
  const std::string text = "store copy entry kill uuid\n";
  std::string words;
  while (words.size() < (1 << 20)) words += text;
  const std::vector<std::string> contents = {
      "", "x", randomBytes(65535, 1), randomBytes(65536, 2), words.substr(0, 65537),
      randomBytes(300000, 4), words.substr(0, 1 << 20), randomBytes(1500007, 6),
      randomBytes(1000, 7), words.substr(0, 700000), randomBytes(2 << 20, 9), words.substr(0, 123)};
  std::vector<Item> items;  // spread over the fan-out directories
  for (std::size_t n = 0; n < contents.size(); ++n) {
    items.push_back({std::to_string(1000 + n * 811) + "c0de-4e11", "file" + std::to_string(n) + ".bin", contents[n]});
  }
  return items;
}

class CrashedRun : public ::testing::TestWithParam<WritingMode> {
 protected:
  Workspace workspace{GetParam(), jobItems()};
  const std::vector<Item>& items = workspace.items;
  fs::path existingFile = workspace.destinationOf(items[kExisting]);
  FileState existingState;
  fs::path targets = workspace.dir / (GetParam().intoStore ? "store" : "out");

  // No destination but the file an earlier job made.
  void resetTargets() {
    fs::remove_all(targets);
    writeFile(existingFile, "stored by an earlier job");
    ageFile(existingFile);
    existingState = FileState{readFile(existingFile), fs::last_write_time(existingFile)};
  }

  // Every file among the destinations is a whole one of the job, or the one
  // made earlier, unchanged. A hidden temporary file (where the file system
  // has no unnamed ones) is tolerated. Returns the count of destinations.
  std::size_t checkTargets() const {
    std::map<fs::path, const Item*> itemByPath;
    for (const Item& item : items) itemByPath[workspace.destinationOf(item)] = &item;
    std::size_t stored = 0;
    for (const auto& entry : fs::recursive_directory_iterator(targets)) {
      if (entry.is_directory() || entry.path().filename().string().starts_with(".razadedezuzev-")) continue;
      const auto found = itemByPath.find(entry.path());
      const bool whole = entry.path() == existingFile
                             ? FileState{readFile(entry.path()), entry.last_write_time()} == existingState
                             : found != itemByPath.end() && readFile(entry.path()) == found->second->bytes;
      EXPECT_TRUE(whole) << "not a whole destination of the job: " << entry.path();
      ++stored;
    }
    return stored;
  }
};

TEST_P(CrashedRun, LeavesEveryDestinationWholeOrAbsentAndARerunCompletesTheJob) {
  workspace.writeJob();
  const fs::path job = workspace.job();
  const std::string allLines = workspace.resultLines(items.size());
  std::uint64_t bytesToStore = 0;
  for (std::size_t n = 0; n < items.size(); ++n) bytesToStore += n == kExisting ? 0 : items[n].bytes.size();
  // Moments spread evenly over the bytes the job writes, and around the
  // naming of the first, a middle and the last file.
  std::vector<std::pair<std::string, std::uint64_t>> points;
  for (int n = 0; n < 14; ++n) points.emplace_back("RAZADEDEZUZEV_TEST_KILL_AFTER_BYTES", bytesToStore * (2 * n + 1) / 28);
  for (const std::uint64_t link : {std::uint64_t{1}, (items.size() - 1) / 2, items.size() - 1}) {
    points.emplace_back("RAZADEDEZUZEV_TEST_KILL_BEFORE_LINK", link);
    points.emplace_back("RAZADEDEZUZEV_TEST_KILL_AFTER_LINK", link);
  }
  points.emplace_back("RAZADEDEZUZEV_TEST_KILL_AFTER_RESULTS_SYNC", 1);  // all reported

  for (const auto& [setting, value] : points) {
    SCOPED_TRACE(setting + "=" + std::to_string(value));
    resetTargets();
    fs::remove(job.string() + ".out");
    RunOptions options;
    options.environment = faultPointEnvironment(setting, value);
    options.descriptorLimit = 36;  // batches of 10 files: names wait for the next batch's sync
    const RunResult killed = workspace.run(options);
    ASSERT_EQ(killed.exitCode, 128 + SIGKILL) << killed.err;
    checkTargets();
    // Result lines that reached the file are whole and name whole files.
    EXPECT_TRUE(allLines.starts_with(killed.out)) << killed.out;
    for (std::size_t n = 0; n < items.size() && GetParam().writesResultLines &&
                            workspace.resultLines(n + 1).size() <= killed.out.size(); ++n) {
      EXPECT_TRUE(pathExists(workspace.destinationOf(items[n]))) << items[n].uuid;
    }
    EXPECT_EQ(workspace.run().outcome(), outcome(0, allLines, ""));
    EXPECT_EQ(checkTargets(), items.size());
    if (HasFailure()) break;  // one broken point tells enough
  }
}

std::vector<fs::path> temporaryFiles(const fs::path& root) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().filename().string().starts_with(".razadedezuzev-")) found.push_back(entry.path());
  }
  return found;
}

// The name of a temporary file with another writer: `host` (16 hex digits,
// or empty for the writer's own) and process id.
fs::path otherWriter(const fs::path& temporary, const std::string& host, long processId) {
  const std::string name = temporary.filename().string();  // .razadedezuzev-HOST-PID-...
  const std::size_t hostStart = name.find('-') + 1, pidStart = name.find('-', hostStart) + 1;
  const std::size_t pidEnd = name.find('-', pidStart);
  return temporary.parent_path() / (name.substr(0, hostStart) + (host.empty() ? name.substr(hostStart, pidStart - hostStart - 1) : host) +
                                    "-" + std::to_string(processId) + name.substr(pidEnd));
}

// Where the file system has no unnamed files, a killed run leaves hidden
// temporary files; the next run removes them from the directories it
// writes to, but never one whose writer may still be at work: a live
// process of this host, or a process of another host that touched it
// within the day.
TEST_P(CrashedRun, ARerunRemovesTheTemporaryFilesOfAKilledRunButNoneALiveProcessMayWrite) {
  workspace.writeJob();
  resetTargets();
  // Directories of earlier runs: a crash takes new, unsynced ones away with
  // the temporary files in them.
  for (const Item& item : items) fs::create_directories(workspace.destinationOf(item).parent_path());
  RunOptions options;
  options.environment = faultPointEnvironment("RAZADEDEZUZEV_TEST_NO_UNNAMED_FILES", 1);
  options.environment["RAZADEDEZUZEV_TEST_KILL_AFTER_LINK"] = std::to_string(items.size() / 2);
  options.descriptorLimit = 36;  // batches of 10: temporaries of published and unpublished copies
  ASSERT_EQ(workspace.run(options).exitCode, 128 + SIGKILL);
  const std::vector<fs::path> left = temporaryFiles(targets);
  ASSERT_FALSE(left.empty());
  const fs::path live = otherWriter(left[0], "", ::getpid());
  const fs::path elsewhere = otherWriter(left[0], "0123456789abcdef", 1);
  const fs::path abandoned = otherWriter(left[0], "fedcba9876543210", 1);
  for (const fs::path& planted : {live, elsewhere, abandoned}) writeFile(planted, "being written");
  fs::last_write_time(abandoned, fs::file_time_type::clock::now() - std::chrono::hours(25));

  options.environment.erase("RAZADEDEZUZEV_TEST_KILL_AFTER_LINK");
  EXPECT_EQ(workspace.run(options).outcome(), outcome(0, workspace.resultLines(items.size()), ""));
  std::vector<fs::path> expected = {live, elsewhere};
  std::vector<fs::path> remaining = temporaryFiles(targets);
  std::sort(expected.begin(), expected.end());
  std::sort(remaining.begin(), remaining.end());
  EXPECT_EQ(remaining, expected);
  EXPECT_EQ(checkTargets(), items.size());
}

INSTANTIATE_TEST_SUITE_P(EveryWritingMode, CrashedRun, ::testing::ValuesIn(writingModes()),
                         testName);

}  // namespace
