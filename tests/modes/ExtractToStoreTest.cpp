// extract_from_zip_to_resource_store, run as a server runs it.

#include <gtest/gtest.h>

#include "support/ZipSupport.h"

using namespace testsupport;
using namespace ziptest;

namespace {

constexpr const char* kUuid1 = "9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21";
constexpr const char* kUuid2 = "0c5e2a11-7d42-4f3b-9a8e-1b2c3d4e5f60";
const std::string kFiveDigest = "827ccb0eea8a706c4c34a16891f84e7b";  // md5 of "12345"

std::string record(const std::string& uuid, const std::string& archiveName,
                   const fs::path& root, const std::string& storageType = "1") {
  return "file\t" + uuid + "\t" + archiveName + "\tignored.txt\t" + root.string() + "\t" +
         storageType + "\n";
}

}  // namespace

TEST(ExtractToStore, StoresEachEntryUnderItsUuidInTheStoreLayout) {
  ScratchDir dir;
  const fs::path store = dir / "store";
  const RunResult run =
      runJob("extract_from_zip_to_resource_store", dir,
             zipParameter(makeArchive(dir, "mixed")) + record(kUuid1, "deflated.bin", store) +
                 record(kUuid2, "five.txt", store, "3") + record("aaaa", "empty.dat", store) +
                 // The same entry a second time, under another uuid.
                 record("5f3c9d20", "five.txt", store));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(run.errExists) << run.err;
  const fs::path first = store / "9b/1d" / kUuid1;
  const fs::path second = store / "0c/5e/2a" / kUuid2;
  EXPECT_EQ(readFile(first).size(), 1000u);
  EXPECT_EQ(readFile(second), "12345");
  EXPECT_EQ(readFile(store / "aa/aa/aaaa"), "");
  EXPECT_EQ(readFile(store / "5f/3c/5f3c9d20"), "12345");
  EXPECT_EQ(run.out, resultLine(kUuid1, 1000, md5Hex(first)) +
                         resultLine(kUuid2, 5, kFiveDigest) +
                         resultLine("aaaa", 0, "d41d8cd98f00b204e9800998ecf8427e") +
                         resultLine("5f3c9d20", 5, kFiveDigest));
  // Nothing but the stored files: no temporary file is left behind.
  std::size_t files = 0;
  for (const auto& item : fs::recursive_directory_iterator(store)) files += item.is_regular_file();
  EXPECT_EQ(files, 4u);
}

TEST(ExtractToStore, AnExistingStoredFileWinsButTheEntryIsStillHashed) {
  ScratchDir dir;
  const fs::path stored = dir / "store/9b/1d" / kUuid1;
  writeFile(stored, "stored before");
  const RunResult run = runJob("extract_from_zip_to_resource_store", dir,
                               zipParameter(makeArchive(dir, "mixed")) +
                                   record(kUuid1, "five.txt", dir / "store"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(readFile(stored), "stored before");
  EXPECT_EQ(run.out, resultLine(kUuid1, 5, kFiveDigest));
}

TEST(ExtractToStore, JobsWithoutRecordsStillOpenTheArchive) {
  ScratchDir dir;
  const RunResult good =
      runJob("extract_from_zip_to_resource_store", dir, zipParameter(makeArchive(dir, "empty")));
  EXPECT_EQ(good.exitCode, 0);
  EXPECT_EQ(good.out, "");
  EXPECT_FALSE(good.errExists);

  const RunResult bad =
      runJob("extract_from_zip_to_resource_store", dir, zipParameter(dir / "missing.zip"));
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_EQ(bad.err, "CreateFileW failed for " + dir.str("missing.zip") +
                         ": No such file or directory\n\nfailed to open fileSetZipFilePath failed: " +
                         dir.str("missing.zip") + "\nExecuteExtractFromZipToResourceStore failed\n");
}

TEST(ExtractToStore, AFailingRecordEndsTheRunAfterTheLinesBeforeIt) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "mixed");
  const fs::path store = dir / "store";
  writeFile(dir / "file-as-root", "not a directory");
  struct Case {
    std::string failingRecord;
    std::string err;
  };
  const Case cases[] = {
      {record(kUuid2, "docs\\img\\photo.txt", store),
       "specified name docs\\img\\photo.txt not found in zip entry list\n"
       "SetZipEntryName failed: docs\\img\\photo.txt\n"},
      {record(kUuid2, "five.txt", store, "three"),
       "invalid storage_type \"three\" for uuid \"" + std::string(kUuid2) + "\"\n"},
      // No blank after "for": the line reads as the callers expect it.
      {record(kUuid2, "five.txt", dir / "file-as-root"),
       "createDirectoryRecursively failed for" + dir.str("file-as-root") + "/0c/5e/\n"},
  };
  for (const Case& c : cases) {
    fs::remove_all(store);
    const RunResult run =
        runJob("extract_from_zip_to_resource_store", dir,
               zipParameter(archive) + record(kUuid1, "five.txt", store) + c.failingRecord +
                   record("7e5d4c3b", "five.txt", store));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, resultLine(kUuid1, 5, kFiveDigest));
    EXPECT_EQ(run.err, c.err + "ExecuteExtractFromZipToResourceStore failed\n");
    EXPECT_FALSE(pathExists(store / "0c/5e" / kUuid2));
    EXPECT_FALSE(pathExists(store / "7e/5d"));
  }
}

