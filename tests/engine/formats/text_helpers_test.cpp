#include "engine/formats/text_helpers.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace engine;

namespace {

std::string error_of(std::string_view utf8) {
  try {
    utf8_wchar(utf8);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no error";
}

struct UnderscoreOption {
  explicit UnderscoreOption(bool on) { set_remove_underscores(on); }
  ~UnderscoreOption() { set_remove_underscores(false); }
};

}  // namespace

TEST(TextHelpersUtf8, EncodesUnitsOneAtATime) {
  EXPECT_EQ(wchar_utf8(u"A\u00e9"), "A\xC3\xA9");
  EXPECT_EQ(wchar_utf8(u"\u20ac"), "\xE2\x82\xAC");
  const char16_t lone_surrogate[] = {0xD800, 0};
  EXPECT_EQ(wchar_utf8(lone_surrogate), "\xED\xA0\x80");
  EXPECT_EQ(wchar_utf8(u""), "");
}

TEST(TextHelpersUtf8, DecodesAndRoundTrips) {
  EXPECT_EQ(utf8_wchar("A\xC3\xA9\xE2\x82\xAC"), u"A\u00e9\u20ac");
  std::u16string all;
  for (char32_t u = 1; u < 0x10000; u += 7) all += char16_t(u);
  EXPECT_EQ(utf8_wchar(wchar_utf8(all)), all);
}

TEST(TextHelpersUtf8, RefusesBrokenAndOverlongForms) {
  EXPECT_EQ(error_of("\xC3"), "incomplete UTF-8 sequence");
  EXPECT_EQ(error_of("\xE2\x82"), "incomplete UTF-8 sequence");
  EXPECT_EQ(error_of("\xC3\x41"), "invalid UTF-8 sequence");
  EXPECT_EQ(error_of("\xF0\x9F\x98\x80"), "UTF-8 not convertable to UTF-16");
  EXPECT_EQ(error_of("\x80"), "UTF-8 not convertable to UTF-16");
  EXPECT_EQ(error_of("\xF8\x80\x80\x80\x80"), "UTF-8 not convertable to UTF-16");
  // Overlong '.', '/' and NUL.
  EXPECT_EQ(error_of("\xC0\xAE"), "invalid UTF-8 sequence");
  EXPECT_EQ(error_of("\xC0\xAF"), "invalid UTF-8 sequence");
  EXPECT_EQ(error_of("\xC0\x80"), "invalid UTF-8 sequence");
  EXPECT_EQ(error_of("\xE0\x80\xAF"), "invalid UTF-8 sequence");
  EXPECT_EQ(error_of("\xE0\x9F\xBF"), "invalid UTF-8 sequence");
  EXPECT_EQ(error_of("\xE0\xA0\x80"), "no error");  // U+0800, the smallest three-byte form
  EXPECT_EQ(error_of("\xC2\x80"), "no error");      // U+0080
}

TEST(TextHelpersFileNames, UnderscoresOnlyInLastComponentWhenOn) {
  EXPECT_EQ(ReplaceUnderscoresInFileName(u"my_dir/a_b.txt"), u"my_dir/a_b.txt");
  UnderscoreOption on(true);
  EXPECT_EQ(ReplaceUnderscoresInFileName(u"my_dir/a_b.txt"), u"my_dir/a b.txt");
  EXPECT_EQ(ReplaceUnderscoresInFileName(u"my_dir\\a_b.txt"), u"my_dir\\a b.txt");
  EXPECT_EQ(ReplaceUnderscoresInFileName(u"a_b_c"), u"a b c");
  EXPECT_EQ(ToLocalFilePath(std::string("x_y/\xC3\xA9_1")).string(), "x_y/\xC3\xA9 1");
}

TEST(TextHelpersFileNames, LocalPathOfNamesBeyondUtf16FormsKeepsTheirBytes) {
  UnderscoreOption on(true);
  // An emoji (a four-byte form), stray and cut-short bytes, an overlong '/'.
  EXPECT_EQ(ToLocalFilePath(std::string("a_b/\xF0\x9F\x98\x80_x.txt")).string(), "a_b/\xF0\x9F\x98\x80 x.txt");
  EXPECT_EQ(ToLocalFilePath(std::string("\xFF_\x80_\xC3")).string(), "\xFF \x80 \xC3");
  EXPECT_EQ(ToLocalFilePath(std::string("d_1/\xC0\xAF_e")).string(), "d_1/\xC0\xAF e");
}

TEST(TextHelpersFileNames, LocalPathUnchangedWhenOff) {
  EXPECT_EQ(ToLocalFilePath(std::string("x_y/z_1")).string(), "x_y/z_1");
}

TEST(TextHelpersEscape, EscapesAllButUnreserved) {
  const std::string plain = "azAZ09-_.!~*()";
  EXPECT_EQ(escape_string(plain.data(), int(plain.size())), plain);
  EXPECT_EQ(escape_string("\xE4", 1), "%e4");
  EXPECT_EQ(escape_string(" ", 1), "%20");
  EXPECT_EQ(escape_string("\0/", 2), "%00%2f");
  EXPECT_EQ(escape_string("x", 0), "");
}

TEST(TextHelpersEscape, UnescapeRoundTripsAndRefusesBrokenEscapes) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += char(c);
  EXPECT_EQ(unescape_string(escape_string(all.data(), int(all.size()))), all);
  EXPECT_EQ(unescape_string("a+b%2F%2f"), "a b//");
  for (const char* bad : {"%", "%4", "a%zz", "%g0"}) {
    EXPECT_THROW(unescape_string(bad), std::runtime_error) << bad;
  }
}
