// extract_from_zip, run as a server runs it, on archives made for each test.

#include <gtest/gtest.h>

#include "support/ZipSupport.h"

using namespace testsupport;
using namespace ziptest;

namespace {

const std::string kEmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

std::string extractJob(const fs::path& archive, const fs::path& outputDirectory) {
  return zipParameter(archive) + "output_base_dir_path\t" + outputDirectory.string() + "\n";
}

std::string record(const std::string& uuid, const std::string& archiveName,
                   const std::string& fileName) {
  return "file\t" + uuid + "\t" + archiveName + "\t" + fileName + "\n";
}

}  // namespace

TEST(ExtractFromZip, ExtractsEachNamedEntryAndReportsItsSizeAndDigest) {
  ScratchDir dir;
  const fs::path out = dir / "out";
  const std::string unicodeName = "Gr\xC3\xBC\xC3\x9F" "e/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";
  const RunResult run = runJob(
      "extract_from_zip", dir,
      extractJob(makeArchive(dir, "mixed"), out) + record("u1", "deflated.bin", "a/b/c.bin") +
          record("u2", "stored.txt", "stored.txt") + record("u3", "empty.dat", "empty") +
          record("u4", unicodeName, "\xE6\x97\xA5.txt") + record("u5", "dup.txt", "dup.txt") +
          record("u6", "docs/img/photo.txt", "sub\\photo.txt"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(run.errExists) << run.err;

  std::string counting;
  for (int i = 0; i < 1000; ++i) counting.push_back(static_cast<char>(i % 251));
  EXPECT_EQ(readFile(out / "a/b/c.bin"), counting);
  EXPECT_EQ(readFile(out / "stored.txt"), "hello, stored entry\n");
  EXPECT_TRUE(pathExists(out / "empty"));
  EXPECT_EQ(readFile(out / "empty"), "");
  EXPECT_EQ(readFile(out / "\xE6\x97\xA5.txt"), "\xC3\xBCn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9\n");
  EXPECT_EQ(readFile(out / "dup.txt"), "second copy, the one found\n");
  EXPECT_EQ(readFile(out / "sub/photo.txt"), "photo");
  EXPECT_EQ(run.out, resultLine("u1", 1000, md5Hex(out / "a/b/c.bin")) +
                         resultLine("u2", 20, md5Hex(out / "stored.txt")) +
                         resultLine("u3", 0, kEmptyDigest) +
                         resultLine("u4", 12, md5Hex(out / "\xE6\x97\xA5.txt")) +
                         resultLine("u5", 27, md5Hex(out / "dup.txt")) +
                         resultLine("u6", 5, md5Hex(out / "sub/photo.txt")));
}

TEST(ExtractFromZip, AnExistingDestinationIsKeptButTheEntryIsStillHashed) {
  ScratchDir dir;
  const fs::path out = dir / "out";
  writeFile(out / "taken.txt", "was here before");
  const RunResult run = runJob("extract_from_zip", dir,
                               extractJob(makeArchive(dir, "mixed"), out) +
                                   record("u1", "five.txt", "taken.txt") +
                                   record("u2", "stored.txt", "same.txt") +
                                   record("u3", "five.txt", "same.txt"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(readFile(out / "taken.txt"), "was here before");
  EXPECT_EQ(readFile(out / "same.txt"), "hello, stored entry\n");
  const std::string fiveDigest = "827ccb0eea8a706c4c34a16891f84e7b";  // md5 of "12345"
  EXPECT_EQ(run.out, resultLine("u1", 5, fiveDigest) +
                         resultLine("u2", 20, md5Hex(out / "same.txt")) +
                         resultLine("u3", 5, fiveDigest));
}

TEST(ExtractFromZip, A50MBEntryIsExtractedWhole) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "big");
  unzipEntry(archive, "big.txt", dir / "expected");
  const RunResult run = runJob("extract_from_zip", dir,
                               extractJob(archive, dir / "out") + record("big", "big.txt", "big"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, resultLine("big", 50000000, md5Hex(dir / "expected")));
  EXPECT_EQ(md5Hex(dir / "out/big"), md5Hex(dir / "expected"));
}

TEST(ExtractFromZip, JobsWithoutRecordsStillOpenTheArchive) {
  ScratchDir dir;
  const RunResult good =
      runJob("extract_from_zip", dir, extractJob(makeArchive(dir, "mixed"), dir / "out"));
  EXPECT_EQ(good.exitCode, 0);
  EXPECT_EQ(good.out, "");
  EXPECT_FALSE(good.errExists);

  writeFile(dir / "bad.zip", "no archive");
  const RunResult bad = runJob("extract_from_zip", dir, extractJob(dir / "bad.zip", dir / "out"));
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, "failed to open archiveSetZipFilePath failed: " + dir.str("bad.zip") +
                         "\nExecuteExtractFromZip failed\n");
}

TEST(ExtractFromZip, AnUnknownEntryNameEndsTheRunAtItsRecord) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "mixed");
  for (const std::string name : {"docs\\img\\photo.txt", "Stored.txt", "missing"}) {
    const RunResult run = runJob("extract_from_zip", dir,
                                 extractJob(archive, dir / "out") + record("u1", "five.txt", "1") +
                                     record("u2", name, "2") + record("u3", "five.txt", "3"));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, resultLine("u1", 5, "827ccb0eea8a706c4c34a16891f84e7b"));
    EXPECT_EQ(run.err, "specified name " + name + " not found in zip entry list\n" +
                           "SetZipEntryName failed: " + name + "\nExecuteExtractFromZip failed\n");
    EXPECT_FALSE(pathExists(dir / "out/3"));
    fs::remove_all(dir / "out");
  }
}

