// Reading the script text: lines, value fields, text blocks, question texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "platform/memory.h"
#include "platform/system.h"
#include "script/script.h"

namespace {

struct Line {
  std::string keyword, value;
  bool has_value, cut;
};

// All lines of a text, read with a value buffer (or without one).
std::vector<Line> lines_of(const std::string& text, bool with_value = true) {
  std::vector<Line> out;
  std::vector<char> keyword(kLineSize), value(kLineSize);
  const char* p = text.c_str();
  bool cut = false, has_value = false;
  while ((p = read_script_line(p, keyword.data(), with_value ? value.data() : nullptr, kLineSize, &cut,
                               &has_value)) != nullptr)
    out.push_back({keyword.data(), with_value ? value.data() : "", has_value, cut});
  return out;
}

std::vector<std::string> fields_of(const std::string& value) {
  std::vector<std::string> out;
  std::vector<char> field(kLineSize);
  for (const char* p = value.c_str(); (p = next_value_field(p, field.data())) != nullptr;) out.push_back(field.data());
  return out;
}

std::string block_of(const std::string& text) {
  char* block = read_text_block(text.c_str());
  std::string s = block;
  mem_free(block);
  return s;
}

}  // namespace

TEST(ScriptLine, LineEndsAndTheFirstEqualsSign) {
  struct Case {
    const char* text;
    std::vector<std::string> keywords, values;
  } cases[] = {
      {"a=1\r\nb=2\nc=3", {"a", "b", "c"}, {"1", "2", "3"}},
      // A lone carriage return swallows the character after it.
      {"a=1\rXb=2", {"a", "b"}, {"1", "2"}},
      {"a=1\r", {"a"}, {"1"}},
      {"\r\n\nx", {"", "", "x"}, {"", "", ""}},
      // Only the first "=" splits; blanks stay where they are.
      {"Path=a=b", {"Path"}, {"a=b"}},
      {" Silent = 1 ", {" Silent "}, {" 1 "}},
      {"Overwrite", {"Overwrite"}, {""}},
  };
  for (const Case& c : cases) {
    std::vector<Line> lines = lines_of(c.text);
    ASSERT_EQ(lines.size(), c.keywords.size()) << c.text;
    for (size_t i = 0; i < lines.size(); i++) {
      EXPECT_EQ(lines[i].keyword, c.keywords[i]) << c.text << " line " << i;
      EXPECT_EQ(lines[i].value, c.values[i]) << c.text << " line " << i;
      EXPECT_FALSE(lines[i].cut);
    }
  }
  std::vector<Line> lines = lines_of("Text\nText=\nk=v");
  EXPECT_FALSE(lines[0].has_value);
  EXPECT_TRUE(lines[1].has_value);
  EXPECT_TRUE(lines[2].has_value);
  // Without a value buffer the "=" is text like any other.
  lines = lines_of("Setup=x.exe /S\n", false);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].keyword, "Setup=x.exe /S");
  EXPECT_FALSE(lines[0].has_value);
}

TEST(ScriptLine, LongLinesArriveInPiecesOf4095) {
  std::string text(5000, 'x');
  std::vector<Line> lines = lines_of(text + "\r\nnext");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].keyword.size(), 4095u);
  EXPECT_TRUE(lines[0].cut);
  EXPECT_EQ(lines[1].keyword.size(), 905u);
  EXPECT_FALSE(lines[1].cut);
  EXPECT_EQ(lines[2].keyword, "next");

  // The "=" counts towards the 4,095 characters of a piece.
  lines = lines_of("K=" + text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].keyword, "K");
  EXPECT_EQ(lines[0].value.size(), 4093u);
  EXPECT_TRUE(lines[0].cut);
  EXPECT_EQ(lines[1].keyword.size(), 907u);
}

TEST(ScriptLine, ValuesAreExpandedKeywordsAndBlocksAreNot) {
  ASSERT_TRUE(set_environment_variable("QUILLO_SCRIPT_TEST", "expanded"));
  std::vector<Line> lines = lines_of("%QUILLO_SCRIPT_TEST%=%QUILLO_SCRIPT_TEST%\\x");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].keyword, "%QUILLO_SCRIPT_TEST%");
  EXPECT_EQ(lines[0].value, "expanded\\x");
  EXPECT_EQ(block_of("{\nsee %QUILLO_SCRIPT_TEST%\n}"), "see %QUILLO_SCRIPT_TEST%\r\n");

  // An expansion longer than a line is cut to 4,095 characters.
  ASSERT_TRUE(set_environment_variable("QUILLO_SCRIPT_TEST", std::string(3000, 'v').c_str()));
  lines = lines_of("Text=%QUILLO_SCRIPT_TEST%%QUILLO_SCRIPT_TEST%");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LE(lines[0].value.size(), 4095u);
  set_environment_variable("QUILLO_SCRIPT_TEST", nullptr);
}

