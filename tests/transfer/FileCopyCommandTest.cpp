// The copy commands on real files: chunking, digests, the never-overwrite
// rule, and the publication of stored files.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "transfer/FileCopyCommand.h"
#include "platform/File.h"
#include "platform/Utf.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

namespace {

using namespace testsupport;
using RazaDedeZuzev::FileCopyCommand;

std::u16string wide(const fs::path& path) { return RazaDedeZuzev::platform::utf8ToUtf16(path.string()); }

struct CopyOutcome {
  bool copied = false;
  std::string digest;
  std::uint64_t size = 0;
};

CopyOutcome copyWithDigest(const fs::path& source, const fs::path& destination, bool stored) {
  FileCopyCommand command;
  CopyOutcome outcome;
  EXPECT_TRUE(command.EnableHashCalculation());
  EXPECT_TRUE(command.SetSourceFilePath(wide(source)));
  outcome.copied = stored ? command.CopyToStoredFile(wide(destination))
                          : command.CopyToFile(wide(destination));
  outcome.size = command.GetSourceSize();
  if (outcome.copied) outcome.digest = command.GetCalculatedHash();
  return outcome;
}

std::size_t entryCount(const fs::path& directory) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory)) ++count;
  return count;
}

// Sizes around the 65,536-byte chunk, and one of several MiB.
class CopySizes : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {};

TEST_P(CopySizes, DestinationAndDigestMatchTheSource) {
  const auto [size, stored] = GetParam();
  ScratchDir dir;
  const std::string bytes = randomBytes(size, static_cast<std::uint32_t>(size));
  writeFile(dir / "source", bytes);

  const CopyOutcome outcome = copyWithDigest(dir / "source", dir / "a/b/c/destination", stored);

  ASSERT_TRUE(outcome.copied);
  EXPECT_EQ(outcome.size, size);
  EXPECT_EQ(readFile(dir / "a/b/c/destination"), bytes);
  EXPECT_EQ(outcome.digest, md5Hex(dir / "source"));
  EXPECT_EQ(entryCount(dir / "a/b/c"), 1u) << "no temporary name may remain";
}

INSTANTIATE_TEST_SUITE_P(AroundTheChunkSize, CopySizes,
                         ::testing::Combine(::testing::Values(0, 1, 65535, 65536, 65537,
                                                              3 * 1024 * 1024 + 7),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::to_string(std::get<0>(info.param)) + "Bytes" +
                                  (std::get<1>(info.param) ? "Stored" : "Plain");
                         });

// An existing destination keeps its bytes and its time stamp, and the digest
// is still that of the whole source, for both kinds of copy.
class ExistingDestination : public ::testing::TestWithParam<bool> {};

TEST_P(ExistingDestination, IsLeftUntouchedWhileTheSourceIsStillHashed) {
  ScratchDir dir;
  const std::string bytes = randomBytes(200000, 7);
  writeFile(dir / "source", bytes);
  writeFile(dir / "destination", "older content");
  const auto oldTime = fs::file_time_type::clock::now() - std::chrono::hours(5);
  fs::last_write_time(dir / "destination", oldTime);

  const CopyOutcome outcome = copyWithDigest(dir / "source", dir / "destination", GetParam());

  EXPECT_TRUE(outcome.copied);
  EXPECT_EQ(outcome.digest, md5Hex(dir / "source"));
  EXPECT_EQ(outcome.size, bytes.size());
  EXPECT_EQ(readFile(dir / "destination"), "older content");
  EXPECT_EQ(fs::last_write_time(dir / "destination"), oldTime);
  EXPECT_EQ(entryCount(dir.path()), 2u);
}

