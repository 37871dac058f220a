// Directory scanning, file times and the growable containers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "platform/scan.h"
#include "platform/times.h"
#include "platform_fixture.h"

using namespace platform_test;

namespace {

TimeStamp stamp(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute, uint32_t second,
                uint32_t remainder = 0) {
  TimeStamp t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.remainder = remainder;
  return t;
}

TEST(Times, DosDateTimes) {
  TimeStamp t = stamp(2007, 5, 22, 13, 45, 31);
  uint32_t dos = to_dos_time(t);
  EXPECT_EQ(dos & 0x1F, 15u);  // odd seconds are rounded down
  EXPECT_EQ(dos, (27u << 25) | (5u << 21) | (22u << 16) | (13u << 11) | (45u << 5) | 15u);
  TimeStamp back;
  back.weekday = 77;
  back.day_of_year = 88;
  back.remainder = 99;
  from_dos_time(dos, back);
  EXPECT_TRUE(times_equal(back, stamp(2007, 5, 22, 13, 45, 30)));
  EXPECT_EQ(back.weekday, 77u);
  EXPECT_EQ(back.day_of_year, 88u);
}

TEST(Times, DayOfYear) {
  struct Case {
    uint32_t year, month, day, expected;
  } cases[] = {{2007, 3, 1, 59}, {2000, 3, 1, 60}, {1900, 3, 1, 59}, {2004, 12, 31, 365}, {2001, 1, 1, 0}};
  for (const Case& c : cases) EXPECT_EQ(day_of_year(c.year, c.month, c.day), c.expected) << c.year << "-" << c.month;
}

// Day of the week of a civil date, 0 = Sunday.
uint32_t weekday_of(uint32_t y, uint32_t m, uint32_t d) {
  static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y--;
  return (y + y / 4 - y / 100 + y / 400 + offsets[m - 1] + d) % 7;
}

TEST(Times, FileTimesRoundTripToTheHundredNanoseconds) {
  const FileTime times[] = {
      125000000000000000ull,  // 1997
      128264832001234567ull,  // 2007, with a fraction
      132223104009999999ull,  // 2020-01-01, the last 100 ns of a second
      119600064000000001ull,  // 1980
      133500000000000000ull,  // 2024
  };
  for (FileTime f : times) {
    TimeStamp t = from_file_time(f);
    ASSERT_TRUE(t.present());
    EXPECT_LT(t.remainder, 10000000u);
    EXPECT_EQ(t.remainder, f % 10000000u);  // whole-second offsets keep the fraction
    EXPECT_EQ(t.day_of_year, day_of_year(t.year, t.month, t.day));
    EXPECT_EQ(t.weekday, weekday_of(t.year, t.month, t.day));
    EXPECT_EQ(to_file_time(t), f) << f;
    EXPECT_EQ(to_file_time64(t), f);
  }
  TimeStamp absent;
  EXPECT_EQ(to_file_time64(absent), 0u);
}

TEST(Times, Comparisons) {
  TimeStamp absent, early = stamp(2000, 1, 1, 0, 0, 0), late = stamp(2000, 1, 1, 0, 0, 0, 1);
  EXPECT_FALSE(is_later(absent, early));
  EXPECT_TRUE(is_later(early, absent));
  EXPECT_TRUE(is_later(late, early));
  EXPECT_FALSE(is_later(early, late));
  EXPECT_FALSE(times_equal(early, late));  // the remainder counts
  EXPECT_TRUE(is_same_or_later(early, early));
  EXPECT_FALSE(is_later(early, early));
  EXPECT_FALSE(is_same_or_later(early, late));
  EXPECT_TRUE(is_same_or_later(absent, absent));
}

TEST(Containers, GrowArrayCapacities) {
  GrowArray<uint32_t> a;
  EXPECT_EQ(a.capacity, 0u);
  a.grow_by(1);
  EXPECT_EQ(a.capacity, 32u);
  a.grow_by(31);
  EXPECT_EQ(a.capacity, 32u);
  a.grow_by(1);
  EXPECT_EQ(a.capacity, 72u);
  EXPECT_EQ(a.count, 33u);
  for (uint32_t i = 0; i < a.count; i++) a[i] = i;
  a.grow_by(500);  // more than the growth step: the new count
  EXPECT_EQ(a.capacity, 533u);
  EXPECT_EQ(a[32], 32u);  // items survive the resize
  a.resize(3);
  EXPECT_EQ(a.capacity, 533u);  // never shrinks
  GrowArray<char> bytes;
  bytes.append("abc", 3);
  EXPECT_EQ(std::string(bytes.items, bytes.count), "abc");
}

TEST(Containers, NameListKeepsWideFormsWithTheirNames) {
  NameList list;
  EXPECT_EQ(add_name(list, "first", nullptr), 0u);
  EXPECT_EQ(add_name(list, "second", u"\u4e8c"), 6u);
  EXPECT_EQ(add_name(list, "third", u""), 13u);  // an empty wide form counts as none
  EXPECT_EQ(list.count, 3u);
  for (int pass = 0; pass < 2; pass++) {
    const char* narrow;
    const WChar* wide;
    ASSERT_TRUE(next_name(list, &narrow, &wide));
    EXPECT_STREQ(narrow, "first");
    EXPECT_EQ(wide, nullptr);
    ASSERT_TRUE(next_name(list, &narrow, &wide));
    EXPECT_STREQ(narrow, "second");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::u16string(wide), u"\u4e8c");
    ASSERT_TRUE(next_name(list, &narrow, &wide));
    EXPECT_STREQ(narrow, "third");
    EXPECT_EQ(wide, nullptr);
    EXPECT_FALSE(next_name(list, &narrow, &wide));
    EXPECT_EQ(narrow, nullptr);
    rewind_names(list);
  }
  char narrow[8];
  std::memset(narrow, '#', sizeof(narrow));
  WChar wide[8];
  ASSERT_TRUE(next_name_copy(list, wide, narrow, 3));
  EXPECT_EQ(std::string(narrow, 4), "fir#");  // bounded, no terminator added
  ASSERT_TRUE(next_name_copy(list, wide, narrow, 8));
  EXPECT_STREQ(narrow, "second");
  EXPECT_EQ(std::u16string(wide), u"\u4e8c");
  ASSERT_TRUE(next_name_copy(list, wide, narrow, 8));
  EXPECT_EQ(wide[0], 0);
  clear_names(list);
  EXPECT_EQ(list.count, 0u);
  const char* n;
  EXPECT_FALSE(next_name(list, &n, nullptr));
}