TEST(ScriptFields, QuotesCommasAndBlanks) {
  struct Case {
    const char* value;
    std::vector<std::string> fields;
  } cases[] = {
      {"D,\"my prog.exe\",,\"My, text\"", {"D", "my prog.exe", "", "My, text"}},
      {"\"\",x", {"", "x"}},
      {"\"\"", {""}},
      {"a\"\"b", {"a\"b"}},
      {"\"a\"\"b\",c", {"a\"b", "c"}},
      {"a\"b,c\"d", {"ab,cd"}},
      // A quote with no partner later in the value is an ordinary character.
      {"a\"b,c", {"a\"b", "c"}},
      {"x,y\"", {"x", "y\""}},
      // Blanks before a field or a comma stay; blanks and tabs after a comma go.
      {" a ,  \t b", {" a ", "b"}},
      {"a,", {"a"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(fields_of(c.value), c.fields) << c.value;
}

TEST(ScriptBlock, BracesBlanksAndLimits) {
  struct Case {
    const char* text;
    const char* block;
  } cases[] = {
      {"{\nLine one\nTwo=2  \n}\nafter", "Line one\r\nTwo=2\r\n"},
      // The opening line is skipped whole; the closing line ends the block whatever follows.
      {"{ skipped text\nkept\n} ignored\nafter", "kept\r\n"},
      // Braces are optional; without a closing one the block runs to the end.
      {"first\nsecond", "first\r\nsecond\r\n"},
      {"{\nno end", "no end\r\n"},
      // An opening brace counts only before the first line of text.
      {"a\n{\nb\n}", "a\r\n{\r\nb\r\n"},
      {"}", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(block_of(c.text), c.block) << c.text;

  // A cut line is joined to its rest without a line break.
  std::string long_line = std::string(4095, 'a') + "bbb";
  EXPECT_EQ(block_of("{\n" + long_line + "\n}"), long_line + "\r\n");

  // The block stops before the line that would take it past 65,531 characters.
  std::string text = "{\n";
  for (int i = 0; i < 16; i++) text += std::string(4000, 'x') + "\n";  // 64,000 characters and breaks
  std::string fits = std::string(1500, 'y'), too_long = std::string(40, 'z');
  std::string block = block_of(text + fits + "\n" + too_long + "\n}");
  EXPECT_EQ(block.size(), 16u * 4002u + fits.size() + 2u);
  EXPECT_EQ(block.find('z'), std::string::npos);
}

TEST(ScriptText, QuestionEscapesAndBackslashes) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"Line 1\\nLine 2", "Line 1\nLine 2"},
      {"C:\\\\dir", "C:\\dir"},
      {"\\\\n", "\\n"},
      {"a\\tb\\", "a\\tb\\"},
  };
  for (const Case& c : cases) {
    char text[64];
    std::strcpy(text, c.in);
    unescape_question_text(text);
    EXPECT_STREQ(text, c.out) << c.in;
  }

  // The second byte of a double-byte character is no escape.
  bool was_lead = run_state.lead_byte_table[0x95];
  run_state.lead_byte_table[0x95] = true;
  char dbcs[] = "\x95\\n\\n";
  unescape_question_text(dbcs);
  run_state.lead_byte_table[0x95] = was_lead;
  EXPECT_STREQ(dbcs, "\x95\\n\n");

  for (auto [in, out] : {std::pair<const char*, const char*>{"", "\\"}, {"C:", "C:\\"}, {"C:\\", "C:\\"},
                         {"a\\b", "a\\b\\"}}) {
    char path[kPathSize];
    std::strcpy(path, in);
    append_backslash(path);
    EXPECT_STREQ(path, out) << in;
  }
  char full[kPathSize];
  std::memset(full, 'p', kPathSize - 1);
  full[kPathSize - 1] = 0;
  append_backslash(full);
  EXPECT_EQ(std::strlen(full), static_cast<size_t>(kPathSize - 1));
}
