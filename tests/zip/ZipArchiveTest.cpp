// ZipArchive against the real engine, in this process: what the entry list
// holds, how names are looked up, and how much of an entry GetZipContentData
// takes.

#include <gtest/gtest.h>

#include "ZipTestSupport.h"
#include "support/LogCapture.h"
#include "zip/SequentialOutStreams.h"
#include "zip/ZipArchive.h"

using namespace testsupport;
using namespace ziptest;
using RazaDedeZuzev::ZipArchive;
using RazaDedeZuzev::ZipEntry;

namespace {

std::u16string widePath(const fs::path& path) { return path.u16string(); }

std::vector<ZipEntry> listEntries(const fs::path& archivePath) {
  ZipArchive archive;
  std::vector<ZipEntry> entries;
  EXPECT_TRUE(archive.SetZipFilePath(widePath(archivePath)));
  EXPECT_TRUE(archive.GetZipEntryList(entries));
  return entries;
}

std::string contentStart(ZipArchive& archive, std::uint64_t index, std::size_t capacity) {
  std::string buffer(capacity, '\0');
  std::uint64_t received = 99;
  EXPECT_TRUE(archive.GetZipContentData(index, buffer.data(), capacity, received));
  buffer.resize(static_cast<std::size_t>(received));
  return buffer;
}

}  // namespace

TEST(ZipEntryList, NamesSizesAndMarksInItemOrder) {
  ScratchDir dir;
  const std::vector<ZipEntry> entries = listEntries(makeArchive(dir, "mixed"));
  ASSERT_EQ(entries.size(), 13u);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    names.push_back(entries[i].name);
    EXPECT_EQ(entries[i].index, i);
    EXPECT_FALSE(entries[i].isEncrypted);
    EXPECT_EQ(entries[i].isHidden, entries[i].name == "hidden.txt");
  }
  // Backslashes become slashes and directories end in one, whatever the
  // archive stored; names come out as UTF-8, also beyond the basic plane.
  EXPECT_EQ(names, (std::vector<std::string>{
                       "stored.txt", "deflated.bin", "dir/", "dir/inner.txt", "docs/img/",
                       "docs/img/photo.txt", "hidden.txt", "empty.dat", "five.txt", "dup.txt",
                       "Gr\xC3\xBC\xC3\x9F" "e/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt",
                       "smile-\xF0\x9F\x98\x80.txt", "dup.txt"}));
  EXPECT_EQ(entries[1].size, 1000u);
  EXPECT_LT(entries[1].packedSize, 1000u);  // deflated
  EXPECT_EQ(entries[0].size, entries[0].packedSize);  // stored
}

TEST(ZipEntryList, EncryptedEntriesAreMarkedWhateverTheMethod) {
  ScratchDir dir;
  for (const fs::path& archive : {makeZipCryptoArchive(dir), makeAesArchive(dir)}) {
    const std::vector<ZipEntry> entries = listEntries(archive);
    ASSERT_EQ(entries.size(), 1u) << archive;
    EXPECT_TRUE(entries[0].isEncrypted) << archive;
    EXPECT_EQ(entries[0].size, 1000u);
  }
}

TEST(ZipEntryList, AnEmptyArchiveHasNoEntries) {
  ScratchDir dir;
  EXPECT_TRUE(listEntries(makeArchive(dir, "empty")).empty());
}

TEST(ZipEntryLookup, NamesMatchExactlyAndTheLastDuplicateWins) {
  ScratchDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.SetZipFilePath(widePath(makeArchive(dir, "mixed"))));
  ZipEntry entry;
  ASSERT_TRUE(archive.GetZipEntry("dup.txt", entry));
  EXPECT_EQ(entry.index, 12u);
  EXPECT_EQ(entry.size, 27u);
  ASSERT_TRUE(archive.GetZipEntry("docs/img/photo.txt", entry));
  EXPECT_EQ(entry.index, 5u);

  const std::string log = captureLog([&] {
    EXPECT_FALSE(archive.GetZipEntry("docs\\img\\photo.txt", entry));
    EXPECT_FALSE(archive.GetZipEntry("STORED.TXT", entry));
  });
  EXPECT_EQ(log,
            "specified name docs\\img\\photo.txt not found in zip entry list\n"
            "specified name STORED.TXT not found in zip entry list\n");
}

