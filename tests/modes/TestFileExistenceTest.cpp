#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace testsupport;

namespace {
std::string record(const std::string& uuid, const std::string& dir, const std::string& name) {
  return "file\t" + uuid + "\t" + dir + "\t" + name + "\t1\n";
}
}  // namespace

TEST(TestFileExistence, ReportsExistingRegularFilesOnlyInRecordOrder) {
  ScratchDir dir;
  writeFile(dir / "d/a.bin", "abc");
  writeFile(dir / "d/empty", "");
  writeFile(dir / "d/sub/x.txt", "12345");
  const std::string d = dir.str("d");
  const RunResult run = runJob("test_file_existence", dir,
                               record("u1", d, "a.bin") + record("u2", d, "missing") +
                                   record("u3", d + "/", "empty") + record("u4", d, "sub") +
                                   record("u5", d, "sub\\x.txt") + record("u1", d + "\\", "a.bin"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "file\tu1\t3\nfile\tu3\t0\nfile\tu5\t5\nfile\tu1\t3\n");
  EXPECT_FALSE(run.errExists);
}

TEST(TestFileExistence, EchoesNonAsciiAndInvalidUtf8UuidsByteForByte) {
  ScratchDir dir;
  writeFile(dir / "d/\xE6\x97\xA5.txt", "x");
  writeFile(dir / "d/\xFF", "yy");
  const RunResult run = runJob("test_file_existence", dir,
                               record("caf\xC3\xA9", dir.str("d"), "\xE6\x97\xA5.txt") +
                                   record("\xFE\xFF", dir.str("d"), "\xFF"));
  EXPECT_EQ(run.out, "file\tcaf\xC3\xA9\t1\nfile\t\xFE\xFF\t2\n");
}

TEST(TestFileExistence, ShortAndEmptyCellsAreReportedButDoNotStopTheRun) {
  ScratchDir dir;
  writeFile(dir / "d/a", "1");
  const RunResult run = runJob("test_file_existence", dir,
                               "file\tu1\t" + dir.str("d") + "\ta\t\n" +  // storage_type missing
                                   "file\t\t" + dir.str("d") + "\ta\t1\n");  // empty uuid
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "file\tu1\t1\nfile\t\t1\n");
  EXPECT_EQ(run.err,
            "invalid column index: storage_type\n"
            "MultiByteToWideChar failed to get buffer size (Invalid argument\n)\n"
            "MultiByteToWideChar failed to get buffer size (Invalid argument\n)\n"
            "WideCharToMultiByte failed to get buffer size (Invalid argument\n)\n");
}

TEST(TestFileExistence, FilesBeyond4GiBReportTheirFullSize) {
  ScratchDir dir;
  ASSERT_EQ(shell("truncate -s 5000000001 '" + dir.str("big") + "'"), 0);
  const RunResult run = runJob("test_file_existence", dir, record("big", dir.str(), "big"));
  EXPECT_EQ(run.out, "file\tbig\t5000000001\n");
}

TEST(TestFileExistence, AFileInAnUnsearchableDirectoryIsSimplyNotReported) {
  ScratchDir dir;
  writeFile(dir / "locked/a", "1");
  writeFile(dir / "open/b", "1");
  std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
  std::filesystem::permissions(dir / "open", std::filesystem::perms::all);
  RunOptions asNobody;
  asNobody.unprivileged = true;
  const RunResult run = runJob("test_file_existence", dir,
                               record("l", dir.str("locked"), "a") + record("o", dir.str("open"), "b"),
                               asNobody);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "file\to\t1\n");
  EXPECT_FALSE(run.errExists);
}
