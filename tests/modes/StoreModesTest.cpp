// The modes of the resource store and test_file_existence, run as the
// server runs them: the built program on a job file and real files.

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

using namespace testsupport;

constexpr const char* kToStore = "batch_copy_to_resource_store";
constexpr const char* kFromStore = "batch_copy_from_resource_store";
constexpr const char* kUuidA = "9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21";
constexpr const char* kUuidB = "0c7e55aa-1111-4e11-8d3b-000000000002";
const std::string kEmptyCell = "MultiByteToWideChar failed to get buffer size (" +
                               target().text(SystemError::InvalidArgument) + ")\n";

// Where the layout puts a stored file, written out independently of the code.
fs::path storedPath(const fs::path& root, const std::string& uuid, int storageType = 1) {
  fs::path directory = root / uuid.substr(0, 2) / uuid.substr(2, 2);
  if (storageType == 3) directory /= uuid.substr(4, 2);
  return directory / uuid;
}

std::string resultLine(const std::string& uuid, const fs::path& source) {
  return testsupport::resultLine(uuid, fs::file_size(source), md5Hex(source));
}

class StoreJob : public ::testing::Test {
 protected:
  ScratchDir dir;
  fs::path in = dir / "in";
  fs::path store = dir / "store";
  fs::path out = dir / "sub/out";

  std::string record(const std::string& uuid, const std::string& name, int type = 1) {
    return line({"file", uuid, name, jobPath(store), std::to_string(type)});
  }
  std::string inputBase() { return line({"input_base_dir_path", jobPath(in)}); }
  std::string outputBase() { return line({"output_base_dir_path", jobPath(out)}); }
};

TEST_F(StoreJob, StoresFilesInBothLayoutsAndCopiesThemBackOutLeavingExistingFilesAsTheyAre) {
  writeFile(in / "empty", "");
  writeFile(in / "sub/dir/big.bin", randomBytes(5 * 1024 * 1024 + 3, 2));
  writeFile(dir / "one/x.txt", "from one");
  writeFile(storedPath(store, "77ab0002"), "stored earlier");
  writeFile(out / "taken", "copied earlier");
  const RunResult run = runJob(kToStore, dir, inputBase() + record(kUuidA, "empty", 1) +
                                                  record(kUuidB, "sub/dir/big.bin", 3) + record("77ab0002", "empty"));
  EXPECT_EQ(run.outcome(), outcome(0, resultLine(kUuidA, in / "empty") + resultLine(kUuidB, in / "sub/dir/big.bin") +
                                          resultLine("77ab0002", in / "empty"), ""));
  EXPECT_EQ(readFile(storedPath(store, kUuidB, 3)), readFile(in / "sub/dir/big.bin"));
  EXPECT_EQ(readFile(storedPath(store, kUuidA)) + readFile(storedPath(store, "77ab0002")), "stored earlier");

  // The second mode takes each record's own directory; the base is ignored.
  const std::string root = jobPath(store) + sep();  // a root ending in a separator
  const RunResult multi = runJob("batch_copy_to_resource_store_from_multiple_directories", dir,
                                 inputBase() + line({"file", "77ab01cd", jobPath(dir / "one"), "x.txt", root, "1"}));
  EXPECT_EQ(multi.outcome(), outcome(0, resultLine("77ab01cd", dir / "one/x.txt"), ""));
  EXPECT_EQ(readFile(storedPath(store, "77ab01cd")), "from one");

  const RunResult back = runJob(kFromStore, dir, outputBase() + record(kUuidA, "deep/er/a", 1) +
                                                     record(kUuidB, "b.bin", 3) + record(kUuidB, "taken", 3));
  EXPECT_EQ(back.outcome(), outcome(0, "", ""));
  EXPECT_EQ(readFile(out / "deep/er/a") + readFile(out / "taken"), "copied earlier");
  EXPECT_EQ(readFile(out / "b.bin"), readFile(in / "sub/dir/big.bin"));
}

// Records that the layout cannot place: nothing is read or written, one line
// names the value, and the mode fails.
TEST_F(StoreJob, RecordsTheLayoutCannotPlaceFailTheMode) {
  writeFile(in / "a", "a");
  struct Case {
    std::string uuid, root, type, message;
  };
  const std::string storeRoot = jobPath(store);
  const Case cases[] = {
      {"abcdef", storeRoot, "three", "invalid storage_type \"three\" for uuid \"abcdef\"\n"},
      {"abcdef", storeRoot, "", "invalid column index: storage_type\n" + kEmptyCell +
                                    "invalid storage_type \"\" for uuid \"abcdef\"\n"},
      {"abc", storeRoot, "3", "uuid \"abc\" is too short for storage_type \"3\" (the store layout needs 6 characters)\n"},
      {"abcdef", "", "1", kEmptyCell + "empty private_resource_dir_path for uuid \"abcdef\"\n"},
      // A uuid that would place the file elsewhere, out of the store even.
      {"..//x", jobPath(dir / "deep/er/store"), "1", "invalid uuid \"..//x\": not a file name\n"},
      {"ab..cdef", storeRoot, "3", "invalid uuid \"ab..cdef\": not a file name\n"},
  };
  for (const Case& c : cases) {
    for (const auto& [mode, base] : {std::pair{kToStore, inputBase()}, {kFromStore, outputBase()}}) {
      EXPECT_EQ(runJob(mode, dir, base + line({"file", c.uuid, "a", c.root, c.type})).outcome(),
                outcome(2, "", c.message + failureLine(mode)));
    }
    EXPECT_FALSE(pathExists(store) || pathExists(out / "a"));
  }
}

