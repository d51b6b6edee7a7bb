// The store layout and the checks of a record's store fields.

#include <gtest/gtest.h>

#include "store/StorageLayout.h"
#include "support/LogCapture.h"

namespace {

using RazaDedeZuzev::locateStoredFile;
using RazaDedeZuzev::makeStorageDirectoryPath;
using RazaDedeZuzev::parseStorageType;
using RazaDedeZuzev::StoredFileLocation;

constexpr std::u16string_view kUuid = u"9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21";

TEST(StorageLayout, TypeThreeGivesThreeLevelsEveryOtherTypeTwo) {
  EXPECT_EQ(makeStorageDirectoryPath(u"/res", kUuid, 3), u"/res/9b/1d/e0/");
  for (const std::int32_t type : {0, 1, 2, -3, 30}) {
    EXPECT_EQ(makeStorageDirectoryPath(u"/res", kUuid, type), u"/res/9b/1d/") << type;
  }
}

TEST(StorageLayout, RootEndingInEitherSeparatorGetsNoOtherOne) {
  EXPECT_EQ(makeStorageDirectoryPath(u"/res/", kUuid, 1), u"/res/9b/1d/");
  EXPECT_EQ(makeStorageDirectoryPath(u"C:\\res\\", kUuid, 1), u"C:\\res\\9b/1d/");
  EXPECT_EQ(makeStorageDirectoryPath(u"rel", u"ABCDEF", 3), u"rel/AB/CD/EF/");
}

TEST(StorageLayout, ShortUuidNeverReadsPastItsEnd) {
  EXPECT_EQ(makeStorageDirectoryPath(u"/r", u"abc", 3), u"/r/ab/c/");
  EXPECT_EQ(makeStorageDirectoryPath(u"/r", u"", 1), u"/r/");
}

TEST(StorageType, ReadLikeTheStandardConversion) {
  EXPECT_EQ(parseStorageType(u"3"), 3);
  EXPECT_EQ(parseStorageType(u"03"), 3);
  EXPECT_EQ(parseStorageType(u"+3"), 3);
  EXPECT_EQ(parseStorageType(u" \t3"), 3);
  EXPECT_EQ(parseStorageType(u"3abc"), 3);
  EXPECT_EQ(parseStorageType(u"-3"), -3);
  EXPECT_EQ(parseStorageType(u"2147483647"), 2147483647);
  EXPECT_EQ(parseStorageType(u"-2147483648"), -2147483647 - 1);
  EXPECT_EQ(parseStorageType(u"000000000000000000001"), 1);
}

TEST(StorageType, WithoutDigitsOrOutOfRangeIsRefused) {
  for (const std::u16string_view text :
       {u"", u" ", u"abc", u"+", u"- 3", u"\uFF13", u"2147483648", u"-2147483649",
        u"99999999999999999999"}) {
    EXPECT_FALSE(parseStorageType(text).has_value());
  }
}

TEST(LocateStoredFile, ComposesDirectoryAndFile) {
  StoredFileLocation location;
  ASSERT_TRUE(locateStoredFile(u"/res", kUuid, u"3", location));
  EXPECT_EQ(location.directory, u"/res/9b/1d/e0/");
  EXPECT_EQ(location.path, u"/res/9b/1d/e0/9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21");
}

TEST(LocateStoredFile, EachBadFieldGivesOneLineNamingItsValue) {
  StoredFileLocation location;
  const std::string log = testsupport::captureLog([&] {
    EXPECT_FALSE(locateStoredFile(u"/res", u"abcd", u"x1", location));
    EXPECT_FALSE(locateStoredFile(u"/res", u"abcd", u"4294967296", location));
    EXPECT_FALSE(locateStoredFile(u"", u"abcd", u"1", location));
    EXPECT_FALSE(locateStoredFile(u"/res", u"abcde", u"3", location));
    EXPECT_FALSE(locateStoredFile(u"/res", u"", u"1", location));
    EXPECT_TRUE(locateStoredFile(u"/res", u"abcd", u"1", location));
  });
  EXPECT_EQ(log,
            "invalid storage_type \"x1\" for uuid \"abcd\"\n"
            "invalid storage_type \"4294967296\" for uuid \"abcd\"\n"
            "empty private_resource_dir_path for uuid \"abcd\"\n"
            "uuid \"abcde\" is too short for storage_type \"3\" (the store layout needs 6 characters)\n"
            "uuid \"\" is too short for storage_type \"1\" (the store layout needs 4 characters)\n");
}

}  // namespace
