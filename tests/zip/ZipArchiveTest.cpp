// ZipArchive against the real engine, in this process: the parts that mode
// runs cannot reach (how much of an entry GetZipContentData takes, an index
// the engine does not have, a second SetZipFilePath) and the stop of the
// buffer stream.

#include "zip/ZipArchive.h"

#include <gtest/gtest.h>

#include "support/LogCapture.h"
#include "support/ZipSupport.h"
#include "zip/engine/ComPtr.h"
#include "zip/engine/SequentialOutStreams.h"

using namespace testsupport;
using namespace ziptest;
using RazaDedeZuzev::ZipArchive;
using RazaDedeZuzev::ZipEntry;

namespace {

std::string contentStart(ZipArchive& archive, std::uint64_t index, std::size_t capacity) {
  std::string buffer(capacity, '\0');
  std::uint64_t received = 99;
  EXPECT_TRUE(archive.GetZipContentData(index, buffer.data(), capacity, received));
  buffer.resize(static_cast<std::size_t>(received));
  return buffer;
}

}  // namespace

TEST(ZipArchive, ContentDataTakesAtMostTheCapacityAndRefusesUnknownItems) {
  ScratchDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.SetZipFilePath(makeArchive(dir, "mixed").u16string()));
  EXPECT_EQ(contentStart(archive, 0, 5), "hello");  // stored, 20 bytes
  EXPECT_EQ(contentStart(archive, 8, 5), "12345");  // exactly the capacity
  EXPECT_EQ(contentStart(archive, 1, 2), std::string("\0\1", 2));  // deflated
  char buffer[16];
  std::uint64_t received = 0;
  // The engine would read past its item table for an index it does not have.
  EXPECT_EQ(captureLog([&] { EXPECT_FALSE(archive.GetZipContentData(1000, buffer, 16, received)); }),
            "extract failed\n");

  ZipEntry entry;
  ASSERT_TRUE(archive.GetZipEntry("five.txt", entry));
  ASSERT_TRUE(archive.SetZipFilePath(makeArchive(dir, "empty").u16string()));
  EXPECT_EQ(captureLog([&] { EXPECT_FALSE(archive.GetZipEntry("five.txt", entry)); }),
            "specified name five.txt not found in zip entry list\n");
}

TEST(BufferWriter, StopsTheEngineOnceBytesNoLongerFit) {
  using namespace RazaDedeZuzev::SevenZipArchiveImpl;
  char buffer[16];
  std::uint64_t received = 0;
  const auto writer = makeEngineObject<SequentialOutStreamBufferWriter>(buffer, 16, &received);
  const std::string data = randomBytes(100, 1);
  std::uint32_t processed = 0;
  EXPECT_EQ(writer->Write(data.data(), 10, &processed), S_OK);
  EXPECT_FALSE(writer->StoppedWhenFull());
  // Answering S_OK for bytes not taken would make the engine retry for ever.
  EXPECT_EQ(writer->Write(data.data() + 10, 90, &processed), E_ABORT);
  EXPECT_EQ(processed, 6u);
  EXPECT_TRUE(writer->StoppedWhenFull());
  EXPECT_EQ(received, 16u);
  EXPECT_EQ(std::string(buffer, 16), data.substr(0, 16));
}
