#include "base/PathUtil.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace RazaDedeZuzev;
using testsupport::ScratchDir;

namespace {
std::u16string wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }
}  // namespace

TEST(JoinPath, AddsTheNativeSeparatorOnlyWhenTheLeftPartLacksOne) {
  EXPECT_EQ(joinPath(u"/srv/a", u"b.txt"), u"/srv/a/b.txt");
  EXPECT_EQ(joinPath(u"C:\\a\\", u"b.txt"), u"C:\\a\\b.txt");
  EXPECT_EQ(joinPath(u"C:/a/", u"b.txt"), u"C:/a/b.txt");
  EXPECT_EQ(joinPath(u"/srv/a", u"/b"), u"/srv/a//b");  // a leading separator stays
  EXPECT_EQ(joinPath(u"", u"b.txt"), u"b.txt");
}

TEST(ParentDirectory, CutsAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(getParentDirectoryPath(u"D:\\x\\y\\z.bin"), u"D:\\x\\y");
  EXPECT_EQ(getParentDirectoryPath(u"D:/x/y/z.bin"), u"D:/x/y");
  EXPECT_EQ(getParentDirectoryPath(u"/x\\y/z"), u"/x\\y");
  EXPECT_EQ(getParentDirectoryPath(u"bare.txt"), u".");
  EXPECT_EQ(getParentDirectoryPath(u""), u".");
  EXPECT_EQ(getParentDirectoryPath(u"/only"), u"");
}

TEST(CreateDirectoryRecursively, CreatesEveryMissingLevelWithEitherSeparator) {
  ScratchDir dir;
  EXPECT_TRUE(createDirectoryRecursively(wide(dir.str() + "/a\\b/c")));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
  EXPECT_TRUE(createDirectoryRecursively(wide(dir.str() + "/a/b/c/")));  // exists: fine
  testsupport::writeFile(dir / "file", "x");
  EXPECT_FALSE(createDirectoryRecursively(wide(dir.str("file"))));
  EXPECT_FALSE(createDirectoryRecursively(wide(dir.str("file") + "/below")));
  EXPECT_FALSE(createDirectoryRecursively(u""));
}

TEST(RegularFileSize, IsTheSizeForFilesAndMinusOneForEverythingElse) {
  ScratchDir dir;
  testsupport::writeFile(dir / "empty", "");
  testsupport::writeFile(dir / "five", "12345");
  std::filesystem::create_symlink(dir / "five", dir / "link");
  EXPECT_EQ(getRegularFileSize(wide(dir.str("empty"))), 0);
  EXPECT_EQ(getRegularFileSize(wide(dir.str("five"))), 5);
  EXPECT_EQ(getRegularFileSize(wide(dir.str("link"))), 5);
  EXPECT_EQ(getRegularFileSize(wide(dir.str())), -1);
  EXPECT_EQ(getRegularFileSize(wide(dir.str("missing"))), -1);
  EXPECT_EQ(getRegularFileSize(wide(dir.str("five") + "/below")), -1);
}
