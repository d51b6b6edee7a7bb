// The three batch copy modes of the resource store, run as the server runs
// them: the built program on a job file and real files.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace {

using namespace testsupport;

constexpr const char* kToStore = "batch_copy_to_resource_store";
constexpr const char* kToStoreFromDirectories = "batch_copy_to_resource_store_from_multiple_directories";
constexpr const char* kFromStore = "batch_copy_from_resource_store";
constexpr const char* kUuidA = "9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21";
constexpr const char* kUuidB = "0c7e55aa-1111-4e11-8d3b-000000000002";
constexpr const char* kUuidC = "77ab01cd-2222-4e11-8d3b-000000000003";
constexpr const char* kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

std::string line(const std::vector<std::string>& fields) {
  std::string text;
  for (const std::string& field : fields) text += (text.empty() ? "" : "\t") + field;
  return text + "\n";
}

// Where the layout puts a stored file, written out independently of the code.
fs::path storedPath(const fs::path& root, const std::string& uuid, int storageType) {
  fs::path directory = root / uuid.substr(0, 2) / uuid.substr(2, 2);
  if (storageType == 3) directory /= uuid.substr(4, 2);
  return directory / uuid;
}

std::string resultLine(const std::string& uuid, const fs::path& source) {
  return line({"file", uuid, std::to_string(fs::file_size(source)), md5Hex(source)});
}

class StoreJob : public ::testing::Test {
 protected:
  ScratchDir dir;
  fs::path in = dir / "in";
  fs::path store = dir / "store";
  fs::path out = dir / "out";

  void SetUp() override {
    fs::create_directories(in);
    fs::create_directories(out);
  }
  std::string storeRecord(const std::string& uuid, const std::string& name, int type = 1,
                          const std::string& root = {}) {
    return line({"file", uuid, name, root.empty() ? store.string() : root, std::to_string(type)});
  }
  std::string inputBase() { return line({"input_base_dir_path", in.string()}); }
  std::string outputBase() { return line({"output_base_dir_path", out.string()}); }
};

TEST_F(StoreJob, StoresFilesOfEverySizeInBothLayoutsWithSizeAndDigest) {
  writeFile(in / "empty", "");
  writeFile(in / "odd.bin", randomBytes(65537, 1));
  writeFile(in / "sub/dir/big.bin", randomBytes(5 * 1024 * 1024 + 3, 2));

  const RunResult run = runJob(kToStore, dir,
                               inputBase() + storeRecord(kUuidA, "empty", 1) +
                                   storeRecord(kUuidB, "odd.bin", 3, store.string() + "/") +
                                   storeRecord(kUuidC, "sub/dir/big.bin", 3));

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(run.errExists) << run.err;
  EXPECT_EQ(run.out, line({"file", kUuidA, "0", kEmptyMd5}) + resultLine(kUuidB, in / "odd.bin") +
                         resultLine(kUuidC, in / "sub/dir/big.bin"));
  EXPECT_EQ(readFile(storedPath(store, kUuidA, 1)), "");
  EXPECT_EQ(readFile(storedPath(store, kUuidB, 3)), readFile(in / "odd.bin"));
  EXPECT_EQ(readFile(storedPath(store, kUuidC, 3)), readFile(in / "sub/dir/big.bin"));
}

