// The copy command in this process, where a test can change the source
// between opening and copying. Whole copies of every size, existing
// destinations and failures are the end-to-end tests' (tests/e2e).

#include "transfer/FileCopyCommand.h"

#include <gtest/gtest.h>

#include "support/LogCapture.h"
#include "support/TestSupport.h"

using namespace testsupport;
using RazaDedeZuzev::FileCopyCommand;
using RazaDedeZuzev::PendingFile;

// The size is taken when the source is opened: a source that shrinks fails
// and leaves nothing; one that grows is copied and hashed up to that size.
TEST(FileCopyCommand, SourceThatChangesAfterOpeningNeverYieldsOtherBytes) {
  ScratchDir dir;
  const std::string bytes = randomBytes(1500000, 3);
  for (const bool withDigest : {true, false}) {
    writeFile(dir / "source", bytes);
    const std::string log = captureLog([&] {
      FileCopyCommand command;
      ASSERT_TRUE(!withDigest || command.EnableHashCalculation());
      ASSERT_TRUE(command.SetSourceFilePath((dir / "source").u16string()));
      fs::resize_file(dir / "source", 700000);
      PendingFile copy;
      EXPECT_FALSE(command.CopyToPendingFile({(dir / "store/stored").u16string(), (dir / "store").u16string()}, copy));
    });
    EXPECT_EQ(log, "source file ended after 700000 of 1500000 bytes\n");
    EXPECT_TRUE(fs::is_empty(dir / "store"));

    FileCopyCommand command;
    ASSERT_TRUE(!withDigest || command.EnableHashCalculation());
    ASSERT_TRUE(command.SetSourceFilePath((dir / "source").u16string()));
    writeFile(dir / "source", bytes);
    PendingFile copy;
    RazaDedeZuzev::Publisher publisher(nullptr);
    ASSERT_TRUE(command.CopyToPendingFile({(dir / "copy").u16string(), dir.path().u16string()}, copy));
    ASSERT_TRUE(publisher.Add(std::move(copy)) && publisher.Flush());
    EXPECT_EQ(readFile(dir / "copy"), bytes.substr(0, 700000));
    EXPECT_EQ(withDigest ? command.GetCalculatedHash() : "", withDigest ? md5OfBytes(bytes.substr(0, 700000)) : "");
    fs::remove(dir / "copy");
  }
}
