// The store layout and the reading of storage_type.

#include <gtest/gtest.h>

#include "store/StorageLayout.h"

using RazaDedeZuzev::makeStorageDirectoryPath;
using RazaDedeZuzev::parseStorageType;

TEST(StorageLayout, TypeThreeGivesThreeLevelsEveryOtherTypeTwo) {
  constexpr std::u16string_view uuid = u"9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21";
  EXPECT_EQ(makeStorageDirectoryPath(u"/res", uuid, 3), u"/res/9b/1d/e0/");
  for (const std::int32_t type : {0, 1, 2, -3, 30}) {
    EXPECT_EQ(makeStorageDirectoryPath(u"/res/", uuid, type), u"/res/9b/1d/") << type;
  }
  EXPECT_EQ(makeStorageDirectoryPath(u"C:\\res\\", u"ABCDEF", 3), u"C:\\res\\AB/CD/EF/");
  EXPECT_EQ(makeStorageDirectoryPath(u"/r", u"abc", 3), u"/r/ab/c/");  // never past the end
}

TEST(StorageType, ReadLikeTheStandardConversionWithin32Bits) {
  for (const std::u16string_view three : {u"3", u"03", u"+3", u" \t3", u"3abc"}) {
    EXPECT_EQ(parseStorageType(three), 3);
  }
  EXPECT_EQ(parseStorageType(u"-2147483648"), -2147483647 - 1);
  EXPECT_EQ(parseStorageType(u"2147483647"), 2147483647);
  for (const std::u16string_view text : {u"", u"abc", u"+", u"- 3", u"\uFF13", u"2147483648",
                                         u"-2147483649", u"99999999999999999999"}) {
    EXPECT_FALSE(parseStorageType(text).has_value());
  }
}