TEST(ExtractFromZip, DamagedOrEncryptedDataIsReportedWithoutFailingTheRecord) {
  ScratchDir dir;
  // The engine's verdict on the data is told, and the line carries the
  // digest of what it delivered, so that the caller can see the damage.
  const RunResult crc = runJob("extract_from_zip", dir,
                               extractJob(makeArchive(dir, "crc_error"), dir / "out") +
                                   record("u1", "damaged.txt", "damaged.txt"));
  EXPECT_EQ(crc.exitCode, 0);
  EXPECT_EQ(crc.err, "extract failed: CRC error\n");
  EXPECT_EQ(readFile(dir / "out/damaged.txt").size(), 1024u);
  EXPECT_EQ(crc.out, resultLine("u1", 1024, md5Hex(dir / "out/damaged.txt")));

  for (const fs::path& archive : {makeZipCryptoArchive(dir), makeAesArchive(dir)}) {
    fs::remove_all(dir / "out");
    const RunResult run = runJob("extract_from_zip", dir,
                                 extractJob(archive, dir / "out") + record("u1", "secret.bin", "s"));
    EXPECT_EQ(run.exitCode, 0) << archive;
    EXPECT_EQ(run.err, "extract failed: unknown error\n") << archive;
    EXPECT_EQ(run.out, resultLine("u1", 1000, kEmptyDigest)) << archive;
    EXPECT_EQ(readFile(dir / "out/s"), "");
  }
}

TEST(ExtractFromZip, ATruncatedArchiveNeverHangsOrCrashes) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "big");
  fs::resize_file(archive, fs::file_size(archive) / 2);
  const RunResult run = runJob("extract_from_zip", dir,
                               extractJob(archive, dir / "out") + record("u1", "big.txt", "big"));
  // The central directory is gone; the engine reads the entries from their
  // local headers, and the data ends early.
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "extract failed: data error\n");
  EXPECT_LT(fs::file_size(dir / "out/big"), 50000000u);
  EXPECT_EQ(run.out, resultLine("u1", 50000000, md5Hex(dir / "out/big")));
}
