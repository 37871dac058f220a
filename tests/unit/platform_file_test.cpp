// The file object, the open-file table and the name-level file operations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "app/report.h"
#include "platform/file.h"
#include "platform/scan.h"
#include "platform/times.h"
#include "platform_fixture.h"

using namespace platform_test;

namespace {

bool is_registered(const DiskFile* f) {
  for (DiskFile* slot : open_file_table)
    if (slot == f) return true;
  return false;
}

int free_slots() {
  int n = 0;
  for (DiskFile* slot : open_file_table)
    if (!slot) n++;
  return n;
}

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

FindRecord look_up(const std::string& name, const WChar* wide = nullptr) {
  FindRecord r;
  EXPECT_TRUE(find_one(name.c_str(), wide, r)) << name;
  return r;
}

// Wine keeps the read-only attribute in the host's permission bits, which do not stop
// the superuser the tests may run as.
bool running_under_wine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

// A handle on the file that allows writing only, so that reading from it fails.
intptr_t write_only_handle(const std::string& name) {
#ifdef _WIN32
  return reinterpret_cast<intptr_t>(
      CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
#else
  std::string path = name;
  for (char& c : path)
    if (c == '\\') c = '/';
  return ::open(path.c_str(), O_WRONLY);
#endif
}

void set_env(const char* name, const char* value) {
#ifdef _WIN32
  std::string assignment = std::string(name) + "=" + (value ? value : "");
  _putenv(assignment.c_str());
#else
  if (value) setenv(name, value, 1);
  else unsetenv(name);
#endif
}

// The folder of a death test: made by the test, found again through the environment by
// the child process that runs the dying statement (it may run the test from the start).
class DeathTestFolder {
 public:
  DeathTestFolder() {
    const char* known = getenv("QUILLO_DEATH_FOLDER");
    if (known && *known) {
      path_ = known;
      return;
    }
    scratch_.reset(new ScratchFolder);
    path_ = scratch_->path();
    set_env("QUILLO_DEATH_FOLDER", path_.c_str());
  }
  ~DeathTestFolder() {
    if (scratch_) set_env("QUILLO_DEATH_FOLDER", nullptr);
  }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::unique_ptr<ScratchFolder> scratch_;
  std::string path_;
};

// Answers for the prompts of the dying statement (one line each).
void answer_prompts(const DeathTestFolder& dir, const char* lines) {
  std::string answers = dir / "answers.txt";
  write_whole(answers, lines);
#ifndef _WIN32
  for (char& c : answers)
    if (c == '\\') c = '/';  // read by the C library
#endif
  set_env("QUILLO_ANSWERS", answers.c_str());
}

class DiskFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_break_ = run_state.user_break;
    saved_error_lines_ = run_state.error_lines;
    run_state.user_break = 0;  // a break silences the reports
    run_state.error_lines = 0;
    reset_exit_status();
  }
  void TearDown() override {
    reset_exit_status();
    run_state.user_break = saved_break_;
    run_state.error_lines = saved_error_lines_;
  }
  ScratchFolder dir;

 private:
  int saved_break_ = 0, saved_error_lines_ = 0;
};

TEST_F(DiskFileTest, FailedOpenLeavesTheObjectClosedAndUnregistered) {
  DiskFile f;
  EXPECT_FALSE(f.open((dir / "missing").c_str(), nullptr));
  EXPECT_FALSE(f.is_open());
  EXPECT_FALSE(f.created_here);
  EXPECT_FALSE(is_registered(&f));
  EXPECT_STREQ(f.narrow_name, "");

  // The reporting variants log the failure and go on; only creation raises the exit code.
  EXPECT_FALSE(f.open_or_report((dir / "missing").c_str(), nullptr));
  EXPECT_EQ(run_state.error_lines, 1);
  EXPECT_EQ(exit_code(), 0);
  EXPECT_FALSE(f.create_or_report((dir / "no-such-folder\\f").c_str(), nullptr));
  EXPECT_EQ(run_state.error_lines, 2);
  EXPECT_EQ(exit_code(), kExitCreate);
}

