#include "base/Logger.h"

#include <gtest/gtest.h>

#include "support/LogCapture.h"

using namespace RazaDedeZuzev;
using testsupport::captureLog;

TEST(Logger, WritesExactlyWhatIsInsertedAndCreatesTheFileOnlyOnTheFirstMessage) {
  testsupport::ScratchDir dir;
  const auto errorFile = dir / "run.err";
  Logger& logger = Logger::GetInstance();
  logger.errorFilePath = errorFile.u16string();
  {
    AutoCloseLogger guard;
    EXPECT_FALSE(testsupport::pathExists(errorFile));
    logger << "no line end" << std::uint32_t{42} << "|" << std::uint64_t{18446744073709551615u}
           << std::string("a\0b", 3) << "\n";
    logger << "second\n";
  }
  EXPECT_EQ(testsupport::readFile(errorFile), "no line end42|18446744073709551615a\nsecond\n");
  EXPECT_TRUE(logger.errorFilePath.empty());
}

TEST(Logger, ARunWithoutMessagesLeavesAnOlderErrorFileAlone) {
  testsupport::ScratchDir dir;
  const auto errorFile = dir / "run.err";
  testsupport::writeFile(errorFile, "from before\n");
  Logger::GetInstance().errorFilePath = errorFile.u16string();
  { AutoCloseLogger guard; }
  EXPECT_EQ(testsupport::readFile(errorFile), "from before\n");
}

TEST(Logger, SystemErrorTextsAreEnglishWithTheirLineBreak) {
  EXPECT_EQ(GetLastErrorMessage(std::make_error_code(std::errc::no_such_file_or_directory)),
            "No such file or directory\n");
  EXPECT_EQ(captureLog([] {
              Logger::GetInstance() << "open failed: "
                                    << GetLastErrorMessage(std::make_error_code(std::errc::permission_denied))
                                    << "\n";
            }),
            "open failed: Permission denied\n\n");
}
