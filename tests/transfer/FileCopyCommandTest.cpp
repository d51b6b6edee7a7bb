// The copy command in this process, where a test can change the source
// between opening and copying. Whole copies of every size, existing
// destinations and failures are the end-to-end tests' (tests/e2e).

#include "transfer/FileCopyCommand.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace testsupport;
using namespace RazaDedeZuzev;

// The size is taken when the source is opened: a source that shrinks fails
// and leaves nothing; one that grows is copied and hashed up to that size.
// Both with a digest (through buffers) and without (by the kernel).
TEST(FileCopyCommand, SourceThatChangesAfterOpeningNeverYieldsOtherBytes) {
  ScratchDir dir;
  const std::string bytes = randomBytes(1500000, 3);
  for (const bool withDigest : {true, false}) {
    for (const bool shrinks : {true, false}) {
      writeFile(dir / "source", shrinks ? bytes : bytes.substr(0, 700000));
      bool copied = false;
      std::shared_ptr<PendingDigest> digest;
      FileCopyCommand command;
      const std::string log = captureLog([&] {
        ASSERT_TRUE(!withDigest || command.EnableHashCalculation());
        ASSERT_TRUE(command.SetSourceFilePath((dir / "source").u16string()));
        shrinks ? fs::resize_file(dir / "source", 700000) : writeFile(dir / "source", bytes);
        PendingFile copy;
        Publisher publisher(nullptr, 1);
        copied = command.CopyToPendingFile({(dir / "out/copy").u16string(), (dir / "out").u16string()}, copy);
        digest = copy.digest;
        copied = copied && publisher.Add(std::move(copy)) && publisher.Flush();
      });
      EXPECT_EQ(log, shrinks ? "source file ended after 700000 of 1500000 bytes\n" : "");
      EXPECT_EQ(copied, !shrinks);
      EXPECT_EQ(pathExists(dir / "out") ? std::distance(fs::directory_iterator(dir / "out"), {}) : 0, shrinks ? 0 : 1);
      EXPECT_EQ(pathExists(dir / "out/copy") ? readFile(dir / "out/copy") : "none", shrinks ? "none" : bytes.substr(0, 700000));
      EXPECT_EQ(digest ? digest->WaitForHex() : "", withDigest && !shrinks ? md5OfBytes(bytes.substr(0, 700000)) : "");
      fs::remove_all(dir / "out");
    }
  }
}