TEST(ZipEntryLookup, NothingIsFoundInAnEmptyArchive) {
  ScratchDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.SetZipFilePath(widePath(makeArchive(dir, "empty"))));
  ZipEntry entry;
  const std::string log = captureLog([&] { EXPECT_FALSE(archive.GetZipEntry("a", entry)); });
  EXPECT_EQ(log, "specified name a not found in zip entry list\n");
}

TEST(ZipContentData, TakesAtMostTheCapacityFromAnyEntry) {
  ScratchDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.SetZipFilePath(widePath(makeArchive(dir, "mixed"))));
  std::string expected;
  for (int i = 0; i < 16; ++i) expected.push_back(static_cast<char>(i));
  EXPECT_EQ(contentStart(archive, 1, 16), expected);  // deflated, 1,000 bytes
  EXPECT_EQ(contentStart(archive, 0, 16), "hello, stored en");
  EXPECT_EQ(contentStart(archive, 8, 16), "12345");  // shorter than the buffer
  EXPECT_EQ(contentStart(archive, 8, 5), "12345");   // exactly the buffer
  EXPECT_EQ(contentStart(archive, 7, 16), "");       // empty entry
  // The stop of one extraction leaves the archive usable for the next.
  EXPECT_EQ(contentStart(archive, 1, 16), expected);
}

TEST(ZipContentData, AnItemThatDoesNotExistFailsTheExtraction) {
  ScratchDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.SetZipFilePath(widePath(makeArchive(dir, "mixed"))));
  char buffer[16];
  std::uint64_t received = 0;
  const std::string log = captureLog(
      [&] { EXPECT_FALSE(archive.GetZipContentData(1000, buffer, sizeof buffer, received)); });
  EXPECT_EQ(log, "extract failed\n");
}

TEST(BufferWriter, StopsTheEngineOnceBytesNoLongerFit) {
  using namespace RazaDedeZuzev::SevenZipArchiveImpl;
  char buffer[16];
  std::uint64_t received = 0;
  auto* writer = new SequentialOutStreamBufferWriter(buffer, sizeof buffer, &received);
  writer->AddRef();
  const std::string data = randomBytes(100, 1);
  std::uint32_t processed = 0;
  EXPECT_EQ(writer->Write(data.data(), 10, &processed), S_OK);
  EXPECT_EQ(processed, 10u);
  EXPECT_FALSE(writer->StoppedWhenFull());
  // Answering S_OK for bytes not taken would make the engine retry for ever.
  EXPECT_EQ(writer->Write(data.data() + 10, 90, &processed), E_ABORT);
  EXPECT_EQ(processed, 6u);
  EXPECT_EQ(writer->Write(data.data(), 1, &processed), E_ABORT);
  EXPECT_EQ(processed, 0u);
  EXPECT_TRUE(writer->StoppedWhenFull());
  EXPECT_EQ(received, 16u);
  EXPECT_EQ(std::string(buffer, 16), data.substr(0, 16));
  EXPECT_EQ(writer->Release(), 0u);
}

TEST(ZipEntryLookup, OpeningAnotherFileForgetsTheEntriesOfTheFirst) {
  ScratchDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.SetZipFilePath(widePath(makeArchive(dir, "mixed"))));
  ZipEntry entry;
  ASSERT_TRUE(archive.GetZipEntry("five.txt", entry));
  ASSERT_TRUE(archive.SetZipFilePath(widePath(makeArchive(dir, "empty"))));
  captureLog([&] { EXPECT_FALSE(archive.GetZipEntry("five.txt", entry)); });
}
