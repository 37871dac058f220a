// Text encodings: UTF-8, the ANSI and OEM code pages, byte strings, character helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/text.h"
#include "platform_fixture.h"

using namespace platform_test;

namespace {

TEST(Utf8, DecodesAndStopsAtTheFirstProblem) {
  struct Case {
    const char* text;
    int capacity;
    std::u16string expected;
    long consumed;
  } cases[] = {
      {"\x41\xC3\xA9\x42", 16, u"A\u00e9B", 4},
      {"\x41\xC3\x41", 16, u"A", 1},                              // continuation byte missing
      {"\xF0\x9F\x98\x80", 16, std::u16string{0xD83D, 0xDE00}, 4},  // U+1F600 as a pair
      {"\xF0\x9F\x98\x80", 2, u"", 0},                            // the pair does not fit
      {"\xE4\xB8\xAD\xE6\x96\x87", 16, u"\u4e2d\u6587", 6},
      {"abc", 3, u"ab", 2},                                       // one unit for the terminator
      {"a\x80z", 16, u"a", 1},                                    // stray continuation byte
      {"a\xF8\x88\x80\x80\x80", 16, u"a", 1},
      {"\xF4\x90\x80\x80z", 16, u"", 0},                          // above U+10FFFF
      {"\xE0\x80\xAF", 16, u"/", 3},                              // overlong forms are decoded
      {"\xED\xA0\x80", 16, std::u16string{0xD800}, 3},            // so are encoded surrogates
      {"", 4, u"", 0},
  };
  for (const Case& c : cases) {
    WChar buffer[16];
    const char* end = utf8_to_wide(c.text, buffer, c.capacity);
    EXPECT_EQ(std::u16string(buffer), c.expected) << c.text;
    EXPECT_EQ(end - c.text, c.consumed) << c.text;
  }
  // 0xC0 0x80 is a zero unit, which ends the text for the wide helpers.
  WChar buffer[8];
  utf8_to_wide("\xC0\x80x", buffer, 8);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 'x');
}

TEST(Utf8, EncodesBackWithPairsJoined) {
  const char16_t* texts[] = {u"plain", u"\u00e9\u4e2d", u"\U0001F600!", u""};
  for (const char16_t* t : texts) {
    char utf8[32];
    wide_to_utf8(t, utf8, sizeof(utf8));
    WChar back[32];
    utf8_to_wide(utf8, back, 32);
    EXPECT_EQ(std::u16string(back), std::u16string(t));
  }
  char small[4];
  EXPECT_EQ(wide_to_utf8(u"a\u4e2d", small, sizeof(small)), 1);  // the whole character or nothing
  EXPECT_STREQ(small, "a");
}

TEST(CodePages, AnsiRoundTripAndSmallBuffers) {
  std::u16string wide = u"\u4e2d\u6587 name.txt";  // in code page 936 and in UTF-8
  char narrow[64];
  ASSERT_TRUE(wide_to_ansi(wide.c_str(), narrow, sizeof(narrow)));
  if (std::strchr(narrow, '?')) GTEST_SKIP() << "the ANSI code page lacks the characters";
  WChar back[64];
  ASSERT_TRUE(ansi_to_wide(narrow, back, 64));
  EXPECT_EQ(std::u16string(back), wide);
  EXPECT_FALSE(ansi_to_wide(narrow, back, 3));
  EXPECT_FALSE(wide_to_ansi(wide.c_str(), narrow, 4));
  // The pair of U+1F600 fits into its four UTF-8 bytes exactly.
#ifndef _WIN32
  char five[5];
  EXPECT_TRUE(wide_to_ansi(u"\U0001F600", five, sizeof(five)));
#endif
}

TEST(CodePages, OemConversionsAndTheDisplayBuffer) {
  char ansi[kPathSize];
  oem_to_ansi("plain", ansi);
  EXPECT_STREQ(ansi, "plain");
  char in_place[kPathSize] = "same buffer";
  ansi_to_oem(in_place, in_place);
  EXPECT_STREQ(in_place, "same buffer");
#ifndef _WIN32
  // The OEM code page of the Linux build is 437; its ANSI code page is UTF-8.
  oem_to_ansi("\x82t\x80\xE4", ansi);
  EXPECT_STREQ(ansi, "\xC3\xA9t\xC3\x87\xCE\xA3");
  char oem[kPathSize];
  ansi_to_oem("\xC3\xA9t\xC3\x87\xE4\xB8\xAD", oem);  // U+4E2D has no OEM form
  EXPECT_STREQ(oem, "\x82t\x80?");
  // Long OEM texts are cut before a character that does not fit whole.
  std::string long_oem(700, '\x82');
  oem_to_ansi(long_oem.c_str(), ansi);
  EXPECT_EQ(std::strlen(ansi), 1022u);
#endif
  const char* first = oem_to_ansi_for_display("first");
  const char* second = oem_to_ansi_for_display("second");
  EXPECT_EQ(first, second);
  EXPECT_STREQ(second, "second");
}

