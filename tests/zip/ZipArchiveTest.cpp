// ZipArchive against the real engine, in this process: how much of an entry
// GetZipContentData takes, and an index the engine does not have, which no
// mode run can ask for.

#include "zip/ZipArchive.h"

#include <gtest/gtest.h>

#include "support/LogCapture.h"
#include "support/ZipSupport.h"

using namespace testsupport;

TEST(ZipArchive, ContentDataTakesAtMostTheCapacityAndRefusesUnknownItems) {
  ScratchDir dir;
  RazaDedeZuzev::ZipArchive archive;
  ASSERT_TRUE(archive.SetZipFilePath(ziptest::makeArchive(dir, "mixed").u16string()));
  for (const auto& [index, capacity, start] : {std::tuple{0, 5, std::string("hello")},
                                               std::tuple{8, 5, std::string("12345")},
                                               std::tuple{1, 2, std::string("\0\1", 2)}}) {
    std::string buffer(capacity, '\0');
    std::uint64_t received = 99;
    EXPECT_TRUE(archive.GetZipContentData(index, buffer.data(), buffer.size(), received));
    EXPECT_EQ(buffer.substr(0, received), start);
  }
  char buffer[16];
  std::uint64_t received = 0;
  // The engine would read past its item table for an index it does not have.
  EXPECT_EQ(captureLog([&] { EXPECT_FALSE(archive.GetZipContentData(1000, buffer, 16, received)); }),
            "extract failed\n");
}
