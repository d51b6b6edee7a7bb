// list_zip_entry and list_zip_entry_with_first_block, run as a server runs
// them, on archives made for each test.

#include <gtest/gtest.h>

#include "support/ZipSupport.h"

using namespace testsupport;
using namespace ziptest;

namespace {

const std::string kMixedListingWithFirstBlock =
    "file\tstored.txt\t20\t20\t0\t68656c6c6f2c2073746f72656420656e\n"
    "file\tdeflated.bin\t1000\t275\t0\t000102030405060708090a0b0c0d0e0f\n"
    "file\tdir/inner.txt\t6\t8\t0\t696e6e65720a\n"
    "file\tdocs/img/photo.txt\t5\t5\t0\t70686f746f\n"
    "file\tempty.dat\t0\t0\t0\t\n"
    "file\tfive.txt\t5\t5\t0\t3132333435\n"
    "file\tdup.txt\t11\t11\t0\t666972737420636f70790a\n"
    "file\tGr\xC3\xBC\xC3\x9F" "e/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt\t12\t12\t0\t"
    "c3bc6ec3af63c3b664c3a90a\n"
    "file\tsmile-\xF0\x9F\x98\x80.txt\t2\t2\t0\t3a29\n"
    "file\tdup.txt\t27\t27\t0\t7365636f6e6420636f70792c20746865\n";

// The same lines without their last field.
std::string withoutFirstBlock(const std::string& listing) {
  std::string lines;
  std::size_t start = 0;
  while (start < listing.size()) {
    const std::size_t end = listing.find('\n', start);
    lines += listing.substr(start, listing.rfind('\t', end) - start) + "\n";
    start = end + 1;
  }
  return lines;
}

std::string hexOf(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex.push_back(digits[byte >> 4]);
    hex.push_back(digits[byte & 0xF]);
  }
  return hex;
}

}  // namespace

TEST(ListZipEntry, ListsFilesInItemOrderWithoutDirectoriesOrHiddenEntries) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "mixed");
  // Records in the job file are ignored.
  const RunResult run =
      runJob("list_zip_entry", dir, zipParameter(archive) + "file\tx\ty\tz\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, withoutFirstBlock(kMixedListingWithFirstBlock));
  EXPECT_FALSE(run.errExists);
}

TEST(ListZipEntry, WithFirstBlockAddsUpTo16BytesOfEachEntryAsHex) {
  ScratchDir dir;
  const RunResult run =
      runJob("list_zip_entry_with_first_block", dir, zipParameter(makeArchive(dir, "mixed")));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, kMixedListingWithFirstBlock);
  EXPECT_FALSE(run.errExists);
}

TEST(ListZipEntry, ArchivesWithoutListedFilesGiveAnEmptyOutput) {
  ScratchDir dir;
  for (const char* kind : {"empty", "only_directories_and_hidden"}) {
    for (const char* mode : {"list_zip_entry", "list_zip_entry_with_first_block"}) {
      const RunResult run = runJob(mode, dir, zipParameter(makeArchive(dir, kind)));
      EXPECT_EQ(run.exitCode, 0) << kind << " " << mode;
      EXPECT_TRUE(run.outExists);
      EXPECT_EQ(run.out, "") << kind << " " << mode;
      EXPECT_FALSE(run.errExists) << kind << " " << mode;
    }
  }
}

TEST(ListZipEntry, EncryptedEntriesAreMarkedAndYieldNoFirstBlockWithoutPassword) {
  ScratchDir dir;
  for (const fs::path& archive : {makeZipCryptoArchive(dir), makeAesArchive(dir)}) {
    const RunResult plain = runJob("list_zip_entry", dir, zipParameter(archive));
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_TRUE(plain.out.starts_with("file\tsecret.bin\t1000\t")) << plain.out;
    EXPECT_TRUE(plain.out.ends_with("\t1\n")) << plain.out;

    // The engine reports the missing password as an operation result; the
    // listing goes on with what arrived, which is nothing.
    const RunResult withBlock = runJob("list_zip_entry_with_first_block", dir, zipParameter(archive));
    EXPECT_EQ(withBlock.exitCode, 0);
    EXPECT_EQ(withBlock.out, plain.out.substr(0, plain.out.size() - 1) + "\t\n");
    EXPECT_EQ(withBlock.err, "extract failed: unknown error\n");
  }
}

