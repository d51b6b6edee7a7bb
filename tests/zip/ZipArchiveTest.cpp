// ZipArchive against the real engine, in this process: the parts that the
// mode runs cannot reach (how much of an entry GetZipContentData takes, an
// index the engine does not have, a second SetZipFilePath) and the stop of
// the buffer stream.

#include <gtest/gtest.h>

#include "support/ZipSupport.h"
#include "support/LogCapture.h"
#include "zip/engine/SequentialOutStreams.h"
#include "zip/ZipArchive.h"

using namespace testsupport;
using namespace ziptest;
using RazaDedeZuzev::ZipArchive;
using RazaDedeZuzev::ZipEntry;

namespace {

std::u16string widePath(const fs::path& path) { return path.u16string(); }

std::string contentStart(ZipArchive& archive, std::uint64_t index, std::size_t capacity) {
  std::string buffer(capacity, '\0');
  std::uint64_t received = 99;
  EXPECT_TRUE(archive.GetZipContentData(index, buffer.data(), capacity, received));
  buffer.resize(static_cast<std::size_t>(received));
  return buffer;
}

}  // namespace

TEST(ZipContentData, TakesAtMostTheCapacityAndLeavesTheArchiveUsable) {
  ScratchDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.SetZipFilePath(widePath(makeArchive(dir, "mixed"))));
  EXPECT_EQ(contentStart(archive, 0, 5), "hello");     // stored, 20 bytes
  EXPECT_EQ(contentStart(archive, 8, 5), "12345");     // exactly the capacity
  EXPECT_EQ(contentStart(archive, 0, 3), "hel");       // again, after the stop
  EXPECT_EQ(contentStart(archive, 1, 2), std::string("\0\1", 2));  // deflated

  char buffer[16];
  std::uint64_t received = 0;
  // The engine would read past its item table for an index it does not have.
  const std::string log = captureLog(
      [&] { EXPECT_FALSE(archive.GetZipContentData(1000, buffer, sizeof buffer, received)); });
  EXPECT_EQ(log, "extract failed\n");
}

TEST(ZipEntryLookup, OpeningAnotherFileForgetsTheEntriesOfTheFirst) {
  ScratchDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.SetZipFilePath(widePath(makeArchive(dir, "mixed"))));
  ZipEntry entry;
  ASSERT_TRUE(archive.GetZipEntry("five.txt", entry));
  ASSERT_TRUE(archive.SetZipFilePath(widePath(makeArchive(dir, "empty"))));
  const std::string log = captureLog([&] { EXPECT_FALSE(archive.GetZipEntry("five.txt", entry)); });
  EXPECT_EQ(log, "specified name five.txt not found in zip entry list\n");
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