TEST_F(StoreJob, ExistingStoredFileIsLeftAsItIsAndTheSourceStillReported) {
  writeFile(in / "new.bin", randomBytes(100000, 3));
  const fs::path stored = storedPath(store, kUuidA, 1);
  writeFile(stored, "stored earlier");
  const auto oldTime = fs::file_time_type::clock::now() - std::chrono::hours(24);
  fs::last_write_time(stored, oldTime);

  const RunResult run = runJob(kToStore, dir, inputBase() + storeRecord(kUuidA, "new.bin"));

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, resultLine(kUuidA, in / "new.bin"));
  EXPECT_EQ(readFile(stored), "stored earlier");
  EXPECT_EQ(fs::last_write_time(stored), oldTime);
  EXPECT_EQ(std::distance(fs::directory_iterator(stored.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(StoreJob, MissingSourceInTheMiddleStopsTheJobThere) {
  const std::vector<std::string> uuids = {"aaaa0001", "bbbb0002", "cccc0003", "dddd0004", "eeee0005"};
  std::string job = inputBase();
  for (std::size_t i = 0; i < uuids.size(); ++i) {
    const std::string name = "f" + std::to_string(i);
    if (i != 2) writeFile(in / name, "content " + name);
    job += storeRecord(uuids[i], name);
  }

  const RunResult run = runJob(kToStore, dir, job);

  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, resultLine(uuids[0], in / "f0") + resultLine(uuids[1], in / "f1"));
  const std::string source = (in / "f2").string();
  const std::string destination = storedPath(store, uuids[2], 1).string();
  EXPECT_EQ(run.err, "failed to open file: " + source + ": No such file or directory\n\n" +
                         "SetSourceFilePath failed: (from " + source + ", to " + destination +
                         ")\nExecuteBatchCopyToResourceStore failed\n");
  EXPECT_FALSE(pathExists(storedPath(store, uuids[3], 1)));
  EXPECT_FALSE(pathExists(store / "ee"));
}

TEST_F(StoreJob, EachRecordNamesItsOwnDirectoryInTheSecondMode) {
  writeFile(dir / "one/x.txt", "from one");
  writeFile(dir / "two/x.txt", "from two");
  writeFile(in / "x.txt", "from the ignored base directory");
  const auto record = [&](const char* uuid, const std::string& directory) {
    return line({"file", uuid, directory, "x.txt", store.string(), "1"});
  };

  const RunResult run = runJob(kToStoreFromDirectories, dir,
                               inputBase() + record(kUuidA, dir.str("one")) +
                                   record(kUuidB, dir.str("two") + "/"));

  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, resultLine(kUuidA, dir / "one/x.txt") + resultLine(kUuidB, dir / "two/x.txt"));
  EXPECT_EQ(readFile(storedPath(store, kUuidB, 1)), "from two");
}

TEST_F(StoreJob, NoRecordsIsSuccessWithAnEmptyOutput) {
  for (const char* mode : {kToStore, kToStoreFromDirectories, kFromStore}) {
    const RunResult run = runJob(mode, dir, inputBase() + outputBase());
    EXPECT_EQ(run.exitCode, 0) << mode;
    EXPECT_TRUE(run.outExists);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(run.errExists) << run.err;
  }
}

// Records that the layout cannot place: nothing is read or written, one line
// names the value, and the mode fails.
struct BadRecord {
  const char* name;
  std::string uuid;
  std::string root;  // "-" for the scratch store
  std::string storageType;
  std::string message;
};

void PrintTo(const BadRecord& bad, std::ostream* stream) { *stream << bad.name; }

class BadStoreRecord : public StoreJob, public ::testing::WithParamInterface<BadRecord> {};

TEST_P(BadStoreRecord, IsNotCopiedAndFailsTheMode) {
  const BadRecord& bad = GetParam();
  writeFile(in / "a", "a");
  const std::string root = bad.root == "-" ? store.string() : bad.root;
  const RunResult toStore =
      runJob(kToStore, dir, inputBase() + line({"file", bad.uuid, "a", root, bad.storageType}));
  EXPECT_EQ(toStore.exitCode, 2);
  EXPECT_EQ(toStore.out, "");
  EXPECT_EQ(toStore.err, bad.message + "ExecuteBatchCopyToResourceStore failed\n");
  EXPECT_FALSE(pathExists(store));

  const RunResult fromStore =
      runJob(kFromStore, dir, outputBase() + line({"file", bad.uuid, "a", root, bad.storageType}));
  EXPECT_EQ(fromStore.exitCode, 2);
  EXPECT_EQ(fromStore.err, bad.message + "ExecuteBatchCopyFromResourceStore failed\n");
  EXPECT_FALSE(pathExists(out / "a"));
}

const std::string kEmptyCell = "MultiByteToWideChar failed to get buffer size (Invalid argument\n)\n";

INSTANTIATE_TEST_SUITE_P(
    Layout, BadStoreRecord,
    ::testing::Values(
        BadRecord{"WordAsType", "abcdef", "-", "three", "invalid storage_type \"three\" for uuid \"abcdef\"\n"},
        BadRecord{"TypeBeyond32Bits", "abcdef", "-", "2147483648",
                  "invalid storage_type \"2147483648\" for uuid \"abcdef\"\n"},
        // An empty last cell is no field at all: the job reader reports it missing.
        BadRecord{"EmptyType", "abcdef", "-", "",
                  "invalid column index: storage_type\n" + kEmptyCell +
                      "invalid storage_type \"\" for uuid \"abcdef\"\n"},
        BadRecord{"ShortUuidThreeLevels", "abcde", "-", "3",
                  "uuid \"abcde\" is too short for storage_type \"3\" (the store layout needs 6 characters)\n"},
        BadRecord{"ShortUuidTwoLevels", "abc", "-", "1",
                  "uuid \"abc\" is too short for storage_type \"1\" (the store layout needs 4 characters)\n"},
        BadRecord{"EmptyRoot", "abcdef", "", "1",
                  kEmptyCell + "empty private_resource_dir_path for uuid \"abcdef\"\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoreJob, StoredFilesComeBackOutUnderTheirNames) {
  writeFile(in / "a.bin", randomBytes(65537, 5));
  writeFile(in / "b.bin", randomBytes(3 * 1024 * 1024, 6));
  ASSERT_EQ(runJob(kToStore, dir, inputBase() + storeRecord(kUuidA, "a.bin", 1) +
                                      storeRecord(kUuidB, "b.bin", 3)).exitCode, 0);

  const RunResult run = runJob(kFromStore, dir,
                               outputBase() + storeRecord(kUuidA, "deep/er/a.bin", 1) +
                                   storeRecord(kUuidB, "b.bin", 3) +
                                   storeRecord(kUuidA, "b.bin", 1));  // name taken: kept

  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(run.errExists);
  EXPECT_EQ(readFile(out / "deep/er/a.bin"), readFile(in / "a.bin"));
  EXPECT_EQ(readFile(out / "b.bin"), readFile(in / "b.bin"));
}

TEST_F(StoreJob, CopyOutStopsAtAUuidTheStoreDoesNotHoldInThatLayout) {
  writeFile(in / "a", "stored with three levels");
  ASSERT_EQ(runJob(kToStore, dir, inputBase() + storeRecord(kUuidA, "a", 3)).exitCode, 0);

  const RunResult run = runJob(kFromStore, dir,
                               outputBase() + storeRecord(kUuidA, "first", 3) +
                                   storeRecord(kUuidA, "second", 1) + storeRecord(kUuidA, "third", 3));

  const std::string source = storedPath(store, kUuidA, 1).string();
  const std::string destination = (out / "second").string();
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "failed to open file: " + source + ": No such file or directory\n\n" +
                         "SetSourceFilePath failed: (from " + source + ", to " + destination +
                         ")\nExecuteBatchCopyFromResourceStore failed\n");
  EXPECT_EQ(readFile(out / "first"), "stored with three levels");
  EXPECT_FALSE(pathExists(out / "third"));
}

}  // namespace