INSTANTIATE_TEST_SUITE_P(PlainAndStored, ExistingDestination, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Stored" : "Plain"; });

TEST(FileCopyCommand, SourceFailuresAreReportedWordForWord) {
  ScratchDir dir;
  writeFile(dir / "source", "x");
  const std::string missing = (dir / "missing").string();
  const std::string log = captureLog([&] {
    FileCopyCommand command;
    EXPECT_FALSE(command.SetSourceFilePath(wide(missing)));
    EXPECT_TRUE(command.SetSourceFilePath(wide(dir / "source")));
    EXPECT_FALSE(command.SetSourceFilePath(wide(dir / "source")));
    EXPECT_EQ(command.GetCalculatedHash(), "");
  });
  EXPECT_EQ(log, "failed to open file: " + missing + ": No such file or directory\n\n" +
                     "source file already defined\n" + "call EnableHashCalculation beforehand\n");
}

// The size is taken when the source is opened; a source that changes after
// that must neither loop nor yield bytes beyond that size.
TEST(FileCopyCommand, SourceThatShrankFailsAndStoresNothing) {
  ScratchDir dir;
  writeFile(dir / "source", randomBytes(100000, 3));
  std::string log = captureLog([&] {
    FileCopyCommand command;
    ASSERT_TRUE(command.SetSourceFilePath(wide(dir / "source")));
    fs::resize_file(dir / "source", 70000);
    EXPECT_FALSE(command.CopyToStoredFile(wide(dir / "store/stored")));
  });
  EXPECT_EQ(log, "source file ended after 70000 of 100000 bytes\n");
  EXPECT_FALSE(pathExists(dir / "store/stored"));
  EXPECT_EQ(entryCount(dir / "store"), 0u);
}

TEST(FileCopyCommand, SourceThatGrewIsCopiedUpToItsOpeningSize) {
  ScratchDir dir;
  const std::string bytes = randomBytes(70000, 4);
  writeFile(dir / "source", bytes);
  FileCopyCommand command;
  ASSERT_TRUE(command.EnableHashCalculation());
  ASSERT_TRUE(command.SetSourceFilePath(wide(dir / "source")));
  writeFile(dir / "source", bytes + randomBytes(100000, 5));
  ASSERT_TRUE(command.CopyToFile(wide(dir / "copy")));
  EXPECT_EQ(readFile(dir / "copy"), bytes);
  writeFile(dir / "expected", bytes);
  EXPECT_EQ(command.GetCalculatedHash(), md5Hex(dir / "expected"));
}

// Both ways of making a temporary file: the unnamed one where the file system
// has it, and the named fallback, which must clean up after itself.
namespace platform = RazaDedeZuzev::platform;

using TemporaryFileMaker = std::error_code (*)(std::u16string_view, std::u16string_view,
                                               platform::TemporaryFile&);

class Publication : public ::testing::TestWithParam<TemporaryFileMaker> {
 protected:
  platform::TemporaryFile writeTemporary(const fs::path& directory, const std::string& bytes) {
    platform::TemporaryFile file;
    EXPECT_FALSE(GetParam()(wide(directory), u".test-", file));
    std::size_t written = 0;
    EXPECT_FALSE(platform::writeFile(file.file.get(), bytes.data(), bytes.size(), written));
    EXPECT_EQ(written, bytes.size());
    return file;
  }
};

TEST_P(Publication, CompleteFileAppearsUnderItsNameAlone) {
  ScratchDir dir;
  platform::TemporaryFile file = writeTemporary(dir.path(), "stored bytes");
  EXPECT_FALSE(platform::publishTemporaryFile(file, wide(dir / "final")));
  EXPECT_FALSE(file.file);
  EXPECT_EQ(readFile(dir / "final"), "stored bytes");
  EXPECT_EQ(entryCount(dir.path()), 1u);
}

TEST_P(Publication, ExistingNameWinsAndUnpublishedFilesLeaveNothing) {
  ScratchDir dir;
  writeFile(dir / "final", "first");
  platform::TemporaryFile file = writeTemporary(dir.path(), "second");
  EXPECT_EQ(platform::publishTemporaryFile(file, wide(dir / "final")), std::errc::file_exists);
  EXPECT_EQ(readFile(dir / "final"), "first");
  platform::TemporaryFile dropped = writeTemporary(dir.path(), "dropped");
  platform::discardTemporaryFile(dropped);
  EXPECT_EQ(entryCount(dir.path()), 1u);
}

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, Publication,
                         ::testing::Values(&platform::createTemporaryFile,
                                           &platform::createNamedTemporaryFile),
                         [](const auto& info) { return info.index == 0 ? "Unnamed" : "Named"; });

}  // namespace