TEST_F(DiskFileTest, CreateTruncatesAnExistingFileAndCloseCounts) {
  std::string name = dir / "data.bin";
  ASSERT_TRUE(write_whole(name, "previous contents"));
  DiskFile f;
  ASSERT_TRUE(f.create(name.c_str(), nullptr));
  EXPECT_TRUE(f.created_here);
  EXPECT_TRUE(is_registered(&f));
  EXPECT_EQ(f.length(), 0);
  EXPECT_TRUE(f.close());
  EXPECT_FALSE(is_registered(&f));
  EXPECT_EQ(f.close_count, 1u);
  EXPECT_TRUE(f.close());  // closing a closed object succeeds and still counts
  EXPECT_EQ(f.close_count, 2u);
  EXPECT_EQ(read_whole(name), "");
  // open clears the created mark
  ASSERT_TRUE(f.open(name.c_str(), nullptr));
  EXPECT_FALSE(f.created_here);
}

TEST_F(DiskFileTest, AbandonedCreatedFileIsDeletedUnlessKept) {
  struct Case {
    const char* label;
    bool close_first;
    bool delete_if_unfinished;
    bool survives;
  } cases[] = {
      {"abandoned", false, true, false},
      {"abandoned but kept", false, false, true},
      {"closed", true, true, true},
  };
  for (const Case& c : cases) {
    std::string name = dir / c.label;
    {
      DiskFile f;
      ASSERT_TRUE(f.create(name.c_str(), nullptr));
      f.delete_if_unfinished = c.delete_if_unfinished;
      f.write("some bytes", 10);
      if (c.close_first) f.close();
    }
    EXPECT_EQ(file_exists(name.c_str(), nullptr), c.survives) << c.label;
  }
  // A file that was only opened is never deleted.
  std::string existing = dir / "existing";
  ASSERT_TRUE(write_whole(existing, "keep"));
  {
    DiskFile f;
    ASSERT_TRUE(f.open(existing.c_str(), nullptr, true));
  }
  EXPECT_EQ(read_whole(existing), "keep");
}

TEST_F(DiskFileTest, SeeksFromEveryOriginIncludingNegativeOffsets) {
  std::string name = dir / "hundred";
  ASSERT_TRUE(write_whole(name, std::string(100, 'x')));
  struct Case {
    int64_t start, offset;
    SeekOrigin origin;
    int64_t expected;
  } cases[] = {
      {50, 7, SeekOrigin::begin, 7},      {50, -10, SeekOrigin::end, 90},   {50, 5, SeekOrigin::end, 105},
      {50, -10, SeekOrigin::current, 40}, {50, 20, SeekOrigin::current, 70}, {50, -100, SeekOrigin::end, 0},
  };
  DiskFile f;
  ASSERT_TRUE(f.open(name.c_str(), nullptr));
  for (const Case& c : cases) {
    ASSERT_TRUE(f.seek(c.start, SeekOrigin::begin));
    EXPECT_TRUE(f.seek(c.offset, c.origin));
    EXPECT_EQ(f.tell(), c.expected) << c.offset << " from origin " << static_cast<int>(c.origin);
  }
  // A position before the start is refused without a report.
  ASSERT_TRUE(f.seek(50, SeekOrigin::begin));
  EXPECT_FALSE(f.seek_raw(-60, SeekOrigin::current));
  EXPECT_FALSE(f.seek_raw(-1, SeekOrigin::begin));
  f.close();
  EXPECT_TRUE(f.seek_raw(10, SeekOrigin::begin));  // closed: nothing to do
}

