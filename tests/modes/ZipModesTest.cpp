// The zip modes, run as a server runs them, on archives made for each
// test and read through the real engine.

#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "support/TestSupport.h"

using namespace testsupport;

namespace {

const std::string kFiveDigest = "827ccb0eea8a706c4c34a16891f84e7b";  // md5 of "12345"

const std::string kMixedListingWithFirstBlock =
    "file\tstored.txt\t20\t20\t0\t68656c6c6f2c2073746f72656420656e\n"
    "file\tdeflated.bin\t1000\t275\t0\t000102030405060708090a0b0c0d0e0f\n"
    "file\tdir/inner.txt\t6\t8\t0\t696e6e65720a\n"
    "file\tdocs/img/photo.txt\t5\t5\t0\t70686f746f\n"
    "file\tempty.dat\t0\t0\t0\t\n"
    "file\tfive.txt\t5\t5\t0\t3132333435\n"
    "file\tdup.txt\t11\t11\t0\t666972737420636f70790a\n"
    "file\tGr\xC3\xBC\xC3\x9F" "e/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt\t12\t12\t0\tc3bc6ec3af63c3b664c3a90a\n"
    "file\tsmile-\xF0\x9F\x98\x80.txt\t2\t2\t0\t3a29\n"
    "file\tdup.txt\t27\t27\t0\t7365636f6e6420636f70792c20746865\n";

std::string extractJob(const fs::path& archive, const fs::path& output) {
  return zipParameter(archive) + line({"output_base_dir_path", jobPath(output)});
}

}  // namespace

TEST(ListZipEntry, ListsFilesInItemOrderWithTheirFirstBlocksAndNothingElse) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "mixed");
  const RunResult plain = runJob("list_zip_entry", dir, zipParameter(archive) + "file\tx\ty\n");
  // The same lines without their last field.
  const std::string withoutFirstBlock = std::regex_replace(kMixedListingWithFirstBlock, std::regex("\t[0-9a-f]*\n"), "\n");
  EXPECT_EQ(plain.outcome(), outcome(0, withoutFirstBlock, ""));
  const RunResult withBlock = runJob("list_zip_entry_with_first_block", dir, zipParameter(archive));
  EXPECT_EQ(withBlock.outcome(), outcome(0, kMixedListingWithFirstBlock, ""));
  for (const char* kind : {"empty", "only_directories_and_hidden"}) {
    EXPECT_EQ(runJob("list_zip_entry_with_first_block", dir, zipParameter(makeArchive(dir, kind))).outcome(),
              outcome(0, "", ""));
  }
}

TEST(ListZipEntry, EncryptedEntriesAreMarkedAndDamageAfterTheFirstBlockIsNotSeen) {
  ScratchDir dir;
  for (const fs::path& archive : {makeArchive(dir, "zipcrypto"), makeArchive(dir, "aes")}) {
    const RunResult plain = runJob("list_zip_entry", dir, zipParameter(archive));
    EXPECT_TRUE(plain.out.starts_with("file\tsecret.bin\t1000\t") && plain.out.ends_with("\t1\n"))
        << plain.out;
    // Without a password the engine delivers nothing and says why.
    EXPECT_EQ(runJob("list_zip_entry_with_first_block", dir, zipParameter(archive)).outcome(),
              outcome(0, plain.out.substr(0, plain.out.size() - 1) + "\t\n", "extract failed: unknown error\n"));
  }
  // The stop after 16 bytes spares the engine the rest of the entry.
  EXPECT_EQ(runJob("list_zip_entry_with_first_block", dir, zipParameter(makeArchive(dir, "crc_error"))).outcome(),
            outcome(0, "file\tgood.txt\t5\t5\t0\t676f6f640a\n"
                       "file\tdamaged.txt\t1024\t1024\t0\t30313233343536373839616263646566\n", ""));
}

// An entry's name comes from whoever made the archive: one with a tab or a
// line end would forge or break a result line, and is left out and named.
TEST(ListZipEntry, NamesThatWouldBreakTheirLineAreLeftOutAndReported) {
  ScratchDir dir;
  const RunResult run = runJob("list_zip_entry", dir, zipParameter(makeArchive(dir, "hostile")));
  EXPECT_EQ(run.outcome(), outcome(0, "file\tok.txt\t2\t2\t0\n",
                                   "left out \"evil\\nfile\\tforged.txt\\t999\\t1\\t0\": a tab or a line end cannot "
                                   "stand in a result line\nleft out \"tab\\there.txt\": a tab or a line end cannot "
                                   "stand in a result line\n"));
}

