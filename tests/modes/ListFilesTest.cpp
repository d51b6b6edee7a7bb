// list_files, run as a server runs it, also while another process changes
// the tree under it.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "support/TestSupport.h"

using namespace testsupport;

namespace {

std::vector<std::string> sortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

RunResult listFiles(const ScratchDir& dir, const std::string& dirPath, const RunOptions& options = {}) {
  return runJob("list_files", dir, line({"dir_path", dirPath}), options);
}

}  // namespace

TEST(ListFiles, ListsEveryFileDepthFirstWithItsSizeAndRelativePath) {
  ScratchDir dir;
  writeFile(dir / "tree/a.txt", "hello");
  writeFile(dir / "tree/.dotfile", "");
  writeFile(dir / "tree/sub/x.txt", "12345");
  writeFile(dir / "tree/sub/deeper/y", "1");
  writeFile(dir / "tree/\xE6\x97\xA5\xE6\x9C\xAC/\xC3\xA9.bin", "12");
  fs::create_directories(dir / "tree/empty");
  ASSERT_EQ(shell("truncate -s 4294967297 " + quoted((dir / "tree/big").string())), 0);
  std::vector<std::string> expected{"file\t0\t.dotfile", "file\t1\tsub" + sep() + "deeper" + sep() + "y",
                                    "file\t2\t\xE6\x97\xA5\xE6\x9C\xAC" + sep() + "\xC3\xA9.bin",
                                    "file\t4294967297\tbig", "file\t5\ta.txt", "file\t5\tsub" + sep() + "x.txt"};
  for (int n = 100; n < 400; ++n) {  // enough for the status queries to be shared between threads
    writeFile(dir / ("tree/many/" + std::to_string(n)), std::string(n % 7, 'x'));
    expected.push_back("file\t" + std::to_string(n % 7) + "\tmany" + sep() + std::to_string(n));
  }
  std::sort(expected.begin(), expected.end());
  for (const std::string& root : {dir.job("tree"), dir.job("tree") + "/", dir.job("tree") + "\\"}) {
    const RunResult run = listFiles(dir, root);
    EXPECT_EQ(run.exitCode, 0) << root;
    EXPECT_EQ(sortedLines(run.out), expected) << root;
    EXPECT_FALSE(run.errExists);
    // Depth first: the sub/ lines form one block, whatever the entry order.
    const std::size_t first = run.out.find("\tsub");
    EXPECT_EQ(run.out.substr(first, run.out.rfind("\tsub") - first).find("\ta.txt"), std::string::npos);
  }
}

TEST(ListFiles, ADirectoryThatCannotBeSearchedOrReadFailsWithItsPattern) {
  ScratchDir dir;
  const std::string notFound = "FindFirstFile failed (" + target().text(SystemError::PathNotFound) + ")\n";
  EXPECT_EQ(listFiles(dir, dir.job("nope")).outcome(),
            outcome(2, "", notFound + dir.job("nope") + sep() + "*\nExecuteListFiles failed\n"));
  EXPECT_EQ(runJob("list_files", dir, line({"other", "x"})).outcome(),
            outcome(2, "", "MultiByteToWideChar failed to get buffer size (" +
                               target().text(SystemError::InvalidArgument) + ")\n" + notFound + "*\nExecuteListFiles failed\n"));
  if (target().windows) return;
  // An unreadable subdirectory ends the walk after the lines already written.
  writeFile(dir / "data/a", "1");
  fs::create_directories(dir / "data/b");
  fs::permissions(dir / "data/b", fs::perms::owner_write);
  RunOptions asNobody;
  asNobody.unprivileged = true;
  const RunResult run = listFiles(dir, dir.job("data"), asNobody);
  EXPECT_TRUE(run.out == "" || run.out == "file\t1\ta\n") << run.out;
  EXPECT_EQ(std::to_string(run.exitCode) + run.err, "2FindFirstFile failed (Permission denied\n)\n" + dir.job("data") +
                                                       "/b/*\nExecuteListFiles failed\n");
}