// A folder with two plain files, a sub-folder and a file with a CJK name.
class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(write_whole(dir / "a.txt", "abc"));
    ASSERT_TRUE(write_whole(dir / "b.dat", ""));
    ASSERT_EQ(create_folder((dir / "sub").c_str(), nullptr, 0), 0);
    cjk = dir.wide_path() + u"\u4e2d.txt";
    ASSERT_TRUE(write_whole("", "cjk!", cjk.c_str()));
  }

  // Found entries by their name part, wide name part for non-ASCII names.
  std::map<std::u16string, FindRecord> scan(const std::string& mask, const WChar* wide_mask = nullptr) {
    std::map<std::u16string, FindRecord> found;
    DirScanner scanner;
    if (wide_mask) scanner.set_wide_mask(wide_mask);
    scanner.set_mask(mask.c_str());
    FindRecord r;
    while (scanner.next_entry(r)) {
      std::u16string key = r.wide_name[0] ? std::u16string(name_part(r.wide_name)) : wide_of(name_part(r.name));
      EXPECT_EQ(found.count(key), 0u);
      found[key] = r;
    }
    EXPECT_FALSE(r.error);
    return found;
  }

  ScratchFolder dir;
  std::u16string cjk;
};

TEST_F(ScanTest, ScanReturnsEveryEntryButDotAndDotDot) {
  auto found = scan(dir / "*", dir.wide_path().append(u"*").c_str());
  std::vector<std::u16string> names;
  for (const auto& e : found) names.push_back(e.first);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"a.txt", u"b.dat", u"sub", u"\u4e2d.txt"}));

  const FindRecord& a = found[u"a.txt"];
  EXPECT_EQ(std::string(a.name), dir / "a.txt");
  EXPECT_EQ(a.wide_name[0], 0) << "an ASCII path has no wide name";
  EXPECT_EQ(a.size, 3u);
  EXPECT_FALSE(a.is_folder);
  EXPECT_EQ(a.dos_time, to_dos_time(a.mtime));
  EXPECT_EQ(to_file_time(a.mtime), a.raw_mtime);
  EXPECT_EQ(to_file_time(a.atime), a.raw_atime);
  EXPECT_TRUE(found[u"sub"].is_folder);
  EXPECT_TRUE(found[u"sub"].attributes & kAttrDirectory);

  const FindRecord& c = found[u"\u4e2d.txt"];
  EXPECT_EQ(std::u16string(c.wide_name), cjk);
  EXPECT_EQ(c.size, 4u);
  EXPECT_EQ(read_whole(c.name, c.wide_name), "cjk!");
}

