// Paths, text conversion and the Logger.

#include <gtest/gtest.h>

#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "platform/Utf.h"
#include "support/TestSupport.h"

using namespace RazaDedeZuzev;
using testsupport::readFile;

TEST(Paths, JoinAddsOneNativeSeparatorAndParentCutsAtEitherKind) {
  EXPECT_EQ(joinPath(u"/srv/a", u"b.txt"), u"/srv/a/b.txt");
  EXPECT_EQ(joinPath(u"C:\\a\\", u"b") + joinPath(u"C:/a/", u"b"), u"C:\\a\\bC:/a/b");
  EXPECT_EQ(joinPath(u"/srv/a", u"/b") + joinPath(u"", u"b"), u"/srv/a//bb");  // a leading separator stays
  EXPECT_EQ(getParentDirectoryPath(u"D:\\x\\y\\z.bin") + getParentDirectoryPath(u"/x\\y/z"), u"D:\\x\\y/x\\y");
  EXPECT_EQ(getParentDirectoryPath(u"bare") + getParentDirectoryPath(u"") + getParentDirectoryPath(u"/only"), u"..");
}

TEST(Text, AnyByteStringRoundTripsAndValidUtf8BecomesRealUtf16) {
  std::string all;
  for (int i = 1; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (const std::string& sample : {std::string("\xFF\xC3\xE6\x97\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80"),
                                    std::string("a\0b", 3), all}) {
    EXPECT_EQ(platform::utf16ToUtf8(platform::utf8ToUtf16(sample)), sample);
  }
  EXPECT_EQ(platform::utf8ToUtf16("caf\xC3\xA9\xF0\x9F\x98\x80"), u"caf\u00E9\U0001F600");
  EXPECT_EQ(toMultiByteString(u"a\u65E5\u672C\u00E9", kCodePageShiftJis), "a\x93\xFA\x96\x7B?");
  const std::string log = testsupport::captureLog([] {
    EXPECT_TRUE(toWideString("").empty() && toMultiByteString(u"", kCodePageUtf8).empty());
  });
  EXPECT_EQ(log, "MultiByteToWideChar failed to get buffer size (Invalid argument\n)\n"
                 "WideCharToMultiByte failed to get buffer size (Invalid argument\n)\n");
}

// The error file is made by the first message, holds exactly what was
// inserted, and is left alone by a run without messages. A message that
// finds no error file (no descriptor left, say) waits until the run ends.
TEST(Logger, WritesExactlyWhatIsInsertedIntoAFileMadeOnTheFirstMessage) {
  testsupport::ScratchDir dir;
  testsupport::writeFile(dir / "quiet.err", "from before\n");
  Logger& logger = Logger::GetInstance();
  logger.errorFilePath = (dir / "quiet.err").u16string();
  { AutoCloseLogger guard; }
  EXPECT_EQ(readFile(dir / "quiet.err"), "from before\n");
  logger.errorFilePath = (dir / "later/run.err").u16string();
  {
    AutoCloseLogger guard;
    logger << "no line end" << std::uint32_t{42} << "|" << std::uint64_t{18446744073709551615u}
           << std::string("a\0b", 3) << "\n" << GetLastErrorMessage(std::make_error_code(std::errc::permission_denied));
    std::filesystem::create_directory(dir / "later");
  }
  EXPECT_EQ(readFile(dir / "later/run.err"), "no line end42|18446744073709551615a\nPermission denied\n");
  EXPECT_TRUE(logger.errorFilePath.empty());
}