// Links are followed but loops end; what is no file is not listed. A name
// that would break its result line, or that no job could name (a backslash,
// read as a separator in every job), is left out and reported; one that is
// not UTF-8 is listed byte for byte.
TEST(ListFilesOnPosix, FollowsLinksEndsLoopsAndLeavesOutWhatNoLineOrJobCouldCarry) {
  ScratchDir dir;
  writeFile(dir / "t/real/f", "123");
  writeFile(dir / "elsewhere/g", "4567");
  fs::create_directory_symlink(dir / "elsewhere", dir / "t/linked");
  fs::create_directory_symlink("..", dir / "t/real/up");   // loop to t
  fs::create_directory_symlink(".", dir / "t/real/self");  // loop to real
  fs::create_symlink(dir / "t/real/f", dir / "t/filelink");
  fs::create_symlink(dir / "missing", dir / "t/broken");
  ASSERT_EQ(shell("mkfifo " + quoted((dir / "t/fifo").string())), 0);
  for (const char* name : {"a\tb", "c\nd", "e\rf", "g\\h", "ok\xFF"}) writeFile(dir / "t" / name, "1");
  const RunResult run = listFiles(dir, dir.job("t"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(sortedLines(run.out), (std::vector<std::string>{"file\t1\tok\xFF", "file\t3\tfilelink", "file\t3\treal/f",
                                                            "file\t4\tlinked/g"}));
  for (const char* shown : {"a\\tb", "c\\nd", "e\\rf"}) {
    EXPECT_NE(run.err.find(std::string("left out \"") + shown + "\": a tab or a line end"), std::string::npos) << run.err;
  }
  EXPECT_NE(run.err.find("left out \"g\\\\h\": a job cannot name a file whose name holds a backslash\n"), std::string::npos);
}

// Depth and path length are bounded by memory only, descriptors by a small
// number, as for find: 1,500 levels, paths past 4,096 bytes, 64 descriptors.
TEST(ListFilesOnPosix, ListsATreeDeeperThanDescriptorsAndPathsAllow) {
  ScratchDir dir;
  ASSERT_EQ(shell("cd " + quoted(dir.path().string()) + " && python3 -c \"import os\nfor level in ['t'] + ['level'] * "
                  "1500: os.mkdir(level); os.chdir(level)\nopen('deepest', 'w').write('12345\\n')\""), 0);
  RunOptions fewDescriptors;
  fewDescriptors.descriptorLimit = 64;
  const RunResult run = listFiles(dir, dir.job("t"), fewDescriptors);
  std::string path;
  for (int i = 0; i < 1500; ++i) path += "level/";
  EXPECT_EQ(run.outcome(), outcome(0, "file\t6\t" + path + "deepest\n", ""));
}

// Files and directories coming and going never break a result line; a run
// may end at a directory in the instant it vanished, with its message.
TEST(ListFilesOnPosix, ATreeThatChangesDuringTheWalkGivesOnlyWholeLines) {
  ScratchDir dir;
  const std::string root = dir.job("tree");
  for (int d = 0; d < 20; ++d) {
    for (int f = 0; f < 50; ++f) writeFile(dir / ("tree/d" + std::to_string(d) + "/f" + std::to_string(f)), "x");
  }
  const std::string churn = "while :; do mkdir -p tree/churn/inner && echo 1 > tree/churn/inner/file && rm -r tree/churn; done";
  const pid_t churner = ::fork();
  if (churner == 0) ::_exit(::execl("/bin/sh", "sh", "-c", ("cd " + quoted(dir.path().string()) + " && " + churn).c_str(), nullptr));
  const std::regex vanished("FindFirstFile failed \\(No such file or directory\n\\)\n" + root +
                            "/churn[^\n]*\\*\nExecuteListFiles failed\n");
  int completed = 0;
  for (int run = 0; run < 20; ++run) {
    const RunResult result = listFiles(dir, root);
    EXPECT_TRUE(std::regex_match(result.out, std::regex("(file\t[0-9]+\t[^\t\n]+\n)*")));
    completed += result.exitCode == 0;
    EXPECT_TRUE(result.exitCode == 0 || std::regex_match(result.err, vanished)) << result.err;
  }
  ::kill(churner, SIGKILL);
  ::waitpid(churner, nullptr, 0);
  EXPECT_GT(completed, 0);
}