TEST_F(ScanTest, MasksSelectAndNothingFoundIsNoError) {
  auto txt = scan(dir / "*.txt");
  EXPECT_EQ(txt.size(), 2u);
  EXPECT_EQ(txt.count(u"a.txt"), 1u);
  EXPECT_EQ(txt.count(u"\u4e2d.txt"), 1u);
  EXPECT_EQ(scan(dir / "?.DAT").size(), 1u);
  EXPECT_TRUE(scan(dir / "*.none").empty());
  EXPECT_TRUE(scan(dir / "missing\\*").empty());
  DirScanner empty;
  FindRecord r;
  EXPECT_FALSE(empty.next_entry(r));
}

TEST_F(ScanTest, FailedSearchesSetTheErrorFlag) {
  DirScanner scanner;
#ifdef _WIN32
  scanner.set_mask((dir / "a|b\\*").c_str());  // not a valid name
#else
  scanner.set_mask((dir / std::string(300, 'n') + "\\*").c_str());  // longer than a name may be
#endif
  FindRecord r;
  EXPECT_FALSE(scanner.next_entry(r));
  EXPECT_TRUE(r.error);
  // The flag is cleared by the next call.
  scanner.set_mask((dir / "*.none").c_str());
  EXPECT_FALSE(scanner.next_entry(r));
  EXPECT_FALSE(r.error);
}

TEST_F(ScanTest, ScannerCanBeReusedWithANewMask) {
  DirScanner scanner;
  FindRecord r;
  scanner.set_mask((dir / "a.*").c_str());
  ASSERT_TRUE(scanner.next_entry(r));
  EXPECT_STREQ(name_part(r.name), "a.txt");
  scanner.set_mask((dir / "b.*").c_str());  // before the first search has ended
  ASSERT_TRUE(scanner.next_entry(r));
  EXPECT_STREQ(name_part(r.name), "b.dat");
  EXPECT_FALSE(scanner.next_entry(r));
}

TEST_F(ScanTest, FindOneLooksUpOneName) {
  FindRecord r;
  ASSERT_TRUE(find_one((dir / "a.txt").c_str(), nullptr, r));
  EXPECT_EQ(std::string(r.name), dir / "a.txt");
  EXPECT_EQ(r.size, 3u);
  EXPECT_FALSE(r.is_folder);
  ASSERT_TRUE(find_one((dir / "sub").c_str(), nullptr, r));
  EXPECT_TRUE(r.is_folder);
  ASSERT_TRUE(find_one("", cjk.c_str(), r));
  EXPECT_EQ(std::u16string(r.wide_name), cjk);
  EXPECT_FALSE(find_one((dir / "missing").c_str(), nullptr, r));
  EXPECT_FALSE(r.error);
  // Wildcards give false without searching, even when something would match.
  EXPECT_FALSE(find_one((dir / "*.txt").c_str(), nullptr, r));
  EXPECT_FALSE(find_one("x", (dir.wide_path() + u"a.tx?").c_str(), r));
}

TEST_F(ScanTest, ShortNamesComeFromTheSystem) {
  ASSERT_TRUE(write_whole(dir / "a rather long file name.text", "l"));
  FindRecord r;
  ASSERT_TRUE(find_one((dir / "a rather long file name.text").c_str(), nullptr, r));
#ifdef _WIN32
  if (!r.short_name[0]) GTEST_SKIP() << "the file system keeps no short names";
  EXPECT_LE(std::strlen(r.short_name), 12u);
  EXPECT_EQ(std::strchr(r.short_name, ' '), nullptr);
#else
  EXPECT_STREQ(r.short_name, "");
#endif
}

TEST_F(ScanTest, NarrowSearchesAsOnTheNineXFamily) {
  NarrowApiOnly nine_x;
  std::string narrow_cjk = ansi_of(cjk);
  auto found = scan(dir / "*");
  EXPECT_EQ(found.size(), 4u);
  const FindRecord& a = found[u"a.txt"];
  EXPECT_EQ(std::string(a.name), dir / "a.txt");
  EXPECT_EQ(a.wide_name[0], 0);
  if (narrow_cjk.find('?') == std::string::npos) {
    // The wide name is the narrow one converted.
    ASSERT_EQ(found.count(u"\u4e2d.txt"), 1u);
    const FindRecord& c = found[u"\u4e2d.txt"];
    EXPECT_EQ(std::string(c.name), narrow_cjk);
    EXPECT_EQ(std::u16string(c.wide_name), cjk);
  }
  FindRecord r;
  ASSERT_TRUE(find_one((dir / "b.dat").c_str(), nullptr, r));
  EXPECT_EQ(r.size, 0u);
}

}  // namespace
