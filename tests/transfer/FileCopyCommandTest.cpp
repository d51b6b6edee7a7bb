// The copy commands on real files: chunking, digests, the never-overwrite
// rule, and the publication of stored files.

#include "transfer/FileCopyCommand.h"

#include <gtest/gtest.h>

#include "platform/File.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

namespace {

using namespace testsupport;
using RazaDedeZuzev::FileCopyCommand;
namespace platform = RazaDedeZuzev::platform;

std::u16string wide(const fs::path& path) { return path.u16string(); }

std::size_t entryCount(const fs::path& directory) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(directory), {}));
}

// Copies with a digest; returns the digest, empty when the copy failed.
std::string copy(const fs::path& source, const fs::path& destination, bool stored) {
  FileCopyCommand command;
  EXPECT_TRUE(command.EnableHashCalculation());
  EXPECT_TRUE(command.SetSourceFilePath(wide(source)));
  const bool copied = stored ? command.CopyToStoredFile(wide(destination))
                             : command.CopyToFile(wide(destination));
  EXPECT_EQ(command.GetSourceSize(), fs::file_size(source));
  return copied ? command.GetCalculatedHash() : "";
}

class PlainAndStored : public ::testing::TestWithParam<bool> {};

TEST_P(PlainAndStored, CopiesEverySizeAroundTheChunkWithItsDigest) {
  ScratchDir dir;
  for (const std::size_t size : {0, 1, 65535, 65536, 65537, 3 * 1024 * 1024 + 7}) {
    const std::string bytes = randomBytes(size, static_cast<std::uint32_t>(size));
    writeFile(dir / "source", bytes);
    const fs::path destination = dir / ("a/b/" + std::to_string(size));
    EXPECT_EQ(copy(dir / "source", destination, GetParam()), md5Hex(dir / "source")) << size;
    EXPECT_EQ(readFile(destination), bytes) << size;
  }
  EXPECT_EQ(entryCount(dir / "a/b"), 6u) << "no temporary file may remain";
}

// An existing destination keeps its bytes and time stamp; the digest is
// still that of the whole source.
TEST_P(PlainAndStored, LeavesAnExistingDestinationUntouchedButHashesTheSource) {
  ScratchDir dir;
  writeFile(dir / "source", randomBytes(200000, 7));
  writeFile(dir / "destination", "older content");
  const auto oldTime = fs::file_time_type::clock::now() - std::chrono::hours(5);
  fs::last_write_time(dir / "destination", oldTime);
  EXPECT_EQ(copy(dir / "source", dir / "destination", GetParam()), md5Hex(dir / "source"));
  EXPECT_EQ(readFile(dir / "destination"), "older content");
  EXPECT_EQ(fs::last_write_time(dir / "destination"), oldTime);
  EXPECT_EQ(entryCount(dir.path()), 2u);
}

INSTANTIATE_TEST_SUITE_P(Copies, PlainAndStored, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Stored" : "Plain"; });

TEST(FileCopyCommand, SourceFailuresAreReportedWordForWord) {
  ScratchDir dir;
  writeFile(dir / "source", "x");
  const std::string log = captureLog([&] {
    FileCopyCommand command;
    EXPECT_FALSE(command.SetSourceFilePath(wide(dir / "missing")));
    EXPECT_TRUE(command.SetSourceFilePath(wide(dir / "source")));
    EXPECT_FALSE(command.SetSourceFilePath(wide(dir / "source")));
    EXPECT_EQ(command.GetCalculatedHash(), "");
  });
  EXPECT_EQ(log, "failed to open file: " + (dir / "missing").string() +
                     ": No such file or directory\n\nsource file already defined\n"
                     "call EnableHashCalculation beforehand\n");
}

// The size is taken when the source is opened: a source that shrinks fails
// and stores nothing; one that grows is copied up to that size.
TEST(FileCopyCommand, SourceThatChangesAfterOpeningNeverYieldsOtherBytes) {
  ScratchDir dir;
  const std::string bytes = randomBytes(100000, 3);
  writeFile(dir / "source", bytes);
  const std::string log = captureLog([&] {
    FileCopyCommand command;
    ASSERT_TRUE(command.SetSourceFilePath(wide(dir / "source")));
    fs::resize_file(dir / "source", 70000);
    EXPECT_FALSE(command.CopyToStoredFile(wide(dir / "store/stored")));
  });
  EXPECT_EQ(log, "source file ended after 70000 of 100000 bytes\n");
  EXPECT_EQ(entryCount(dir / "store"), 0u);

  writeFile(dir / "source", bytes.substr(0, 70000));
  FileCopyCommand command;
  ASSERT_TRUE(command.EnableHashCalculation());
  ASSERT_TRUE(command.SetSourceFilePath(wide(dir / "source")));
  writeFile(dir / "source", bytes);
  ASSERT_TRUE(command.CopyToFile(wide(dir / "copy")));
  EXPECT_EQ(readFile(dir / "copy"), bytes.substr(0, 70000));
  EXPECT_EQ(command.GetCalculatedHash(), md5OfBytes(bytes.substr(0, 70000)));
}

// Both ways of making a temporary file: the unnamed one where the file
// system has it, and the named one, which must clean up after itself.
using TemporaryFileMaker = std::error_code (*)(std::u16string_view, std::u16string_view,
                                               platform::TemporaryFile&);
class Publication : public ::testing::TestWithParam<TemporaryFileMaker> {};

TEST_P(Publication, OnlyACompleteFileGetsTheNameAndAnExistingNameWins) {
  ScratchDir dir;
  const auto writeTemporary = [&](const std::string& bytes) {
    platform::TemporaryFile file;
    EXPECT_FALSE(GetParam()(wide(dir.path()), u".test-", file));
    std::size_t written = 0;
    EXPECT_FALSE(platform::writeFile(file.file.get(), bytes.data(), bytes.size(), written));
    return file;
  };
  platform::TemporaryFile first = writeTemporary("first");
  EXPECT_FALSE(platform::publishTemporaryFile(first, wide(dir / "final")));
  platform::TemporaryFile second = writeTemporary("second");
  EXPECT_EQ(platform::publishTemporaryFile(second, wide(dir / "final")), std::errc::file_exists);
  platform::TemporaryFile dropped = writeTemporary("dropped");
  platform::discardTemporaryFile(dropped);
  EXPECT_EQ(readFile(dir / "final"), "first");
  EXPECT_EQ(entryCount(dir.path()), 1u);
}

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, Publication,
                         ::testing::Values(&platform::createTemporaryFile,
                                           &platform::createNamedTemporaryFile),
                         [](const auto& info) { return info.index == 0 ? "Unnamed" : "Named"; });

}  // namespace
