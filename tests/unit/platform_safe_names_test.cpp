// Archived names made safe: no name may reach outside the destination or a device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"
#include "platform/scan.h"
#include "platform/text.h"
#include "platform_fixture.h"

using namespace platform_test;

namespace {

std::u16string widen(const char* ascii) {
  std::u16string w;
  for (const char* p = ascii; *p; p++) w += static_cast<char16_t>(static_cast<unsigned char>(*p));
  return w;
}

std::string safe_narrow(const char* name) {
  char buffer[kPathSize];
  make_safe_relative(name, buffer);
  return buffer;
}

std::u16string safe_wide(const std::u16string& name) {
  WChar buffer[kPathSize];
  make_safe_relative(name.c_str(), buffer);
  return buffer;
}

TEST(SafeRelative, StripsDrivesRootsAndClimbs) {
  struct Case {
    const char* name;
    const char* narrow;
    const char* wide;
  } cases[] = {
      {"..\\..\\x", "x", "x"},
      {"a\\..\\..\\b", "b", "b"},
      {"D:\\dir\\f", "dir\\f", "dir\\f"},
      {"\\\\srv\\share\\f", "f", "f"},
      {"./f", "f", "f"},
      {"...f", "...f", "...f"},
      {"..", "", ""},
      {"a\\..", "a\\..", "a\\.."},
      {"D:\\\\srv\\share\\f", "srv\\share\\f", "f"},
      {"\\\\?\\C:\\x", "x", "x"},
      {"\\\\.\\CON", "CON", "CON"},
      {"\\\\srv\\share", "srv\\share", "srv\\share"},
      {"/etc/passwd", "etc/passwd", "etc/passwd"},
      {"//srv/share/f", "srv/share/f", "srv/share/f"},
      {"\\x", "x", "x"},
      {"C:..\\x", "x", "x"},
      {"C:..", "", ""},
      {"C:\\C:\\x", "x", "x"},
      {"a/../../b", "b", "b"},
      {"a\\b\\..\\..", "", ""},
      {"..\\", "", ""},
      {"a\\.\\..\\..\\x\\y", "x\\y", "x\\y"},
      {".\\..\\.\\x", "x", "x"},
      {"a\\/..\\/b", "b", "b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(safe_narrow(c.name), c.narrow) << c.name;
    EXPECT_EQ(safe_wide(widen(c.name)), widen(c.wide)) << c.name;
  }
  // The result points into the name; no buffer is needed.
  const char* name = "C:\\x\\y";
  EXPECT_EQ(make_safe_relative(name, nullptr), name + 3);
}

struct SystemSafeCase {
  const char* name;
  const char* posix;
  const char* windows;
};

const SystemSafeCase kSystemSafeCases[] = {
    {"a\\b.txt", "a\\b.txt", "a\\b.txt"},
    {"con", "con", "_con"},
    {"CON.txt", "CON.txt", "_CON.txt"},
    {"NUL ", "NUL ", "_NUL_"},
    {"aux.tar.gz", "aux.tar.gz", "_aux.tar.gz"},
    {"dir\\com1\\f", "dir\\com1\\f", "dir\\_com1\\f"},
    {"Lpt9.log", "Lpt9.log", "_Lpt9.log"},
    {"prn", "prn", "_prn"},
    {"COM0", "COM0", "_COM0"},
    {"COM10", "COM10", "COM10"},
    {"CONSOLE", "CONSOLE", "CONSOLE"},
    {"xcon", "xcon", "xcon"},
    {"conin$", "conin$", "_conin$"},
    {"CONOUT$.x", "CONOUT$.x", "_CONOUT$.x"},
    {"con:stream", "con:stream", "_con:stream"},
    {"CON .txt", "CON .txt", "_CON .txt"},
    {"nul.", "nul.", "_nul_"},
    {"a.", "a.", "a_"},
    {"a. .", "a. .", "a___"},
    {"dir.\\f ", "dir.\\f ", "dir_\\f_"},
    {"...", "...", "___"},
    {"...\\x", "...\\x", "___\\x"},
    {".. \\x", ".. \\x", "___\\x"},
    {" ..", " ..", "___"},
    {"a\\.\\b", "a\\b", "a\\b"},
    {"a\\..\\b", "b", "b"},
    {"..\\x", "x", "x"},
    {"a\\..", "a\\..", "a\\.."},
    {"a\\b\\..\\..\\..\\c", "c", "c"},
    {"a\\..\\..", "", ""},
    {"..", "", ""},
    {".", ".", "."},
    {"\\x", "x", "x"},
    {"//x", "x", "x"},
    {"a\\\\b", "a\\b", "a\\b"},
    {"a/b", "a/b", "a/b"},
    {"a\\", "a\\", "a\\"},
    {"", "", ""},
};

TEST(SystemSafe, NarrowNamesUnderBothRuleSets) {
  for (const SystemSafeCase& c : kSystemSafeCases) {
    char posix[kPathSize], windows[kPathSize];
    copy_bounded(posix, c.name, sizeof(posix));
    copy_bounded(windows, c.name, sizeof(windows));
    make_system_safe(posix, NameRules::posix);
    make_system_safe(windows, NameRules::windows);
    EXPECT_STREQ(posix, c.posix) << "'" << c.name << "'";
    EXPECT_STREQ(windows, c.windows) << "'" << c.name << "'";
  }
}

TEST(SystemSafe, WideNamesUnderBothRuleSets) {
  for (const SystemSafeCase& c : kSystemSafeCases) {
    WChar posix[kPathSize], windows[kPathSize];
    wide_copy(posix, widen(c.name).c_str());
    wide_copy(windows, widen(c.name).c_str());
    make_system_safe(posix, NameRules::posix);
    make_system_safe(windows, NameRules::windows);
    EXPECT_EQ(std::u16string(posix), widen(c.posix)) << "'" << c.name << "'";
    EXPECT_EQ(std::u16string(windows), widen(c.windows)) << "'" << c.name << "'";
  }
  // Superscript digits one to three make device names too.
  WChar superscript[kPathSize];
  wide_copy(superscript, u"com\u00b9.txt");
  make_system_safe(superscript, NameRules::windows);
  EXPECT_EQ(std::u16string(superscript), u"_com\u00b9.txt");
}

TEST(SystemSafe, NativeRulesAreThoseOfTheSystem) {
  char name[kPathSize] = "dir\\CON.log.";
  make_system_safe(name);
#ifdef _WIN32
  EXPECT_STREQ(name, "dir\\_CON.log_");
#else
  EXPECT_STREQ(name, "dir\\CON.log.");
#endif
}

TEST(SystemSafe, DoubleByteTrailBackslashIsNoSeparator) {
  DoubleByteCodePage code_page;
  if (!code_page.available()) GTEST_SKIP() << "single-byte ANSI code page";
  // 0x81 0x5C is one character: the component is that character and two dots.
  char name[kPathSize] = "\x81\x5C..\\x";
  make_system_safe(name, NameRules::windows);
  EXPECT_STREQ(name, "\x81\x5C__\\x");
  char device[kPathSize] = "nul\\\x81\x5C";
  make_system_safe(device, NameRules::posix);
  EXPECT_STREQ(device, "nul\\\x81\x5C");
  // The first cleaning steps byte by byte and so takes more away, never less.
  EXPECT_EQ(safe_narrow("\x81\x5C..\\x"), "x");
}

TEST(SystemSafe, GrowthStaysWithinThePathBuffer) {
  char name[kPathSize] = "";
  for (int i = 0; i < 255; i++) std::strcat(name, "con\\");  // 1020 characters
  make_system_safe(name, NameRules::windows);
  size_t length = std::strlen(name);
  EXPECT_LE(length, static_cast<size_t>(kPathSize - 1));
  EXPECT_EQ(length % 5, 0u) << "whole components only";
  for (size_t i = 0; i < length; i += 5) ASSERT_EQ(std::string(name + i, 5), "_con\\") << i;
}

// How a Windows or Linux system could resolve a relative name, read generously: every
// component of dots and blanks only (after trailing dots and blanks are trimmed, and as
// the 9x family reads "...") climbs, by one level per dot beyond the first. Returns
// false when the name reaches above its start or, under the Windows rules, starts with
// a drive or a separator or names a device.
bool stays_inside(const std::u16string& name, NameRules rules, bool double_byte) {
  bool windows = rules == NameRules::windows;
  if (!name.empty() && (is_separator(name[0]) || (windows && name.size() >= 2 && name[1] == ':'))) return false;
  int depth = 0;
  size_t i = 0;
  while (i <= name.size()) {
    size_t start = i;
    while (i < name.size() && !is_separator(name[i])) {
      bool lead = double_byte && name[i] < 0x100 && is_lead_byte(static_cast<uint8_t>(name[i])) && i + 1 < name.size();
      i += lead ? 2 : 1;
    }
    std::u16string c = name.substr(start, i - start);
    i++;
    if (c.empty() || c == u".") continue;
    size_t dots = 0;
    bool only_dots_and_blanks = true;
    for (char16_t ch : c) {
      if (ch == '.') dots++;
      else if (ch != ' ') only_dots_and_blanks = false;
    }
    if (windows && only_dots_and_blanks) {
      depth -= dots > 1 ? static_cast<int>(dots) - 1 : 0;
    } else if (c == u"..") {
      depth--;
    } else {
      depth++;
      if (windows) {
        std::u16string base = c.substr(0, c.find_first_of(u".:"));
        while (!base.empty() && base.back() == ' ') base.pop_back();
        for (char16_t& ch : base)
          if (ch >= 'a' && ch <= 'z') ch = static_cast<char16_t>(ch - 32);
        static const char16_t* const devices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"COM1", u"LPT1", u"CONIN$", u"CONOUT$"};
        for (const char16_t* d : devices)
          if (base == d) return false;
      }
    }
    if (depth < 0) return false;
  }
  return true;
}

// Every name made of up to five pieces of a hostile alphabet, cleaned as the extraction
// does it, stays inside the destination under either rule set.
void check_every_combination(const std::vector<std::string>& pieces) {
  std::vector<size_t> index;
  size_t checked = 0, failures = 0;
  for (size_t length = 1; length <= 5; length++) {
    index.assign(length, 0);
    for (;;) {
      std::string name;
      for (size_t k : index) name += pieces[k];
      for (NameRules rules : {NameRules::posix, NameRules::windows}) {
        char narrow[kPathSize];
        make_safe_relative(name.c_str(), narrow);
        make_system_safe(narrow, rules);
        WChar wide[kPathSize];
        std::u16string w = widen(name.c_str());
        make_safe_relative(w.c_str(), wide);
        make_system_safe(wide, rules);
        bool narrow_ok = stays_inside(widen(narrow), rules, multibyte_code_page());
        bool wide_ok = stays_inside(wide, rules, false);
        if ((!narrow_ok || !wide_ok) && ++failures <= 10)
          ADD_FAILURE() << "'" << name << "' became '" << narrow << "'" << (wide_ok ? "" : " (wide)")
                        << (rules == NameRules::windows ? " (Windows rules)" : " (Linux rules)");
        checked++;
      }
      size_t k = 0;
      while (k < length && ++index[k] == pieces.size()) index[k++] = 0;
      if (k == length) break;
    }
  }
  EXPECT_EQ(failures, 0u) << "of " << checked;
}

TEST(SystemSafe, NoCleanedNameClimbsOrReachesADevice) {
  check_every_combination({"a", ".", "..", "...", ".. ", " ..", "\\", "/", "C:", "\\\\s\\h\\", "CON", "nul.txt"});
}

TEST(SystemSafe, NoCleanedNameClimbsWithDoubleByteCharacters) {
  DoubleByteCodePage code_page;
  if (!code_page.available()) GTEST_SKIP() << "single-byte ANSI code page";
  check_every_combination({"\x81\x5C", "..", ".", "\\", "a", "\x81\x5C..", ". ", "con"});
}

// The cleaned names on a real file system: a destination inside an outer folder, and
// nothing may appear outside the destination.
TEST(SystemSafe, HostileNamesStayInTheDestination) {
  ScratchFolder outer;
  std::string destination = outer / "dest\\";
  ASSERT_EQ(create_folder((outer / "dest").c_str(), nullptr, 0), 0);
  char temp[kPathSize];
  ASSERT_TRUE(get_temp_folder(temp, sizeof(temp)));
  const char* hostile[] = {
      "..\\escape-1",         "a\\..\\..\\escape-2",        "..\\..\\escape-3",
      "\\\\srv\\share\\escape-4", "\\\\?\\C:\\escape-5",        "/tmp/escape-6",
      "C:\\escape-7",         "C:..\\escape-8",             "a/../../escape-9",
      "\\\\.\\CON",           "nul",                        "aux.tar.gz",
      "sub\\COM1.txt",        "trailing.",                  "trailing",
      "blank ",               "...\\escape-10",             ".. \\escape-11",
      "x\\.\\..\\..\\escape-12", "\\escape-13",             "con:stream",
  };
  for (const char* name : hostile) {
    char safe[kPathSize];
    make_safe_relative(name, safe);
    make_system_safe(safe);
    std::string path = destination + safe;
    create_all_folders(path.c_str(), nullptr, true);
    DiskFile f;
    if (f.create(path.c_str(), nullptr)) {
      f.write(name, static_cast<int>(std::strlen(name)));
      f.close();
    }
  }
  // Only the destination is in the outer folder, and nothing escaped to the temporary one.
  DirScanner scan;
  scan.set_mask((outer / "*").c_str());
  FindRecord r;
  std::vector<std::string> found;
  while (scan.next_entry(r)) found.push_back(name_part(r.name));
  EXPECT_EQ(found, std::vector<std::string>{"dest"});
  for (int i = 1; i <= 13; i++) {
    std::string escaped = std::string(temp) + "escape-" + std::to_string(i);
    EXPECT_FALSE(file_exists(escaped.c_str(), nullptr)) << escaped;
  }
  EXPECT_EQ(read_whole(destination + "escape-1"), "..\\escape-1");
  EXPECT_EQ(read_whole(destination + "escape-10"), "...\\escape-10");
#ifdef _WIN32
  // Devices became files; names that differed only by trailing dots or blanks stay apart.
  EXPECT_EQ(read_whole(destination + "_CON"), "\\\\.\\CON");
  EXPECT_EQ(read_whole(destination + "_nul"), "nul");
  EXPECT_EQ(read_whole(destination + "_aux.tar.gz"), "aux.tar.gz");
  EXPECT_EQ(read_whole(destination + "sub\\_COM1.txt"), "sub\\COM1.txt");
  EXPECT_EQ(read_whole(destination + "trailing_"), "trailing.");
  EXPECT_EQ(read_whole(destination + "trailing"), "trailing");
  EXPECT_EQ(read_whole(destination + "blank_"), "blank ");
  EXPECT_EQ(read_whole(destination + "___\\escape-11"), ".. \\escape-11");
#else
  EXPECT_EQ(read_whole(destination + "nul"), "nul");
  EXPECT_EQ(read_whole(destination + "trailing."), "trailing.");
  EXPECT_EQ(read_whole(destination + ".. \\escape-11"), ".. \\escape-11");
#endif
}

}  // namespace
