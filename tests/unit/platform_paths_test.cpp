// Splitting and testing names, masks, volume numbers and folder creation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/paths.h"
#include "platform/scan.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform_fixture.h"

using namespace platform_test;

namespace {

const char* const kNone = nullptr;

// Position of a pointer into text, -1 for none.
long offset_in(const char* text, const char* p) { return p ? static_cast<long>(p - text) : -1; }

TEST(Paths, NamePartLastCharAndExtension) {
  struct Case {
    const char* path;
    long name, last, extension;
  } cases[] = {
      {"a\\b\\c.txt", 4, 8, 5},  {"a/b", 2, 2, -1}, {"D:x.y", 2, 4, 3},   {"D:\\", 3, 2, -1},
      {"plain", 0, 4, -1},       {"", 0, 0, -1},    {"dir.d\\f", 6, 6, -1}, {"a.tar.gz", 0, 7, 5},
      {"dir\\", 4, 3, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(offset_in(c.path, name_part(c.path)), c.name) << c.path;
    EXPECT_EQ(offset_in(c.path, last_char(c.path)), c.last) << c.path;
    EXPECT_EQ(offset_in(c.path, extension_of(c.path)), c.extension) << c.path;
  }
  const WChar* wide = u"D:f";
  EXPECT_EQ(name_part(wide), wide + 2);
  wide = u"x\\y/z";
  EXPECT_EQ(name_part(wide), wide + 4);
  EXPECT_TRUE(has_extension("dir\\Setup.EXE", "exe"));
  EXPECT_FALSE(has_extension("dir.exe\\setup", "exe"));
  EXPECT_FALSE(has_extension("setup.exe", "ex"));
}

TEST(Paths, WildcardsFolderPartAndStripping) {
  EXPECT_TRUE(has_wildcards("a*", nullptr));
  EXPECT_TRUE(has_wildcards("a?", u""));
  EXPECT_FALSE(has_wildcards("abc", nullptr));
  EXPECT_TRUE(has_wildcards("abc", u"a?c"));
  EXPECT_FALSE(has_wildcards("a*c", u"abc"));  // the wide name decides when present

  char buffer[kPathSize];
  folder_part_copy("a\\b\\c", buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "a\\b\\");
  folder_part_copy("a\\b\\c", buffer, 3);
  EXPECT_STREQ(buffer, "a\\");
  folder_part_copy("c", buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "");

  struct Case {
    const char* path;
    const char* stripped;
  } cases[] = {
      {"D:\\x", "D:\\"}, {"D:x", "D:"}, {"ab\\x", "ab"},      {"\\x", "\\"}, {"x", ""},
      {"D:\\", "D:\\"},  {"a\\b\\", "a\\b"}, {"\\\\srv\\share\\f", "\\\\srv\\share"},
  };
  for (const Case& c : cases) {
    char path[kPathSize];
    copy_bounded(path, c.path, sizeof(path));
    strip_name_part(path);
    EXPECT_STREQ(path, c.stripped) << c.path;
  }
}

TEST(Paths, DrivesAndRoots) {
  EXPECT_TRUE(starts_with_drive("c:\\x"));
  EXPECT_TRUE(starts_with_drive("i:"));
  EXPECT_FALSE(starts_with_drive("1:\\"));
  EXPECT_FALSE(starts_with_drive("ab"));
  EXPECT_FALSE(starts_with_drive(""));
  struct Case {
    const char* path;
    const char* root;
  } cases[] = {
      {"D:\\x\\y", "D:\\"},
      {"d:rel", "d:\\"},
      {"\\\\srv\\share\\x\\y", "\\\\srv\\share\\"},
      {"\\\\srv\\share", "\\\\srv\\share"},
      {"\\\\srv", ""},
      {"rel\\x", ""},
      {"\\x", ""},
  };
  for (const Case& c : cases) {
    char root[kPathSize] = "junk";
    root_of(c.path, root);
    EXPECT_STREQ(root, c.root) << c.path;
  }
}

TEST(Paths, FullPathJoinsTheCurrentFolder) {
  char current[kPathSize];
  ASSERT_TRUE(get_current_folder(current, sizeof(current)));
  std::string base = current;
  if (base.back() != '\\') base += '\\';
  char full[kPathSize];
  full_path("sub\\f.txt", full);
  EXPECT_EQ(std::string(full), base + "sub\\f.txt");
  full_path("sub\\..\\g", full);
  EXPECT_EQ(std::string(full), base + "g");
  // In place.
  char in_place[kPathSize] = "h";
  full_path(in_place, in_place);
  EXPECT_EQ(std::string(in_place), base + "h");
}

TEST(Paths, SlashesAndVersionSuffixes) {
  char path[kPathSize] = "a/b/c";
  EXPECT_EQ(slashes_to_backslashes(path, nullptr, 0), path);
  EXPECT_STREQ(path, "a\\b\\c");
  char source[] = "x/y";
  char buffer[8] = "junk";
  EXPECT_STREQ(slashes_to_backslashes(source, buffer, sizeof(buffer)), "x\\y");
  EXPECT_STREQ(source, "x/y");
  EXPECT_STREQ(slashes_to_backslashes(source, buffer, 3), "");  // does not fit

  struct Case {
    const char* narrow;
    const char16_t* wide;
    bool cut;
    uint32_t number;
    const char* narrow_after;
    const char16_t* wide_after;
  } cases[] = {
      {"file.txt;12", nullptr, true, 12, "file.txt", nullptr},
      {"file.txt;12", nullptr, false, 12, "file.txt;12", nullptr},
      {"a;1;34x", nullptr, true, 34, "a;1", nullptr},
      {"plain", nullptr, true, 0, "plain", nullptr},
      {"f;", u"f;7", true, 7, "f", u"f"},
      {"f;3", u"f;7", true, 3, "f", u"f"},
  };
  for (const Case& c : cases) {
    char narrow[kPathSize];
    copy_bounded(narrow, c.narrow, sizeof(narrow));
    WChar wide[kPathSize] = {};
    if (c.wide) wide_copy(wide, c.wide);
    EXPECT_EQ(split_version_suffix(narrow, c.wide ? wide : nullptr, c.cut), c.number) << c.narrow;
    EXPECT_STREQ(narrow, c.narrow_after);
    if (c.wide) {
      EXPECT_EQ(std::u16string(wide), std::u16string(c.wide_after));
    }
  }
}

TEST(Paths, LocalNameValidityAndRepair) {
  struct Case {
    const char* name;
    bool valid;
    const char* lenient;
    const char* strict;
  } cases[] = {
      {"D:file", true, "D:file", "D:file"},
      {"dir\\f:stream", false, "dir\\f_stream", "dir\\f_stream"},
      {"", false, "", ""},
      {"a:b*c", false, "a:b_c", "a:b_c"},
      {"ab:c", false, "ab_c", "ab_c"},
      {"q?<>|\"\x01", false, "q_<>|\"\x01", "q______"},
      {"ok name.txt", true, "ok name.txt", "ok name.txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_valid_local_name(c.name), c.valid) << c.name;
    char lenient[kPathSize], strict[kPathSize];
    copy_bounded(lenient, c.name, sizeof(lenient));
    copy_bounded(strict, c.name, sizeof(strict));
    replace_invalid_chars(lenient, false);
    replace_invalid_chars(strict, true);
    EXPECT_STREQ(lenient, c.lenient) << c.name;
    EXPECT_STREQ(strict, c.strict) << c.name;
    if (*c.name) {
      EXPECT_TRUE(is_valid_local_name(strict)) << c.name;
    }
  }
}

TEST(Paths, DoubleByteCharactersAreSteppedOverWhole) {
  DoubleByteCodePage code_page;
  if (!code_page.available()) GTEST_SKIP() << "single-byte ANSI code page";
  // 0x81 0x5C and 0x81 0x7C are one character each: their trail bytes are no
  // backslash and no vertical bar.
  const char* name = "dir\\\x81\x5C.txt";
  EXPECT_EQ(offset_in(name, name_part(name)), 4);
  EXPECT_EQ(offset_in(name, extension_of(name)), 6);
  const char* lone = "\x81\x5C";
  EXPECT_EQ(name_part(lone), lone);
  EXPECT_EQ(last_char(lone), lone);
  EXPECT_EQ(offset_in("a\x81\x5C", last_char("a\x81\x5C")), 1);
  char path[kPathSize] = "a\\\x81\x5C";
  strip_name_part(path);
  EXPECT_STREQ(path, "a");
  EXPECT_TRUE(is_valid_local_name("x\x81\x7Cy"));
  char repaired[kPathSize] = "\x81\x7C|\x81\x3F";  // the byte after a lead byte is never checked
  replace_invalid_chars(repaired, true);
  EXPECT_STREQ(repaired, "\x81\x7C_\x81\x3F");
}

TEST(Paths, WildcardMatching) {
  struct Case {
    const char* mask;
    const char* name;
    bool case_sensitive;
    bool matches;
  } cases[] = {
      {"*.*", "README", false, true},      {"*.", "a.b", false, false},      {"*.txt", "a.b.txt", false, true},
      {"a?", "a", false, false},           {"*.", "abc", false, true},       {"*.", "abc.", false, true},
      {"abc.", "abc", false, true},        {"abc.*", "abc", false, true},    {"*.TXT", "a.txt", false, true},
      {"*.TXT", "a.txt", true, false},     {"A?C", "abc", false, true},      {"A?C", "abc", true, false},
      {"*", "", false, true},              {"?", "", false, false},          {"a*c", "abxc", false, true},
      {"a*c", "ab", false, false},         {"*.txt", "a.txt.bak", false, false}, {"*.t?t", "a.b.tXt", false, true},
      {"*x", "x", false, true},            {"*ab", "aab", false, true},      {"*.txt", "x.doc", false, false},
      {"*.txt", ".txt", false, true},      {"x", "xy", false, false},        {"", "", false, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(wildcard_match(c.mask, c.name, c.case_sensitive), c.matches)
        << c.mask << " / " << c.name << (c.case_sensitive ? " (case)" : "");
}

TEST(Paths, MaskMatchingModes) {
  struct Case {
    const char* mask;
    const char* name;
    uint32_t mode;
    bool matches;
  } cases[] = {
      {"*", "__KEZ_tmp", 4, false},
      {"*", "dir\\__kez_x", 0, false},
      {"dir", "dir\\sub\\f", 4, true},
      {"dir", "dir/f", 4, true},
      {"dirx", "dir\\f", 4, false},
      {"dir\\", "dir\\f", 4, true},
      {"*.txt", "a\\b.txt", 4, true},
      {"sub\\*.txt", "a\\b.txt", 4, false},
      {"sub\\*.txt", "sub\\deep\\b.txt", 4, true},
      {"sub\\b.txt", "sub\\b.txt", 4, true},
      {"sub\\b.txt", "other\\b.txt", 4, false},
      {"sub\\b.txt", "sub\\deep\\b.txt", 4, false},
      {"*\\b.txt", "x\\b.txt", 4, true},
      {"*\\b.txt", "x\\c.txt", 4, false},
      {"SUB\\B.TXT", "sub\\b.txt", 4, true},
      {"SUB\\B.TXT", "sub\\b.txt", 4 | kMaskCaseSensitive, false},
      {"a\\*.txt", "a\\b\\c.txt", 1, false},
      {"a\\*.txt", "a\\c.txt", 1, true},
      {"a\\b.txt", "a\\sub\\b.txt", 3, true},
      {"*.txt", "x\\y.txt", 0, true},
      {"dir", "dir\\f", 2, false},
      {"dir", "dir\\f", 1, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(mask_matches(c.mask, c.name, c.mode), c.matches) << c.mask << " / " << c.name << " mode " << c.mode;
}

TEST(Paths, VolumeNumberPosition) {
  struct Case {
    const char* name;
    long position;
  } cases[] = {
      {"arc.part01.kez", 9}, {"arc.kez", 0},       {"arc5.kez", 3},    {"vol.p1x02.kez", 5},
      {"v2.kez", 1},         {"a1.b2.kez", 4},     {"a.b1c2.kez", 3},  {"x1y2.kez", 3},
      {"dir.1\\arc.r07", 12}, {"7", 0},            {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(offset_in(c.name, volume_number_position(c.name)), c.position) << c.name;
}

TEST(Paths, NameComparisonIgnoresCase) {
  EXPECT_EQ(compare_names("Setup.EXE", "setup.exe"), 0);
  EXPECT_LT(compare_names("abc", "abd"), 0);
  EXPECT_GT(compare_names("abd", "ABC"), 0);
  EXPECT_EQ(compare_names("abcX", "ABCy", 3), 0);
  EXPECT_NE(compare_names("ab", "abc", 3), 0);  // the shorter text is not read past its end
  EXPECT_NE(compare_names("abc", "ab", 3), 0);
}

class CreateAllFolders : public ::testing::Test {
 protected:
  ScratchFolder dir;
  bool folder_exists(const std::string& name, const WChar* wide = nullptr) {
    return is_folder_attributes(get_attributes(name.c_str(), wide));
  }
};

TEST_F(CreateAllFolders, CreatesEveryFolderOfThePath) {
  // The steps of the existing part (the drive or the root) fail, so the result is false.
  EXPECT_FALSE(create_all_folders((dir / "a\\b\\").c_str(), nullptr, false));
  EXPECT_TRUE(folder_exists(dir / "a"));
  EXPECT_TRUE(folder_exists(dir / "a\\b"));
  EXPECT_FALSE(create_all_folders((dir / "x\\y\\file.txt").c_str(), nullptr, true));
  EXPECT_TRUE(folder_exists(dir / "x\\y"));
  EXPECT_FALSE(file_exists((dir / "x\\y\\file.txt").c_str(), nullptr));
  EXPECT_FALSE(create_all_folders((dir / "p\\q").c_str(), nullptr, false));
  EXPECT_TRUE(folder_exists(dir / "p\\q"));
  // Only the backslash splits: "s/t" is one step, which fails without "s".
  EXPECT_FALSE(create_all_folders((dir / "s/t\\u\\").c_str(), nullptr, false));
  EXPECT_FALSE(folder_exists(dir / "s"));
}

TEST_F(CreateAllFolders, RelativePathOfNewFoldersSucceeds) {
  char current[kPathSize];
  ASSERT_TRUE(get_current_folder(current, sizeof(current)));
  ASSERT_TRUE(set_current_folder(dir.path().c_str()));
  bool fresh = create_all_folders("r1\\r2\\r3", nullptr, false);
  set_last_system_error(0);
  bool again = create_all_folders("r1\\r2\\", nullptr, false);
  uint32_t error = last_system_error();
  EXPECT_TRUE(set_current_folder(current));
  EXPECT_TRUE(fresh);
  EXPECT_FALSE(again);
  EXPECT_EQ(error, kErrorAlreadyExists);  // the last folder creation's error
  EXPECT_TRUE(folder_exists(dir / "r1\\r2\\r3"));
}

TEST_F(CreateAllFolders, WidePathsCreateNamesWithoutAnsiForm) {
  // U+0E01 is missing from code page 936.
  std::u16string wide = dir.wide_path() + u"\u4e2d\\\u0e01\\f.txt";
  std::string narrow = ansi_of(wide);
  create_all_folders(narrow.c_str(), wide.c_str(), true);
  EXPECT_TRUE(folder_exists("", (dir.wide_path() + u"\u4e2d\\\u0e01").c_str()));
  create_all_folders(nullptr, (dir.wide_path() + u"w\\v").c_str(), false);
  EXPECT_TRUE(folder_exists(dir / "w\\v"));
}

#ifdef _WIN32
TEST_F(CreateAllFolders, DoubleByteTrailBackslashDoesNotSplit) {
  DoubleByteCodePage code_page;
  if (!code_page.available()) GTEST_SKIP() << "single-byte ANSI code page";
  std::string path = dir / "\x81\x5C\\f.txt";
  create_all_folders(path.c_str(), nullptr, true);
  // One folder, named by the one character.
  DirScanner scan;
  scan.set_mask((dir / "*").c_str());
  FindRecord r;
  ASSERT_TRUE(scan.next_entry(r));
  EXPECT_TRUE(r.is_folder);
  EXPECT_EQ(std::u16string(name_part(r.wide_name)), wide_of("\x81\x5C"));
  EXPECT_EQ(wide_of("\x81\x5C").size(), 1u);
  EXPECT_FALSE(scan.next_entry(r));
}
#endif

}  // namespace
