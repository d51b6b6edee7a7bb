#include <gtest/gtest.h>

#include <algorithm>
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
  return runJob("list_files", dir, "dir_path\t" + dirPath + "\n", options);
}

}  // namespace

TEST(ListFiles, ListsEveryFileWithItsSizeAndRelativePath) {
  ScratchDir dir;
  writeFile(dir / "tree/a.txt", "hello");
  writeFile(dir / "tree/.dotfile", "");
  writeFile(dir / "tree/sub/x.txt", "12345");
  writeFile(dir / "tree/sub/deeper/y", "1");
  writeFile(dir / "tree/\xE6\x97\xA5\xE6\x9C\xAC/\xFF.bin", "12");
  std::filesystem::create_directories(dir / "tree/empty");
  const std::vector<std::string> expected{"file\t0\t.dotfile", "file\t1\tsub/deeper/y",
                                          "file\t2\t\xE6\x97\xA5\xE6\x9C\xAC/\xFF.bin",
                                          "file\t5\ta.txt", "file\t5\tsub/x.txt"};
  for (const std::string& root : {dir.str("tree"), dir.str("tree") + "/", dir.str("tree") + "\\"}) {
    const RunResult run = listFiles(dir, root);
    EXPECT_EQ(run.exitCode, 0) << root;
    EXPECT_EQ(sortedLines(run.out), expected) << root;
    EXPECT_FALSE(run.errExists);
  }
}

TEST(ListFiles, ASubdirectorysEntriesComeWhereItWasMet) {
  ScratchDir dir;
  writeFile(dir / "t/sub/one", "1");
  writeFile(dir / "t/sub/two", "2");
  writeFile(dir / "t/sub/inner/three", "3");
  writeFile(dir / "t/top", "4");
  const RunResult run = listFiles(dir, dir.str("t"));
  // Depth first: the sub/ lines form one block, whatever the order of entries.
  const std::string out = run.out;
  const std::size_t first = out.find("\tsub/");
  const std::size_t last = out.rfind("\tsub/");
  EXPECT_EQ(out.substr(first, last - first).find("\ttop"), std::string::npos) << out;
}

TEST(ListFiles, EmptyDirectoryGivesNoLineAndSuccess) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "empty");
  const RunResult run = listFiles(dir, dir.str("empty"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
}

TEST(ListFiles, AMissingDirectoryFailsWithTheSearchPattern) {
  ScratchDir dir;
  const RunResult run = listFiles(dir, dir.str("nope"));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "FindFirstFile failed (No such file or directory\n)\n" + dir.str("nope") +
                         "/*\nExecuteListFiles failed\n");
}

TEST(ListFiles, AMissingOrEmptyDirPathFailsInsteadOfListingTheCurrentDirectory) {
  ScratchDir dir;
  const RunResult run = runJob("list_files", dir, "other\tx\n");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err,
            "MultiByteToWideChar failed to get buffer size (Invalid argument\n)\n"
            "FindFirstFile failed (No such file or directory\n)\n*\nExecuteListFiles failed\n");
}

TEST(ListFiles, FollowsLinksButEndsLinkLoops) {
  ScratchDir dir;
  writeFile(dir / "t/real/f", "123");
  writeFile(dir / "elsewhere/g", "4567");
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "t/linked");
  std::filesystem::create_directory_symlink("..", dir / "t/real/up");      // loop to t
  std::filesystem::create_directory_symlink(".", dir / "t/real/self");     // loop to real
  std::filesystem::create_symlink(dir / "t/real/f", dir / "t/filelink");
  std::filesystem::create_symlink(dir / "missing", dir / "t/broken");
  const RunResult run = listFiles(dir, dir.str("t"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(sortedLines(run.out),
            (std::vector<std::string>{"file\t3\tfilelink", "file\t3\treal/f", "file\t4\tlinked/g"}));
}

TEST(ListFiles, FilesBeyond4GiBAreListedWithTheirFullSize) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "t");
  ASSERT_EQ(shell("truncate -s 4294967297 '" + dir.str("t/big") + "'"), 0);
  EXPECT_EQ(listFiles(dir, dir.str("t")).out, "file\t4294967297\tbig\n");
}

TEST(ListFiles, OtherKindsOfEntriesAreNotFiles) {
  ScratchDir dir;
  writeFile(dir / "t/plain", "1");
  ASSERT_EQ(shell("mkfifo '" + dir.str("t/fifo") + "'"), 0);
  EXPECT_EQ(listFiles(dir, dir.str("t")).out, "file\t1\tplain\n");
}