TEST(ZipModes, AnArchiveThatCannotBeOpenedFailsBeforeAnyRecord) {
  ScratchDir dir;
  writeFile(dir / "not-a-zip.zip", "plain text, not an archive\n");
  const std::string missing = dir.job("missing.zip");
  const std::string toNarrow = "WideCharToMultiByte failed to get buffer size (" +
                               target().text(SystemError::InvalidArgument) + ")\n";
  struct Case {
    std::string job, err;
  };
  const Case cases[] = {
      {line({"zip_file_path", missing}),
       "CreateFileW failed for " + missing + ": " + target().text(SystemError::NotFound) +
           "\nfailed to open fileSetZipFilePath failed: " + missing + "\n"},
      {line({"zip_file_path", dir.job("not-a-zip.zip")}),
       "failed to open archiveSetZipFilePath failed: " + dir.job("not-a-zip.zip") + "\n"},
      {line({"other", "value"}),  // each conversion of the empty path says so
       "MultiByteToWideChar failed to get buffer size (" + target().text(SystemError::InvalidArgument) +
           ")\nCreateFileW failed for " + toNarrow + ": " + target().text(SystemError::PathNotFound) +
           "\nfailed to open fileSetZipFilePath failed: " + toNarrow + "\n"},
  };
  // Each case in another mode: every one opens the archive the same way.
  const char* const modes[] = {"list_zip_entry", "extract_from_zip", "extract_from_zip_to_resource_store"};
  for (std::size_t n = 0; n < std::size(cases); ++n) {
    EXPECT_EQ(runJob(modes[n], dir, cases[n].job).outcome(), outcome(2, "", cases[n].err + failureLine(modes[n])));
  }
}

// An archive that starts as the first part of a split archive (found by
// fuzzing: the engine asked for the other parts and crashed) is read as the
// one file it is.
TEST(ZipModes, AnArchiveMarkedAsTheFirstOfSeveralPartsIsReadAsOneFile) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "split_marker");
  EXPECT_EQ(runJob("list_zip_entry", dir, zipParameter(archive)).outcome(),
            outcome(0, "file\tfive.txt\t5\t5\t0\n", ""));
  EXPECT_EQ(runJob("extract_from_zip", dir, extractJob(archive, dir / "out") +
                                                 line({"file", "u1", "five.txt", "five.txt"}))
                .outcome(),
            outcome(0, resultLine("u1", 5, kFiveDigest), ""));
}

TEST(ExtractFromZip, ExtractsEachNamedEntryWithoutReplacingAnExistingFile) {
  ScratchDir dir;
  const fs::path out = dir / "out";
  writeFile(out / "taken.txt", "was here before");
  const std::string unicodeName = "Gr\xC3\xBC\xC3\x9F" "e/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";
  const auto record = [](const char* uuid, const std::string& entry, const std::string& file) {
    return line({"file", uuid, entry, file});
  };
  const RunResult run = runJob(
      "extract_from_zip", dir,
      extractJob(makeArchive(dir, "mixed"), out) + record("u1", "deflated.bin", "a/b/c.bin") +
          record("u2", "empty.dat", "empty") + record("u3", unicodeName, "\xE6\x97\xA5.txt") +
          record("u4", "dup.txt", "dup.txt") + record("u5", "docs/img/photo.txt", "sub\\photo.txt") +
          record("u6", "five.txt", "taken.txt"));
  std::string counting;
  for (int i = 0; i < 1000; ++i) counting.push_back(static_cast<char>(i % 251));
  const std::pair<const char*, std::string> files[] = {
      {"a/b/c.bin", counting}, {"empty", ""}, {"\xE6\x97\xA5.txt", "\xC3\xBCn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9\n"},
      {"dup.txt", "second copy, the one found\n"}, {"sub/photo.txt", "photo"}, {"taken.txt", "was here before"}};
  std::string lines;
  for (std::size_t n = 0; n < std::size(files); ++n) {
    EXPECT_EQ(readFile(out / files[n].first), files[n].second);
    const std::string bytes = n + 1 == std::size(files) ? "12345" : files[n].second;
    lines += resultLine("u" + std::to_string(n + 1), bytes.size(), md5OfBytes(bytes));
  }
  EXPECT_EQ(run.outcome(), outcome(0, lines, ""));
}