TEST(CodePages, UppercaseForSwitchesAndNames) {
  EXPECT_EQ(upper_char_for_names('i'), 'I');
  EXPECT_EQ(upper_char_for_names('d'), 'D');
  EXPECT_EQ(upper_char_oem('s'), 'S');
  EXPECT_EQ(upper_char_oem('-'), '-');
#ifndef _WIN32
  EXPECT_EQ(upper_char_oem('\x87'), '\x80');  // c with cedilla
  EXPECT_EQ(upper_char_oem('\x82'), '\x90');  // e with acute
  EXPECT_EQ(upper_char_oem('\xE5'), '\xE4');  // sigma
  EXPECT_EQ(upper_char_oem('\xE1'), '\xE1');  // sharp s has no single uppercase
#endif
}

TEST(CodePages, LittleEndianByteStrings) {
  uint8_t bytes[16];
  std::memset(bytes, 0xEE, sizeof(bytes));
  wide_to_le_bytes(u"A\u4e2d", bytes, 8);
  const uint8_t expected[] = {0x41, 0x00, 0x2D, 0x4E, 0x00, 0x00, 0xEE};
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof(expected)), 0);
  std::memset(bytes, 0xEE, sizeof(bytes));
  wide_to_le_bytes(u"ABC", bytes, 2);  // stops after the maximum, terminator or not
  EXPECT_EQ(bytes[3], 0x00);
  EXPECT_EQ(bytes[4], 0xEE);
  const uint8_t source[] = {0x2D, 0x4E, 0x41, 0x00, 0x00, 0x00, 0x42, 0x00};
  WChar wide[8];
  for (WChar& w : wide) w = 0x7777;
  le_bytes_to_wide(source, wide, 8);
  EXPECT_EQ(wide[0], 0x4E2D);
  EXPECT_EQ(wide[1], 'A');
  EXPECT_EQ(wide[2], 0);
  EXPECT_EQ(wide[3], 0x7777);
}

TEST(DoubleByte, SearchesNeverStopOnATrailByte) {
  DoubleByteCodePage code_page;
  if (!code_page.available()) GTEST_SKIP() << "single-byte ANSI code page";
  const char* text = "\x81\x5C\\a\x81\x5C";
  EXPECT_EQ(find_char_dbcs(text, '\\'), text + 2);
  EXPECT_EQ(find_last_char_dbcs(text, '\\'), text + 2);
  EXPECT_EQ(find_char_dbcs(text, 'x'), nullptr);
  const char* lone_lead = "a\x81";
  EXPECT_EQ(next_char(lone_lead + 1), lone_lead + 2);  // a lead byte before the end steps one
  EXPECT_EQ(next_char(text), text + 2);
}

TEST(DoubleByte, SingleByteCodePageStepsByteByByte) {
  if (multibyte_code_page()) GTEST_SKIP();
  const char* text = "\x81\x5C\\";
  EXPECT_EQ(find_char_dbcs(text, '\\'), text + 1);
  EXPECT_EQ(find_last_char_dbcs(text, '\\'), text + 2);
}

TEST(WideStrings, Helpers) {
  EXPECT_EQ(wide_length(u"abc"), 3u);
  EXPECT_EQ(wide_parse_decimal(u"0123x9"), 123u);
  EXPECT_EQ(wide_parse_decimal(u"-5"), 0u);
  const WChar* s = u"a;b;c";
  EXPECT_EQ(wide_find(s, ';'), s + 1);
  EXPECT_EQ(wide_find_last(s, ';'), s + 3);
  EXPECT_EQ(wide_find(s, 'z'), nullptr);
  EXPECT_EQ(wide_find_any(s, u"cb"), s + 2);
  WChar buffer[8] = {'x', 'x', 'x', 'x', 'x', 0};
  wide_copy_bounded(buffer, u"abcdef", 3);  // no terminator of its own
  EXPECT_EQ(std::u16string(buffer), u"abcxx");
  wide_copy_bounded(buffer, u"z", 5);  // stops after the terminator
  EXPECT_EQ(buffer[2], 'c');
  wide_copy(buffer, u"ab");
  wide_append(buffer, u"cd");
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  char narrow[4];
  copy_bounded(narrow, "abcdef", sizeof(narrow));
  EXPECT_STREQ(narrow, "abc");
  append_bounded(narrow, "z", sizeof(narrow));
  EXPECT_STREQ(narrow, "abc");
}

}  // namespace
