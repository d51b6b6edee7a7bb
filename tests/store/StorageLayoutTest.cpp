// The store layout and the reading of storage_type.

#include <gtest/gtest.h>

#include "store/StorageLayout.h"

namespace {

using RazaDedeZuzev::makeStorageDirectoryPath;
using RazaDedeZuzev::parseStorageType;

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

}  // namespace