TEST_F(DiskFileTest, LengthAndPositionKeeperRestoreThePosition) {
  std::string a = dir / "a", b = dir / "b";
  ASSERT_TRUE(write_whole(a, std::string(100, 'a')));
  ASSERT_TRUE(write_whole(b, std::string(100, 'b')));
  DiskFile f;
  ASSERT_TRUE(f.open(a.c_str(), nullptr));
  ASSERT_TRUE(f.seek(30, SeekOrigin::begin));
  EXPECT_EQ(f.length(), 100);
  EXPECT_EQ(f.tell(), 30);
  {
    FilePositionKeeper keep(f);
    f.seek(80, SeekOrigin::begin);
  }
  EXPECT_EQ(f.tell(), 30);
  {
    // Closed and reopened meanwhile: the new file's position is left alone.
    FilePositionKeeper keep(f);
    f.close();
    ASSERT_TRUE(f.open(b.c_str(), nullptr));
    f.seek(5, SeekOrigin::begin);
  }
  EXPECT_EQ(f.tell(), 5);
}

TEST_F(DiskFileTest, PresizeReservesTheLengthAndRewinds) {
  DiskFile f;
  ASSERT_TRUE(f.create((dir / "out").c_str(), nullptr));
  EXPECT_TRUE(f.presize(5000));
  EXPECT_EQ(f.tell(), 0);
  EXPECT_EQ(f.length(), 5000);
  f.write("abc", 3);
  EXPECT_EQ(f.length(), 5000);
  EXPECT_EQ(f.tell(), 3);
}

TEST_F(DiskFileTest, ReadsReturnZeroAtTheEnd) {
  std::string name = dir / "two";
  ASSERT_TRUE(write_whole(name, "\x7F\x80"));
  DiskFile f;
  ASSERT_TRUE(f.open(name.c_str(), nullptr));
  EXPECT_EQ(f.read_byte(), 0x7F);
  EXPECT_EQ(f.read_byte(), 0x80);
  EXPECT_EQ(f.read_byte(), 0);
  char buffer[8];
  EXPECT_EQ(f.read(buffer, sizeof(buffer)), 0);
  f.seek(0, SeekOrigin::begin);
  EXPECT_EQ(f.read(buffer, sizeof(buffer)), 2);
}

TEST_F(DiskFileTest, OpenFileTableHoldsTwoHundredFiftySixFiles) {
  ASSERT_EQ(free_slots(), kOpenFileSlots) << "a file of an earlier test is still open";
  std::string name = dir / "shared";
  ASSERT_TRUE(write_whole(name, "x"));
  std::vector<std::unique_ptr<DiskFile>> files;
  for (int i = 0; i < kOpenFileSlots + 1; i++) {
    files.emplace_back(new DiskFile);
    ASSERT_TRUE(files.back()->open(name.c_str(), nullptr)) << i;
  }
  EXPECT_EQ(free_slots(), 0);
  EXPECT_FALSE(is_registered(files.back().get()));
  // The table's files are closed; the one that did not fit stays open.
  EXPECT_TRUE(DiskFile::close_all());
  EXPECT_EQ(free_slots(), kOpenFileSlots);
  for (int i = 0; i < kOpenFileSlots; i++) EXPECT_FALSE(files[i]->is_open()) << i;
  EXPECT_TRUE(files.back()->is_open());
  EXPECT_EQ(files.back()->read_byte(), 'x');
  // Closing an object that was never registered empties no slot of another.
  files[0]->open(name.c_str(), nullptr);
  files.back()->close();
  EXPECT_TRUE(is_registered(files[0].get()));
}

TEST_F(DiskFileTest, WideNameIsUsedWhenPresent) {
  std::u16string wide = dir.wide_path() + u"wide-\u540d\u5b57.txt";
  std::string narrow = dir / "narrow.txt";
  {
    DiskFile f;
    ASSERT_TRUE(f.create(narrow.c_str(), wide.c_str()));
    f.write("w", 1);
    EXPECT_TRUE(f.close());
  }
  EXPECT_TRUE(file_exists(nullptr, wide.c_str()));
  EXPECT_FALSE(file_exists(narrow.c_str(), nullptr));
  {
    // As on the Windows 9x family: the narrow name only.
    NarrowApiOnly nine_x;
    DiskFile f;
    ASSERT_TRUE(f.create(narrow.c_str(), wide.c_str()));
    EXPECT_TRUE(f.close());
  }
  EXPECT_TRUE(file_exists(narrow.c_str(), nullptr));
  // A pure ASCII name may come with an empty wide name.
  std::u16string empty;
  {
    DiskFile f;
    ASSERT_TRUE(f.create((dir / "plain.txt").c_str(), empty.c_str()));
    EXPECT_EQ(f.wide_name[0], 0);
    EXPECT_TRUE(f.close());
  }
  EXPECT_TRUE(file_exists((dir / "plain.txt").c_str(), nullptr));
  // Opened by its wide name only, the object derives the narrow name.
  DiskFile f;
  ASSERT_TRUE(f.open(nullptr, wide.c_str()));
  EXPECT_EQ(std::string(f.narrow_name), ansi_of(wide));
  EXPECT_EQ(std::u16string(f.wide_name), wide);
}