TEST(ListZipEntry, FirstBlockOfA50MBEntryIsItsFirst16Bytes) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "big");
  unzipEntry(archive, "big.txt", dir / "big.txt");
  const std::string head = readFile(dir / "big.txt").substr(0, 16);
  const RunResult run = runJob("list_zip_entry_with_first_block", dir, zipParameter(archive));
  EXPECT_EQ(run.exitCode, 0);
  const std::string bigLine = run.out.substr(run.out.find("file\tbig.txt\t"));
  EXPECT_TRUE(bigLine.starts_with("file\tbig.txt\t50000000\t")) << bigLine;
  EXPECT_TRUE(bigLine.find("\t0\t" + hexOf(head) + "\n") != std::string::npos)
      << bigLine;
  EXPECT_TRUE(run.out.ends_with("file\tafter.txt\t6\t6\t0\t61667465720a\n"));
}

TEST(ListZipEntry, ACrcErrorIsReportedButTheListingGoesOn) {
  ScratchDir dir;
  const RunResult run =
      runJob("list_zip_entry_with_first_block", dir, zipParameter(makeArchive(dir, "crc_error")));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out,
            "file\tgood.txt\t5\t5\t0\t676f6f640a\n"
            "file\tdamaged.txt\t1024\t1024\t0\t30313233343536373839616263646566\n");
  // The stop after 16 bytes spares the engine the rest of the entry, so its
  // checksum is never compared.
  EXPECT_FALSE(run.errExists);
}

TEST(ListZipEntry, AnArchiveThatCannotBeOpenedFailsWithNoOutputLines) {
  ScratchDir dir;
  writeFile(dir / "not-a-zip.zip", "this is plain text, not an archive\n");
  const std::string missing = dir.str("missing.zip");
  struct Case {
    std::string path;
    std::string err;
  };
  const Case cases[] = {
      {missing, "CreateFileW failed for " + missing +
                    ": No such file or directory\n\nfailed to open fileSetZipFilePath failed: " +
                    missing + "\n"},
      {dir.str("not-a-zip.zip"),
       "failed to open archiveSetZipFilePath failed: " + dir.str("not-a-zip.zip") + "\n"},
      {dir.str(), "CreateFileW failed for " + dir.str() +
                      ": Is a directory\n\nfailed to open fileSetZipFilePath failed: " +
                      dir.str() + "\n"},
  };
  for (const Case& c : cases) {
    for (const char* mode : {"list_zip_entry", "list_zip_entry_with_first_block"}) {
      const RunResult run = runJob(mode, dir, "zip_file_path\t" + c.path + "\n");
      EXPECT_EQ(run.exitCode, 2) << c.path;
      EXPECT_EQ(run.out, "");
      const std::string failure = std::string(mode) == "list_zip_entry"
                                      ? "ExecuteListZipEntry failed\n"
                                      : "ExecuteListZipEntryWithFirstBlock failed\n";
      EXPECT_EQ(run.err, c.err + failure) << mode;
    }
  }
}

TEST(ListZipEntry, AMissingArchiveParameterReportsEachConversionOfTheEmptyPath) {
  ScratchDir dir;
  const RunResult run = runJob("list_zip_entry", dir, "other\tvalue\n");
  EXPECT_EQ(run.exitCode, 2);
  const std::string toWide = "MultiByteToWideChar failed to get buffer size (Invalid argument\n)\n";
  const std::string toNarrow = "WideCharToMultiByte failed to get buffer size (Invalid argument\n)\n";
  EXPECT_EQ(run.err, toWide + "CreateFileW failed for " + toNarrow +
                         ": No such file or directory\n\nfailed to open fileSetZipFilePath failed: " +
                         toNarrow + "\nExecuteListZipEntry failed\n");
}

TEST(ListZipEntry, ATruncatedArchiveNeverHangsOrCrashes) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "mixed");
  // Inside the first entry, inside the deflated one, inside the directory.
  for (const std::uintmax_t keep : {std::uintmax_t{30}, std::uintmax_t{200},
                                    fs::file_size(archive) - 10}) {
    fs::resize_file(archive, keep);
    for (const char* mode : {"list_zip_entry", "list_zip_entry_with_first_block"}) {
      const RunResult run = runJob(mode, dir, zipParameter(archive));
      EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 2) << keep << " " << mode << " "
                                                          << run.exitCode;
      if (run.exitCode == 2) {
        EXPECT_TRUE(run.err.find("failed to open archiveSetZipFilePath failed: ") == 0) << run.err;
      }
    }
  }
}
