#include "client/base/wide_text.h"

#include <gtest/gtest.h>

using namespace client;

TEST(WideText, RoundTripsBeyondAscii) {
  const std::wstring text = L"D:\\Down\u00e9loads\\\u65e5\u672c-\U0001F600.torrent";
  const std::string utf8 = WideToUtf8(text);
  EXPECT_EQ(utf8, "D:\\Down\xC3\xA9loads\\\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.torrent");
  EXPECT_EQ(Utf8ToWide(utf8), text);
  const std::u16string utf16 = WideToUtf16(text);
  EXPECT_EQ(utf16.size(), text.size() + 1);  // the emoji takes a surrogate pair
  EXPECT_EQ(utf16.substr(utf16.size() - 10, 2), (std::u16string{0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToWide(utf16), text);
}

TEST(WideText, MalformedInputBecomesReplacementCharacters) {
  // A stray continuation byte, an overlong '/', a lead byte at the end.
  EXPECT_EQ(Utf8ToWide("a\x80" "b\xC0\xAF" "c\xE6"), L"a\uFFFDb\uFFFD\uFFFDc\uFFFD");
  EXPECT_EQ(Utf16ToWide(std::u16string{u'x', 0xD800}), (std::wstring{L'x', static_cast<wchar_t>(0xD800)}));
}