TEST_F(DiskFileTest, NarrowNamesInTheAnsiCodePageNameTheSameFile) {
  // U+4E2D U+6587 exist in code page 936 and in UTF-8, the ANSI code pages of the runs.
  std::u16string wide = dir.wide_path() + u"\u4e2d\u6587.txt";
  std::string narrow = ansi_of(wide);
  if (narrow.empty() || narrow.find('?') != std::string::npos) GTEST_SKIP() << "the ANSI code page lacks the name";
  ASSERT_TRUE(write_whole(narrow, "cjk"));
  EXPECT_EQ(read_whole(std::string(), wide.c_str()), "cjk");
  FindRecord r = look_up(narrow);
  EXPECT_EQ(std::u16string(r.wide_name), wide);
  EXPECT_EQ(std::string(r.name), narrow);
}

TEST_F(DiskFileTest, TimesAreSetThroughTheHandle) {
  std::string name = dir / "timed";
  TimeStamp m = stamp(2007, 5, 22, 13, 45, 31, 1234567), c = stamp(2001, 2, 3, 4, 5, 6),
            a = stamp(2010, 12, 31, 23, 59, 58, 10);
  {
    DiskFile f;
    ASSERT_TRUE(f.create(name.c_str(), nullptr));
    f.write("t", 1);
    EXPECT_TRUE(f.set_times(&m, &c, &a));
    EXPECT_TRUE(f.close());
  }
  FindRecord r = look_up(name);
  EXPECT_TRUE(times_equal(r.mtime, m));
  EXPECT_TRUE(times_equal(r.atime, a));
  // The creation time is not checked: the Linux file systems (under Wine too) keep none
  // that can be set.
  // All three absent: nothing changes.
  {
    DiskFile f;
    ASSERT_TRUE(f.open(name.c_str(), nullptr, true));
    TimeStamp absent;
    EXPECT_TRUE(f.set_times(nullptr, &absent, nullptr));
    EXPECT_TRUE(f.close());
  }
  FindRecord after = look_up(name);
  EXPECT_EQ(after.raw_mtime, r.raw_mtime);
  EXPECT_EQ(after.raw_atime, r.raw_atime);
}

TEST_F(DiskFileTest, ReadOnlyAttributeRefusesWritingAndDeleting) {
  std::string name = dir / "locked";
  ASSERT_TRUE(write_whole(name, "old"));
  ASSERT_TRUE(set_attributes(name.c_str(), nullptr, kAttrReadOnly));
  uint32_t attributes = get_attributes(name.c_str(), nullptr);
  ASSERT_NE(attributes, kInvalidAttributes);
  EXPECT_TRUE(attributes & kAttrReadOnly);
  EXPECT_FALSE(is_folder_attributes(attributes));
  DiskFile f;
  if (!running_under_wine()) {
    EXPECT_FALSE(f.create(name.c_str(), nullptr));
    EXPECT_EQ(last_system_error(), kErrorAccessDenied);
    EXPECT_FALSE(f.is_open());
    EXPECT_FALSE(f.open(name.c_str(), nullptr, true));
    EXPECT_FALSE(delete_file(name.c_str(), nullptr));
  }
  EXPECT_TRUE(f.open(name.c_str(), nullptr));  // reading is fine
  EXPECT_TRUE(f.set_attributes(0));
  f.close();
  EXPECT_FALSE(get_attributes(name.c_str(), nullptr) & kAttrReadOnly);
  EXPECT_EQ(read_whole(name), "old");
  EXPECT_TRUE(delete_file(name.c_str(), nullptr));
  EXPECT_FALSE(file_exists(name.c_str(), nullptr));
  EXPECT_EQ(get_attributes(name.c_str(), nullptr), kInvalidAttributes);
  EXPECT_FALSE(delete_file(name.c_str(), nullptr));
}

