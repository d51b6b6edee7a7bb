// The modes that write into the store, killed with SIGKILL at many points of
// a long job: after a given number of bytes written, and right before and
// right after a stored file gets its name. After every kill each stored file
// is absent or whole, no other file is in the store, the one stored before is
// untouched, the result lines written are those of stored files, and running
// the job again completes it.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>

#include "e2e/FaultPoint.h"
#include "e2e/WritingModes.h"

namespace {

using namespace testsupport;
using namespace e2e;

// A moment of the run, as FaultPoint.cpp reads it from the environment.
struct KillPoint {
  std::string setting;
  std::uint64_t value;
};

constexpr int kByteKillPoints = 14;
constexpr std::size_t kExisting = 8;
const std::string kStoredEarlier = "stored by an earlier job";

// Text that compresses, so that the archive holds deflated entries too.
std::string wordText(std::size_t size, std::uint32_t seed) {
  const std::string random = randomBytes(size, seed);
  static const char* const kWords[] = {"store ", "copy ", "entry ", "kill ", "uuid\n"};
  std::string text;
  for (std::size_t n = 0; text.size() < size; ++n) {
    text += kWords[static_cast<unsigned char>(random[n % size]) % 5];
  }
  text.resize(size);
  return text;
}

// Sizes around the copy chunk and up to a few MiB, about 6 MB in all.
std::vector<Item> jobItems() {
  const std::vector<std::string> contents = {
      "", "x", randomBytes(65535, 1), randomBytes(65536, 2), wordText(65537, 3),
      randomBytes(300000, 4), wordText(1 << 20, 5), randomBytes(1500007, 6),
      randomBytes(1000, 7), wordText(700000, 8), randomBytes(2 << 20, 9), wordText(123, 10)};
  std::vector<Item> items;
  for (std::size_t n = 0; n < contents.size(); ++n) {
    char uuid[64];
    std::snprintf(uuid, sizeof uuid, "%02zx%02zxc0de-4e11-8d3b-5a6f0c9e7d%02zu", n * 17, (n * 29) % 256, n);
    items.push_back({uuid, "file" + std::to_string(n) + ".bin", contents[n]});
  }
  return items;
}

class KilledStoreRun : public ::testing::TestWithParam<WritingMode> {
 protected:
  Workspace workspace{GetParam(), jobItems()};
  const std::vector<Item>& items = workspace.items();
  fs::path existingFile = workspace.destinationOf(items[kExisting]);
  FileState existingState;

  // An empty store but for the file stored by an earlier job.
  void resetStore() {
    fs::remove_all(workspace.scratch() / "store");
    writeFile(existingFile, kStoredEarlier);
    ageFile(existingFile);
    existingState = FileState{kStoredEarlier, fs::last_write_time(existingFile)};
  }

  std::uint64_t bytesToStore() const {
    std::uint64_t total = 0;
    for (std::size_t n = 0; n < items.size(); ++n) total += n == kExisting ? 0 : items[n].bytes.size();
    return total;
  }

  // Every file in the store is a stored file of the job, whole, or the one
  // stored earlier, unchanged. A temporary file that has a name (where the
  // file system has no unnamed ones) is hidden and never under a final
  // name; it is tolerated. Returns how many stored files there are.
  std::size_t checkStore() const {
    std::map<fs::path, const Item*> itemByPath;
    for (const Item& item : items) itemByPath[workspace.destinationOf(item)] = &item;
    std::size_t stored = 0;
    for (const auto& entry : fs::recursive_directory_iterator(workspace.scratch() / "store")) {
      if (entry.is_directory()) continue;
      const fs::path& path = entry.path();
      if (path.filename().string().starts_with(".razadedezuzev-")) continue;
      const auto found = itemByPath.find(path);
      if (found == itemByPath.end()) {
        ADD_FAILURE() << "not a stored file of the job: " << path;
        continue;
      }
      ++stored;
      if (path == existingFile) {
        EXPECT_TRUE((FileState{readFile(path), entry.last_write_time()} == existingState))
            << "changed: " << path;
      } else {
        EXPECT_TRUE(readFile(path) == found->second->bytes) << "not whole: " << path;
      }
    }
    return stored;
  }

  // Moments spread evenly over the bytes that the job writes, and around the
  // publication of stored files.
  std::vector<KillPoint> killPoints() const {
    std::vector<KillPoint> points;
    for (int n = 0; n < kByteKillPoints; ++n) {
      points.push_back({"RAZADEDEZUZEV_TEST_KILL_AFTER_BYTES",
                        bytesToStore() * (2 * n + 1) / (2 * kByteKillPoints)});
    }
    // The first, a middle and the last stored file to be published.
    const std::uint64_t published = items.size() - 1;
    for (const std::uint64_t link : {std::uint64_t{1}, published / 2, published}) {
      points.push_back({"RAZADEDEZUZEV_TEST_KILL_BEFORE_LINK", link});
      points.push_back({"RAZADEDEZUZEV_TEST_KILL_AFTER_LINK", link});
    }
    return points;
  }

  // Runs the job to be killed at `point`; the exit status of the shell that
  // ran it, 128 + the signal's number when it was killed.
  int runKilledAt(const KillPoint& point) const {
    const fs::path job = workspace.job();
    fs::remove(job.string() + ".out");
    fs::remove(job.string() + ".err");
    std::string command = "env";
    for (const auto& [name, value] : faultPointEnvironment(point.setting, point.value)) {
      command += " " + name + "='" + value + "'";
    }
    // The shell's own "Killed" goes to /dev/null with the rest.
    return shell("{ " + command + " '" + RAZADEDEZUZEV_BINARY + "' " + workspace.mode().word + " '" +
                 job.string() + "'; } > /dev/null 2>&1");
  }
};

TEST_P(KilledStoreRun, LeavesStoredFilesWholeOrAbsentAndARerunCompletesTheJob) {
  const WritingMode& mode = GetParam();
  workspace.writeJob();
  const fs::path job = workspace.job();
  const std::string allLines = workspace.resultLines(items.size());
  const fs::path out = job.string() + ".out";

  for (const KillPoint& point : killPoints()) {
    SCOPED_TRACE(point.setting + "=" + std::to_string(point.value));
    resetStore();

    ASSERT_EQ(runKilledAt(point), 128 + SIGKILL);
    checkStore();
    // Result lines that reached the file are whole and name stored files.
    const std::string lines = pathExists(out) ? readFile(out) : "";
    EXPECT_TRUE(allLines.starts_with(lines)) << lines;
    for (std::size_t n = 0; n < items.size(); ++n) {
      if (workspace.resultLines(n + 1).size() <= lines.size()) {
        EXPECT_TRUE(pathExists(workspace.destinationOf(items[n]))) << items[n].uuid;
      }
    }
    EXPECT_FALSE(pathExists(job.string() + ".err")) << readFile(job.string() + ".err");

    const RunResult rerun = runProgram({mode.word, job.string()}, job);
    EXPECT_EQ(rerun.exitCode, 0);
    EXPECT_FALSE(rerun.errExists) << rerun.err;
    EXPECT_EQ(rerun.out, allLines);
    EXPECT_EQ(checkStore(), items.size());
    if (HasFailure()) break;  // one broken point tells enough
  }
}

INSTANTIATE_TEST_SUITE_P(StoreWritingModes, KilledStoreRun, ::testing::ValuesIn(storeWritingModes()),
                         [](const auto& info) { return testName(info.param); });

}  // namespace