// A name the archive does not have (names are matched exactly) or that
// would leave the output directory ends the run after the records before:
// the records after it leave no file and no message, though another thread
// may have extracted them already.
TEST(ExtractFromZip, ANameNotFoundOrLeavingTheOutputDirectoryEndsTheRun) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "mixed");
  const std::pair<std::string, std::string> failing[] = {  // (entry, destination)
      {"docs\\img\\photo.txt", "2"}, {"Five.txt", "2"}, {"five.txt", "../../escaped.txt"}};
  for (const auto& [name, destination] : failing) {
    const RunResult run = runJob("extract_from_zip", dir,
                                 extractJob(archive, dir / "sub/out") + line({"file", "u1", "five.txt", "1"}) +
                                     line({"file", "u2", name, destination}) + line({"file", "u3", "absent", "3a"}) +
                                     line({"file", "u4", "dup.txt", "3"}));
    const std::string why = destination != "2" ? "file_name \"" + destination + "\" leaves its base directory\n"
                            : "specified name " + name + " not found in zip entry list\nSetZipEntryName failed: " + name + "\n";
    EXPECT_EQ(run.outcome(), outcome(2, resultLine("u1", 5, kFiveDigest), why + "ExecuteExtractFromZip failed\n"));
    EXPECT_FALSE(pathExists(dir / "sub/out/3") || pathExists(dir / "escaped.txt"));
  }
}

// Names without the UTF-8 mark, as the zip command, DOS tools and Unix
// tools store them, read as their makers meant; every listed name, passed
// back by a caller, finds its entry.
namespace {

const std::string kCafe = "caf\xC3\xA9 \xC3\xBC.txt", kTokyo = "\xE6\x97\xA5\xE6\x9C\xAC/\xE6\x9D\xB1\xE4\xBA\xAC.txt";

std::vector<std::string> listedNames(const std::string& listing) {
  std::vector<std::string> names;
  for (std::size_t at = 0; at < listing.size();) {
    const std::size_t end = listing.find('\n', at);
    names.push_back(listing.substr(at + 5, listing.find('\t', at + 5) - at - 5));
    at = end + 1;
  }
  return names;
}

}  // namespace

