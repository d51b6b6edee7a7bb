#include "base/TextEncoding.h"

#include <gtest/gtest.h>

#include "platform/Utf.h"
#include "support/LogCapture.h"

using namespace RazaDedeZuzev;
using testsupport::captureLog;

TEST(TextEncoding, AnyByteStringRoundTripsExactly) {
  std::string all;
  for (int i = 1; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::string samples[] = {
      "plain", "caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80",  // 2, 3, 4 bytes
      "\xFF\xFE", "\xC3", "\xE6\x97", "\xC0\xAF",                          // invalid, truncated, overlong
      "\xED\xA0\x80", "\xF4\x90\x80\x80", std::string("a\0b", 3), all,     // surrogate, > U+10FFFF
  };
  for (const std::string& sample : samples) {
    EXPECT_EQ(platform::utf16ToUtf8(platform::utf8ToUtf16(sample)), sample);
  }
}

TEST(TextEncoding, ValidUtf8BecomesRealUtf16AndInvalidBytesAreEscaped) {
  EXPECT_EQ(platform::utf8ToUtf16("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(platform::utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(platform::utf8ToUtf16("a\xFF"), std::u16string(u"a\xDCFF"));
}

TEST(TextEncoding, EmptyTextIsRefusedWithTheConvertersMessage) {
  std::u16string wide = u"x";
  std::string narrow = "x";
  const std::string log = captureLog([&] {
    wide = toWideString("");
    narrow = toMultiByteString(u"", kCodePageUtf8);
  });
  EXPECT_TRUE(wide.empty());
  EXPECT_TRUE(narrow.empty());
  EXPECT_EQ(log,
            "MultiByteToWideChar failed to get buffer size (Invalid argument\n)\n"
            "WideCharToMultiByte failed to get buffer size (Invalid argument\n)\n");
}

TEST(TextEncoding, CodePage932HoldsJapaneseAndMarksWhatItCannot) {
  EXPECT_EQ(toMultiByteString(u"a\u65E5\u672C", kCodePageShiftJis), "a\x93\xFA\x96\x7B");
  EXPECT_EQ(toMultiByteString(u"x\u00E9y\U0001F600z", kCodePageShiftJis), "x?y?z");
}
