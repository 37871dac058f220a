#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory.h"
#include "ui/html_text.h"

namespace {

std::string to_html(const std::string& text) {
  std::vector<char> buffer(6 * text.size() + 256);
  std::copy(text.begin(), text.end(), buffer.begin());
  plain_to_html(buffer.data());
  return buffer.data();
}

std::string to_plain(const char* text) {
  char* plain = html_to_plain(text);
  std::string s = plain;
  mem_free(plain);
  return s;
}

const std::string kStyle = "<style>body{font-family:\"Arial\";font-size:12;}</style>";

}  // namespace

TEST(HtmlText, LooksLikeHtml) {
  struct Case {
    const char* text;
    bool html;
  } cases[] = {
      {"<b>bold</b>", true},
      {"a </x>", true},
      {"</12345678901234567>", true},     // ">" at offset 19
      {"</123456789012345678>", false},   // ">" at offset 20
      {"<b>bold</b", false},
      {"</", false},
      {"1 < 2 and 3 > 2", false},
      {"<br><br>", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(looks_like_html(c.text), c.html) << c.text;
}

TEST(HtmlText, PlainToHtml) {
  struct Case {
    const char* text;
    const char* body;
  } cases[] = {
      {"A  B", "A &nbsp;B"},
      {"A   B", "A &nbsp;&nbsp;B"},
      {" x", " x"},
      {"one\r\ntwo", "one\r\ntwo"},
      {"one\r\n\r\ntwo", "one<br>two"},
      {"one\r\n\r\n\r\ntwo", "one<br><br>two"},
      {"end\r\n\r\n", "end<br>"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(to_html(c.text), kStyle + c.body) << c.text;
}

TEST(HtmlText, HtmlToPlain) {
  struct Case {
    const char* text;
    const char* plain;
  } cases[] = {
      {"<b>first</b><br>second", "first\r\nsecond"},
      {"<p>one</p><P>two</P>", "one\r\n\r\ntwo\r\n\r\n"},
      {"<style>b{x:1;}</style>text</b>", "text"},
      {"a&amp;b &lt;c</b>", "ab c"},
      {"a & b</b>", "a & b"},                    // no ";" within reach: an ordinary "&"
      {"x&12345678901234567890;</b>", "x&12345678901234567890;"},
      {"line\r\nbreak\r\n\r\n  end</b>", "line break end"},
      {"  two  blanks", "two blanks"},          // no end tag: blanks still merge
      {"keep\r\nplain", "keep\r\nplain"},         // no end tag: line ends stay
      {"<unclosed", ""},
      {"<style>never closed", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(to_plain(c.text), c.plain) << c.text;
}

TEST(HtmlText, DefaultIntroductionFallback) {
  // The fallback of the start dialog's default introduction.
  const char* intro =
      " <style>body{}</style><ul><li>Press <b>Install</b>.</li><br><br> <li>Use <b>Browse</b>.</lI><br><br>"
      " <lI>Created.</lI></ul>";
  EXPECT_EQ(to_plain(intro), "Press Install.\r\n\r\n Use Browse.\r\n\r\n Created.");
}