TEST(ZipEntryNames, NamesWithoutTheUtf8MarkReadAsTheirArchiversMeant) {
  ScratchDir dir;
  for (const char* kind : {"infozip_names", "infozip_zip64", "infozip_behind_stub"}) {
    EXPECT_EQ(runJob("list_zip_entry", dir, zipParameter(makeArchive(dir, kind))).outcome(),
              outcome(0, "file\t" + kTokyo + "\t6\t6\t0\nfile\t" + kCafe + "\t5\t5\t0\n", ""))
        << kind;
  }
  EXPECT_EQ(runJob("list_zip_entry", dir, zipParameter(makeArchive(dir, "sevenzip_names"))).outcome(),
            outcome(0, "file\t" + kCafe + "\t5\t5\t0\nfile\t" + kTokyo + "\t6\t6\t0\n", ""));
  // The Unicode Path field wins where its CRC matches; from DOS the legacy
  // code page, from Unix UTF-8 where the bytes are UTF-8. Bytes that are
  // not text in the code page stay as they are.
  const std::string legacy = zipParameter(makeArchive(dir, "legacy_names"));
  const std::string unicode = "\xC3\xBCn\xC3\xAF" "code.txt";
  const std::pair<const char*, std::vector<std::string>> codePages[] = {
      {"437", {"\xC3\xA6o\xC3\xA5.txt", "\xC3\xB2/\xC3\x84\xC2\xAA.txt", unicode, "\xC3\xA6.TXT", "caf\xC3\xA9.txt",
               "\xE2\x94\x9C\xE2\x8C\x90-dos.txt", "x\xCE\x98.txt"}},
      {"932", {"\x91o\x86.txt", "\xE8\xA1\xA8\xE7\xA4\xBA.txt", unicode, "\x91.TXT", "caf\xC3\xA9.txt",
               "\xEF\xBE\x83\xEF\xBD\xA9-dos.txt", "x\xE9.txt"}}};
  for (const auto& [codePage, names] : codePages) {
    RunOptions options;
    options.environment["NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE"] = codePage;
    const RunResult run = runJob("list_zip_entry", dir, legacy, options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(listedNames(run.out), names) << codePage;
  }
  // A code page the system cannot read stops a zip mode before any work.
  for (const char* value : {"abc", "12345", ""}) {
    RunOptions options;
    options.environment["NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE"] = value;
    const RunResult run = runJob("extract_from_zip", dir, legacy, options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(run.outExists || run.errExists);
    EXPECT_EQ(run.stdoutText, "NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE names no code page this system can read: \"" +
                                  std::string(value) + "\"\n");
  }
}

TEST(ZipEntryNames, EveryListedNameFindsItsEntryWhenPassedBack) {
  ScratchDir dir;
  const fs::path out = dir / "out";
  for (const char* kind : {"mixed", "infozip_names", "sevenzip_names", "legacy_names", "hostile", "crc_error",
                           "truncated", "zipcrypto", "aes"}) {
    for (const char* codePage : {"437", "932"}) {
      RunOptions options;
      options.environment["NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE"] = codePage;
      const fs::path archive = makeArchive(dir, kind);
      const RunResult listing = runJob("list_zip_entry", dir, zipParameter(archive), options);
      std::size_t n = 0;
      for (const std::string& name : listedNames(listing.out)) {
        const std::string uuid = "abcdef" + std::to_string(++n);
        for (const auto& [mode, record] :
             {std::pair{"extract_from_zip", line({"file", uuid, name, "f" + std::to_string(n)})},
              std::pair{"extract_from_zip_to_resource_store", line({"file", uuid, name, "x", jobPath(out), "1"})}}) {
          fs::remove_all(out);
          const RunResult run = runJob(mode, dir, extractJob(archive, out) + record, options);
          // Damaged and encrypted entries are found too, and fail for what they are.
          const bool extracted = run.exitCode == 0 && run.out.starts_with("file\t" + uuid + "\t");
          EXPECT_TRUE(extracted || run.err.find("extract failed") != std::string::npos) << kind << " " << name << run.err;
        }
      }
    }
  }
}

// Archives built as an adversary would (make_test_archive.py,
// eight_bit_name_cases): each entry is named from what the engine read of
// that entry alone, whatever else the archive holds, and each listed name
// extracts that entry's own bytes (the last one's, where names repeat).
TEST(ZipEntryNames, EachEntryIsNamedFromItsOwnBytesAndFoundByThatName) {
  using Entries = std::vector<std::pair<std::string, std::string>>;  // (listed name, content)
  Entries many;
  for (int n = 0; n < 65535; ++n) {
    const std::string number = std::to_string(n);
    many.emplace_back("é" + std::string(5 - number.size(), '0') + number, number);
  }
  const struct {
    const char* kind;
    const char* codePage;
    Entries entries;
  } rows[] = {
      {"trail_byte_5c", "932", {{"表", "hyo"}, {"一覧表", "ichiranhyo"}, {"ü", "slash"}}},
      // A trailing `\` of a file's name is kept as `/`; the engine for Windows drops it.
      {"trail_byte_5c", "437",
       {{target().windows ? "ò" : "ò/", "hyo"}, {target().windows ? "êΩùùò" : "êΩùùò/", "ichiranhyo"}, {"ü", "slash"}}},
      {"nul_in_names", "437", {{"a.txt", "a"}, {"y.txt", "y"}, {"é.txt", "e"}}},
      {"directory_out_of_order", "437", {{"âA.txt", "XXXX"}, {"âB.txt", "YYYY"}}},
      {"decoy_directory", "437", {{"éreal.txt", "real"}}},
      {"entries_65535", "437", many},
      {"large_directory_entries", "437",
       {{"é-first.txt", "-first.txt"}, {"é-second-of-a-long-name.txt", "-second-of-a-long-name.txt"}}},
      {"unicode_path_fields", "437", {{"zero.txt", "0"}, {"st.txt", "1"}, {"first.txt", "2"}, {"é.txt", "3"}}},
      {"same_name_three_ways", "437", {{"é.txt", "marked"}, {"é.txt", "dos"}, {"é.txt", "unix"}}},
      {"koi8_r", "20866", {{"Привет.txt", "privet"}}},
  };
  ScratchDir dir;
  for (const auto& row : rows) {
    RunOptions options;
    options.environment["NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE"] = row.codePage;
    const fs::path archive = makeArchive(dir, row.kind);
    std::vector<std::string> names;
    std::map<std::string, std::string> lastContent;
    for (const auto& [name, content] : row.entries) names.push_back(name), lastContent[name] = content;
    const RunResult listing = runJob("list_zip_entry", dir, zipParameter(archive), options);
    EXPECT_EQ(listedNames(listing.out), names) << row.kind << " " << row.codePage;
    // At most eight names, spread over the archive.
    const std::size_t step = std::max<std::size_t>(1, names.size() / 8);
    std::string records;
    for (std::size_t n = 0; n < names.size(); n += step) records += line({"file", "u", names[n], std::to_string(n)});
    fs::remove_all(dir / "out");
    EXPECT_EQ(runJob("extract_from_zip", dir, extractJob(archive, dir / "out") + records, options).exitCode, 0) << row.kind;
    for (std::size_t n = 0; n < names.size(); n += step) {
      EXPECT_EQ(readFile(dir / "out" / std::to_string(n)), lastContent[names[n]]) << row.kind << " " << names[n];
    }
  }
}
