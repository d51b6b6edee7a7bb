// list_files while another process changes the tree under it.

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "support/TestSupport.h"

using namespace testsupport;

namespace {

// Every line must be a whole result line; a failure must be the search
// failure of a directory that vanished or became unreadable.
void expectWellFormed(const RunResult& run, const std::string& root) {
  static const std::regex line("file\t[0-9]+\t[^\t\n]+\n");
  std::string rest = run.out;
  std::smatch match;
  while (!rest.empty()) {
    ASSERT_TRUE(std::regex_search(rest, match, line, std::regex_constants::match_continuous))
        << "bad output: " << rest.substr(0, 200);
    rest = match.suffix();
  }
  if (run.exitCode == 0) {
    EXPECT_FALSE(run.errExists) << run.err;
    return;
  }
  ASSERT_EQ(run.exitCode, 2) << run.err;
  const std::regex failure("FindFirstFile failed \\((No such file or directory|Permission denied)\n\\)\n" +
                           root + "/[^\n]*\\*\nExecuteListFiles failed\n");
  EXPECT_TRUE(std::regex_match(run.err, failure)) << run.err;
}

}  // namespace

TEST(ListFilesChurn, FilesAndDirectoriesComingAndGoingNeverBreakTheListing) {
  ScratchDir dir;
  const std::string root = dir.str("tree");
  for (int d = 0; d < 20; ++d) {
    for (int f = 0; f < 50; ++f) writeFile(dir / ("tree/d" + std::to_string(d) + "/f" + std::to_string(f)), "x");
  }
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    for (int i = 0; !stop; ++i) {
      const fs::path victim = dir / ("tree/churn" + std::to_string(i % 7));
      std::error_code ignored;
      fs::create_directories(victim / "inner", ignored);
      writeFile(victim / "inner/file", "12");
      writeFile(dir / ("tree/d" + std::to_string(i % 20) + "/new" + std::to_string(i)), "y");
      fs::remove_all(victim, ignored);
      fs::remove(dir / ("tree/d" + std::to_string((i + 10) % 20) + "/new" + std::to_string(i - 10)), ignored);
    }
  });
  int failures = 0;
  for (int run = 0; run < 30; ++run) {
    const RunResult result = runJob("list_files", dir, "dir_path\t" + root + "\n");
    expectWellFormed(result, root);
    if (result.exitCode != 0) ++failures;
  }
  stop = true;
  churn.join();
  // Most runs complete; some may meet a directory in the instant it vanished.
  EXPECT_LT(failures, 30);
}

TEST(ListFilesChurn, ADirectoryThatBecomesUnreadableEndsTheWalkWithItsMessage) {
  ScratchDir dir;
  const std::string root = dir.str("tree");
  for (int d = 0; d < 30; ++d) writeFile(dir / ("tree/d" + std::to_string(d) + "/f"), "x");
  shell("chmod -R a+rwX '" + root + "'");
  std::atomic<bool> stop{false};
  std::thread flipper([&] {
    for (int i = 0; !stop; ++i) {
      const fs::path target = dir / ("tree/d" + std::to_string(i % 30));
      fs::permissions(target, i % 2 ? fs::perms::all : fs::perms::owner_all);
    }
  });
  RunOptions asNobody;
  asNobody.unprivileged = true;
  for (int run = 0; run < 20; ++run) {
    expectWellFormed(runJob("list_files", dir, "dir_path\t" + root + "\n", asNobody), root);
  }
  stop = true;
  flipper.join();
}