TEST_F(DiskFileTest, CreateFolderTellsMissingParentsFromOtherFailures) {
  ASSERT_TRUE(write_whole(dir / "file", ""));
  struct Case {
    std::string name;
    int expected;
  } cases[] = {
      {dir / "new", 0},
      {dir / "new", 1},  // exists now
      {dir / "file", 1},
      {dir / "missing\\child", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(create_folder(c.name.c_str(), nullptr, 0), c.expected) << c.name;
  EXPECT_TRUE(is_folder_attributes(get_attributes((dir / "new").c_str(), nullptr)));
  EXPECT_FALSE(is_folder_attributes(kInvalidAttributes));
  EXPECT_TRUE(remove_folder((dir / "new").c_str(), nullptr));
  EXPECT_FALSE(file_exists((dir / "new").c_str(), nullptr));
  // A wide name that has no narrow form.
  std::u16string wide = dir.wide_path() + u"\u0416\u00e9";
  EXPECT_EQ(create_folder("", wide.c_str(), kAttrHidden), 0);
  uint32_t attributes = get_attributes(nullptr, wide.c_str());
  EXPECT_TRUE(is_folder_attributes(attributes));
#ifdef _WIN32
  EXPECT_TRUE(attributes & kAttrHidden);
#endif
}

TEST_F(DiskFileTest, SetTimesByNameReachesFoldersAndReadOnlyFiles) {
  std::string folder = dir / "folder", locked = dir / "locked";
  ASSERT_EQ(create_folder(folder.c_str(), nullptr, 0), 0);
  ASSERT_TRUE(write_whole(locked, "r"));
  ASSERT_TRUE(set_attributes(locked.c_str(), nullptr, kAttrReadOnly | kAttrArchive));
  uint32_t locked_attributes = get_attributes(locked.c_str(), nullptr);
  TimeStamp m = stamp(1999, 12, 31, 23, 59, 58);
  {
    NarrowApiOnly nine_x;  // does nothing there
    set_times_by_name(folder.c_str(), &m, nullptr, nullptr);
  }
  EXPECT_FALSE(times_equal(look_up(folder).mtime, m));
  set_times_by_name(folder.c_str(), &m, nullptr, nullptr);
  set_times_by_name(locked.c_str(), &m, nullptr, &m);
  EXPECT_TRUE(times_equal(look_up(folder).mtime, m));
  FindRecord r = look_up(locked);
  EXPECT_TRUE(times_equal(r.mtime, m));
  EXPECT_TRUE(times_equal(r.atime, m));
  EXPECT_EQ(get_attributes(locked.c_str(), nullptr), locked_attributes);
}

TEST_F(DiskFileTest, DevicesAreToldFromFiles) {
#ifdef _WIN32
  const char* device = "NUL";
#else
  const char* device = "/dev/null";
#endif
  DiskFile f;
  EXPECT_FALSE(f.is_device());
  ASSERT_TRUE(f.open(device, nullptr, true));
  EXPECT_TRUE(f.is_device());
  f.close();
  ASSERT_TRUE(write_whole(dir / "plain", "p"));
  ASSERT_TRUE(f.open((dir / "plain").c_str(), nullptr));
  EXPECT_FALSE(f.is_device());
}

TEST_F(DiskFileTest, FailuresWithoutReportingReturnQuietly) {
  std::string name = dir / "quiet";
  ASSERT_TRUE(write_whole(name, "q"));
  DiskFile f;
  ASSERT_TRUE(f.open(name.c_str(), nullptr));
  f.report_errors = false;
  f.write("x", 1);  // opened for reading: the write fails silently
  EXPECT_FALSE(f.seek(-1, SeekOrigin::begin));
  f.close();
  f.handle = write_only_handle(name);
  char buffer[4];
  EXPECT_EQ(f.read(buffer, sizeof(buffer)), -1);
  EXPECT_EQ(run_state.error_lines, 0);
}

// The dying statements run in a child process that starts the test again: its folder
// comes from the environment (DeathTestFolder), not from a fixture of its own.
class DiskFileDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  void TearDown() override { set_env("QUILLO_ANSWERS", nullptr); }
};

TEST_F(DiskFileDeathTest, CancelledWriteErrorEndsTheRunAndDeletesUnfinishedFiles) {
  DeathTestFolder shared;
  std::string existing = shared / "existing", unfinished = shared / "unfinished", kept = shared / "kept";
  ASSERT_TRUE(write_whole(existing, "original"));
  answer_prompts(shared, "c\n");
  auto write_with_files_open = [&] {
    DiskFile partial;
    partial.create(unfinished.c_str(), nullptr);
    partial.write("half", 4);
    DiskFile keep;
    keep.create(kept.c_str(), nullptr);
    keep.delete_if_unfinished = false;
    DiskFile target;
    target.open(existing.c_str(), nullptr);  // for reading only: writing fails
    target.write("new", 3);
  };
  EXPECT_EXIT(write_with_files_open(), ::testing::ExitedWithCode(kExitWrite), "existing");
  EXPECT_FALSE(file_exists(unfinished.c_str(), nullptr));
  EXPECT_TRUE(file_exists(kept.c_str(), nullptr));
  EXPECT_EQ(read_whole(existing), "original");
}

TEST_F(DiskFileDeathTest, ReadSeekAndCloseFailuresAreFatal) {
  DeathTestFolder shared;
  std::string name = shared / "victim";
  ASSERT_TRUE(write_whole(name, "data"));
  EXPECT_EXIT(
      {
        DiskFile f;
        f.handle = write_only_handle(name);
        copy_bounded(f.narrow_name, name.c_str(), sizeof(f.narrow_name));
        char buffer[4];
        f.read(buffer, sizeof(buffer));
      },
      ::testing::ExitedWithCode(kExitFatal), "victim");
  EXPECT_EXIT(
      {
        DiskFile f;
        f.open(name.c_str(), nullptr);
        f.seek(-5, SeekOrigin::begin);
      },
      ::testing::ExitedWithCode(kExitFatal), "");
  EXPECT_EXIT(
      {
        DiskFile f;
        f.open(name.c_str(), nullptr);
        intptr_t h = f.handle;
        DiskFile other;  // takes the handle away
        other.handle = h;
        other.report_errors = false;
        other.close();
        f.close();
      },
      ::testing::ExitedWithCode(kExitFatal), "");
  EXPECT_EQ(read_whole(name), "data");
}

#ifndef _WIN32
// Raises the file size limit from inside the failing write, so that the retry succeeds.
void lift_size_limit(int) {
  rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
  setrlimit(RLIMIT_FSIZE, &unlimited);
}

TEST_F(DiskFileDeathTest, RetriedPartialWriteWritesEachByteOnce) {
  DeathTestFolder shared;
  std::string name = shared / "retried";
  answer_prompts(shared, "r\n");
  auto write_past_the_limit = [&] {
    DiskFile f;
    f.create(name.c_str(), nullptr);
    f.write("head", 4);
    std::string block;
    for (int i = 0; i < 300; i++) block += static_cast<char>('A' + i % 26);
    rlimit limit = {100, RLIM_INFINITY};  // the write stops after 96 bytes of the block
    signal(SIGXFSZ, lift_size_limit);
    setrlimit(RLIMIT_FSIZE, &limit);
    f.write(block.data(), static_cast<int>(block.size()));
    bool ok = f.length() == 304 && f.close() && read_whole(name) == "head" + block;
    exit_process(ok ? 0 : 1);
  };
  EXPECT_EXIT(write_past_the_limit(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