// Names the job gives below a base directory stay below it, whichever
// separator they use: nothing is opened for one that would leave it.
TEST_F(StoreJob, ANameThatWouldLeaveItsBaseDirectoryFailsTheRecord) {
  writeFile(dir / "secret.conf", "outside the input directory");
  writeFile(in / "..\\secret.conf", "a name an uploader chose");
  const std::pair<std::string, std::string> cases[] = {
      {kToStore, inputBase() + record("aaaa0001", "..\\secret.conf")},
      {kToStore, inputBase() + record("aaaa0001", "/etc/hostname")},
      {kFromStore, outputBase() + record(kUuidA, "..\\..\\escaped.txt")},
      {kFromStore, outputBase() + record(kUuidA, "C:escaped.txt")}};
  for (const auto& [mode, job] : cases) {
    const RunResult run = runJob(mode, dir, job);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.starts_with("file_name \"") && run.err.find("\" leaves its base directory\n") != std::string::npos) << run.err;
  }
  EXPECT_FALSE(pathExists(store) || pathExists(dir / "escaped.txt"));
}

// A job of more records than the program holds at once (it reads such a
// job again as it goes) is stored and copied back in record order. Most
// records find their destination there already, so that few files are made.
TEST_F(StoreJob, AJobLargerThanItsRecordsHeldAtOnceIsDoneInRecordOrder) {
  const int count = 17 * 1024 + 5;
  const char* const names[] = {"a", "b", "c"};
  for (const char* name : names) writeFile(in / name, name + std::string(name[0] - 'a', '.'));
  std::string into, back, lines, digests[3];
  for (int k = 0; k < 3; ++k) digests[k] = md5Hex(in / names[k]);
  for (int n = 0; n < count; ++n) {
    const std::string uuid = "u" + std::to_string(1000 + n % 50), name = names[n % 3];
    into += record(uuid, name);
    back += record(uuid, "c/" + std::to_string(n % 50));
    // An existing stored file stays; the line tells of the record's source.
    lines += testsupport::resultLine(uuid, n % 3 + 1, digests[n % 3]);
  }
  EXPECT_EQ(runJob(kToStore, dir, inputBase() + into).outcome(), outcome(0, lines, ""));
  EXPECT_EQ(runJob(kFromStore, dir, outputBase() + back).outcome(), outcome(0, "", ""));
  EXPECT_EQ(readFile(out / "c/49"), "b.");  // record 49's source, the first to store u1049
}

TEST(TestFileExistence, ReportsExistingRegularFilesInRecordOrder) {
  ScratchDir dir;
  writeFile(dir / "d/a.bin", "abc");
  writeFile(dir / "d/empty", "");
  writeFile(dir / "d/sub/x.txt", "12345");
  writeFile(dir / "d/\xE6\x97\xA5.txt", "x");
  ASSERT_EQ(shell("truncate -s 5000000001 " + quoted((dir / "d/big").string())), 0);  // past 32 bits
  const std::string d = dir.job("d");
  const auto record = [](const std::string& uuid, const std::string& directory, const std::string& name) {
    return line({"file", uuid, directory, name, "1"});
  };
  const RunResult run = runJob("test_file_existence", dir,
                               record("u1", d, "a.bin") + record("u2", d, "missing") +
                                   record("u3", d + "/", "empty") + record("u4", d, "sub") +
                                   record("u5", d, "sub\\x.txt") + record("u1", d + "\\", "a.bin") +
                                   record("caf\xC3\xA9", d, "\xE6\x97\xA5.txt") + record("u6", d, "big") +
                                   "file\t\t" + d + "\ta.bin\t\n");  // empty uuid, no storage_type
  EXPECT_EQ(run.outcome(), outcome(0, "file\tu1\t3\nfile\tu3\t0\nfile\tu5\t5\nfile\tu1\t3\nfile\tcaf\xC3\xA9\t1\nfile\tu6\t5000000001\nfile\t\t3\n",
                                   kEmptyCell + "invalid column index: storage_type\n" + kEmptyCell +
                                       "WideCharToMultiByte failed to get buffer size (" +
                                       target().text(SystemError::InvalidArgument) + ")\n"));
}

}  // namespace
