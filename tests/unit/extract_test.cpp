// The extraction run over stored archives: trees, times and attributes come back, and
// every failure gives its message and exit code. Runs natively and under Wine, where it
// exercises the Windows file layer for real.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/report.h"
#include "archive_fixtures.h"
#include "encode/archive_writer.h"
#include "extract/extraction.h"
#include "platform/file.h"
#include "platform/scan.h"
#include "platform/system.h"
#include "platform/text.h"
#include "ui/catalogue.h"
#include "ui/console/console_hooks.h"

namespace fs = std::filesystem;
using fixtures::Bytes;
using fixtures::Entry;

namespace {

struct RunResult {
  int exit = 0;
  std::string log;
  std::vector<std::string> errors;  // error lines, without the marker
  uint32_t error_lines = 0;
};

void reset_run_state() {
  run_state.user_break = 0;
  run_state.error_lines = 0;
  run_state.password[0] = 0;
  run_state.typed_password[0] = 0;
  run_state.overwrite_all = false;
  run_state.skip_all_existing = false;
  reset_exit_status();
}

// A destination as the core writes paths: backslashes separate the folders.
std::string core_destination(const fs::path& dest) {
  std::string d = dest.string();
  for (char& c : d)
    if (c == '/') c = '\\';
  return d + "\\";
}

RunResult extract(const std::string& archive, const fs::path& dest, char command = 'X') {
  reset_run_state();
  fill_lead_byte_table();
  ExtractionJob job;
  job.command[0] = command;
  add_name(job.include_masks, "*", nullptr);
  add_name(job.archive_names, archive.c_str(), nullptr);
  copy_bounded(job.destination, core_destination(dest).c_str(), sizeof(job.destination));
  ::testing::internal::CaptureStderr();
  run_extraction(job);
  RunResult r;
  r.log = ::testing::internal::GetCapturedStderr();
  r.exit = exit_code();
  r.error_lines = static_cast<uint32_t>(run_state.error_lines);
  std::istringstream in(r.log);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("! ", 0) == 0) r.errors.push_back(line.substr(2));
  reset_run_state();
  return r;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The text of message id formatted with one argument, as the log shows it.
std::string message(int id, const std::string& arg = "") {
  char buffer[1024];
  format_text(buffer, sizeof(buffer), message_text(id), arg.c_str());
  return buffer;
}

Bytes stored(const std::string& name, const std::string& data, uint16_t extra_flags = 0) {
  Entry e;
  e.name = name;
  e.data.assign(data.begin(), data.end());
  e.flags = static_cast<uint16_t>(0x8000 | extra_flags);
  return fixtures::file_block(e);
}

// Writes an archive of the given entries through the packer's writer.
struct TreeEntry {
  std::u16string name;
  std::string data;
  bool folder = false;
  uint32_t attributes = 0x20;
  TimeStamp mtime;
};

std::string write_archive(const std::vector<TreeEntry>& entries) {
  fs::path p = fixtures::temp_folder() / "tree.kez";
  std::FILE* f = std::fopen(p.string().c_str(), "wb");
  ArchiveWriter w;
  WriterOptions o;
  EXPECT_TRUE(w.begin(f, o));
  for (const TreeEntry& t : entries) {
    EntryInfo info;
    info.name = t.name;
    info.is_folder = t.folder;
    info.attributes = t.folder ? 0x10 : t.attributes;
    info.size = t.data.size();
    info.mtime = t.mtime;
    if (t.folder) {
      EXPECT_TRUE(w.add_folder(info));
    } else {
      MemorySource src(reinterpret_cast<const uint8_t*>(t.data.data()), t.data.size());
      EXPECT_TRUE(w.add_file(info, src)) << w.error();
    }
  }
  EXPECT_TRUE(w.finish());
  std::fclose(f);
  return p.string();
}

TimeStamp time_of(uint32_t y, uint32_t mo, uint32_t d, uint32_t h, uint32_t mi, uint32_t s, uint32_t rem) {
  TimeStamp t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.remainder = rem;
  return t;
}

fs::path child(const fs::path& dest, const std::u16string& name) {
  std::u16string n = name;
  for (char16_t& c : n)
    if (c == u'\\') c = u'/';
  return dest / fs::path(n);
}

}  // namespace

TEST(Extraction, StoredTreeComesBackWithTimesAndAttributes) {
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>(i * 7 + i / 251);
  std::vector<TreeEntry> tree = {
      {u"docs\\readme.txt", "read me\r\n", false, 0x20, time_of(2021, 3, 4, 5, 6, 7, 1234567)},
      {u"docs\\目录\\文件.txt", "中文内容", false, 0x20, time_of(2019, 12, 31, 23, 59, 58, 9999999)},
      {u"emoji \U0001F600.txt", "smile", false, 0x20, time_of(2020, 2, 29, 12, 0, 0, 1)},
      {u"empty.txt", "", false, 0x20, time_of(2000, 1, 1, 0, 0, 0, 0)},
      {u"locked.txt", "read only", false, 0x21, time_of(2015, 6, 7, 8, 9, 10, 5000000)},
      {u"big.bin", big, false, 0x20, time_of(2010, 10, 10, 10, 10, 10, 0)},
      {u"docs\\目录", "", true, 0x10, time_of(2011, 1, 2, 3, 4, 5, 6000000)},
      {u"docs", "", true, 0x10, time_of(2012, 2, 3, 4, 5, 6, 0)},
      {u"empty folder", "", true, 0x10, time_of(2013, 3, 4, 5, 6, 7, 8)},
  };
  std::string archive = write_archive(tree);
  fs::path dest = fixtures::temp_folder() / "out";
  RunResult r = extract(archive, dest);
  ASSERT_EQ(r.exit, 0) << r.log;
  EXPECT_TRUE(r.errors.empty()) << r.log;

  for (const TreeEntry& t : tree) {
    fs::path p = child(dest, t.name);
    ASSERT_TRUE(fs::exists(p)) << p;
    EXPECT_EQ(fs::is_directory(p), t.folder) << p;
    if (!t.folder) EXPECT_EQ(slurp(p), t.data) << p;
    FindRecord found;
    std::u16string w = child(dest, t.name).u16string();
    WChar wide[kPathSize] = {};
    for (size_t i = 0; i < w.size(); i++) wide[i] = w[i];
    char narrow[kPathSize];
    if (!wide_to_ansi(wide, narrow, sizeof(narrow))) narrow[0] = 0;
    ASSERT_TRUE(find_one(narrow, wide, found)) << p;
    EXPECT_TRUE(times_equal(found.mtime, t.mtime))
        << p << ": " << found.mtime.year << "-" << found.mtime.month << "-" << found.mtime.day << " "
        << found.mtime.hour << ":" << found.mtime.minute << ":" << found.mtime.second << "." << found.mtime.remainder;
    EXPECT_EQ((found.attributes & kAttrReadOnly) != 0, (t.attributes & kAttrReadOnly) != 0) << p;
  }
  set_attributes((dest / "locked.txt").string().c_str(), nullptr, 0x20);
}

TEST(Extraction, FailuresGiveTheirMessagesAndExitCodes) {
  Entry bad_crc;
  bad_crc.name = "bad.bin";
  bad_crc.data = {1, 2, 3, 4};
  Bytes bad_crc_block = fixtures::file_block(bad_crc);
  bad_crc_block[bad_crc_block.size() - 1] ^= 0xFF;  // data no longer matches its CRC

  Bytes broken_header = stored("hurt.txt", "still here");
  broken_header[20] ^= 0x01;  // a bit of the time: the header CRC fails, the layout holds

  Entry old_method;
  old_method.name = "old20.bin";
  old_method.data = {9, 9, 9};
  old_method.version = 20;
  old_method.method = 0x33;
  Entry old_stored = old_method;
  old_stored.name = "old20stored.bin";
  old_stored.method = 0x30;

  Entry av;
  av.name = "AV";
  av.flags = 0x8000;
  av.method = 0x30;

  struct Case {
    const char* name;
    std::vector<Bytes> blocks;
    int exit;
    std::vector<std::string> errors;
    std::vector<std::string> present, absent;
  } cases[] = {
      {"data CRC", {stored("good.txt", "good"), bad_crc_block, stored("after.txt", "after")}, 3,
       {message(113, "bad.bin")}, {"good.txt", "after.txt"}, {"bad.bin"}},
      {"header CRC", {broken_header}, 1, {message(104, "hurt.txt")}, {"hurt.txt"}, {}},
      {"reserved names", {stored("__kez_hidden.txt", "x"), stored("dir\\__KEZ_x", "y"), stored("seen.txt", "z")}, 0,
       {}, {"seen.txt"}, {"__kez_hidden.txt", "dir/__KEZ_x"}},
      {"stop mark", {stored("one.txt", "1"), fixtures::block(0x76, 0, {}), stored("two.txt", "2")}, 0, {},
       {"one.txt"}, {"two.txt"}},
      {"stop mark 2", {stored("one.txt", "1"), fixtures::block(0x79, 0, {}), stored("two.txt", "2")}, 0, {},
       {"one.txt"}, {"two.txt"}},
      {"AV", {stored("one.txt", "1"), fixtures::sub_block(av), stored("two.txt", "2")}, 0, {}, {"one.txt"},
       {"two.txt"}},
      {"old method", {fixtures::file_block(old_method), fixtures::file_block(old_stored)}, 1,
       {message(108, "old20.bin")}, {"old20stored.bin"}, {"old20.bin"}},
      {"nothing extracted", {}, 1, {}, {}, {}},
      {"unknown block", {fixtures::block(0x42, 0, {}), stored("x.txt", "x")}, 0, {}, {"x.txt"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes a = fixtures::archive_of(c.blocks);
    fixtures::append(a, fixtures::end_block());
    std::string path = fixtures::write_temp(a);
    fs::path dest = fixtures::temp_folder() / "out";
    RunResult r = extract(path, dest);
    EXPECT_EQ(r.exit, c.exit) << r.log;
    EXPECT_EQ(r.errors, c.errors) << r.log;
    EXPECT_EQ(r.error_lines, c.errors.size());
    for (const std::string& p : c.present) EXPECT_TRUE(fs::exists(dest / p)) << p;
    for (const std::string& p : c.absent) EXPECT_FALSE(fs::exists(dest / p)) << p;
  }
}

TEST(Extraction, TestCommandChecksWithoutWriting) {
  Entry bad;
  bad.name = "bad.bin";
  bad.data = {1, 2, 3};
  Bytes b = fixtures::file_block(bad);
  b.back() ^= 1;
  Bytes a = fixtures::archive_of({stored("ok.txt", "fine"), b});
  fixtures::append(a, fixtures::end_block());
  fs::path dest = fixtures::temp_folder() / "out";
  RunResult r = extract(fixtures::write_temp(a), dest, 'T');
  EXPECT_EQ(r.exit, 3);
  EXPECT_EQ(r.errors, std::vector<std::string>{message(113, "bad.bin")});
  EXPECT_FALSE(fs::exists(dest / "ok.txt"));
}

TEST(Extraction, HostileNamesStayInsideTheDestination) {
  // Narrow names and, with flag 0x0200 and a UTF-8 field, Unicode names.
  const char* narrow_names[] = {
      "..\\..\\escape1.txt", "../escape2.txt", "\\rooted3.txt", "/rooted4.txt", "C:\\drive5.txt", "C:drive6.txt",
      "\\\\server\\share\\unc7.txt", "\\\\?\\C:\\long8.txt", "a\\..\\..\\..\\climb9.txt", "a/./../../climb10.txt",
      "CON", "nul.txt", "aux .txt", "trail11.txt.", "trail12.txt ", "dir\\..",
  };
  std::vector<Bytes> blocks;
  int n = 0;
  for (const char* name : narrow_names) blocks.push_back(stored(name, "x" + std::to_string(n++)));
  const char* utf8_names[] = {"..\\..\\宽1.txt", "\\\\srv\\s\\宽2.txt", "D:\\宽3.txt", "宽\\..\\..\\宽4.txt",
                              "stream:宽5.txt"};
  for (const char* name : utf8_names) blocks.push_back(stored(name, "w" + std::to_string(n++), 0x0200));
  Bytes a = fixtures::archive_of(blocks);
  fixtures::append(a, fixtures::end_block());
  std::string archive = fixtures::write_temp(a);

  fs::path base = fixtures::temp_folder();
  fs::path dest = base / "deep" / "dest";
  fs::create_directories(dest);
  RunResult r = extract(archive, dest);
  EXPECT_NE(r.exit, 2) << r.log;
  // Nothing outside the destination: the folders above it hold only the way down.
  const std::string inside = dest.string();
  for (const auto& e : fs::recursive_directory_iterator(base)) {
    const std::string p = e.path().string();
    bool on_the_way_down = inside.compare(0, p.size(), p) == 0;
    bool below = p.compare(0, inside.size(), inside) == 0;
    EXPECT_TRUE(on_the_way_down || below) << "escaped: " << p;
  }
  for (const char* outside : {"escape1.txt", "escape2.txt", "rooted3.txt", "rooted4.txt", "climb9.txt"}) {
    EXPECT_FALSE(fs::exists(base / outside));
    EXPECT_FALSE(fs::exists(base / "deep" / outside));
  }
  EXPECT_TRUE(fs::exists(dest / "escape1.txt")) << r.log;
  EXPECT_TRUE(fs::exists(dest / "unc7.txt")) << r.log;
#ifdef _WIN32
  // A device name never reaches the device: it is made an ordinary file.
  EXPECT_TRUE(fs::exists(dest / "_CON")) << r.log;
#endif
}

TEST(Extraction, ExistingReadOnlyFileIsReplacedWhenOverwriting) {
  Bytes a = fixtures::archive_of({stored("keep.txt", "new content")});
  fixtures::append(a, fixtures::end_block());
  std::string archive = fixtures::write_temp(a);
  fs::path dest = fixtures::temp_folder() / "out";
  fs::create_directories(dest);
  { std::ofstream(dest / "keep.txt") << "old"; }
  set_attributes((dest / "keep.txt").string().c_str(), nullptr, kAttrReadOnly);

  // Keep the existing file: no error, no change.
  reset_run_state();
  run_state.skip_all_existing = true;
  {
    ExtractionJob job;
    add_name(job.include_masks, "*", nullptr);
    add_name(job.archive_names, archive.c_str(), nullptr);
    copy_bounded(job.destination, core_destination(dest).c_str(), sizeof(job.destination));
    ::testing::internal::CaptureStderr();
    run_extraction(job);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(run_state.error_lines, 0) << log;
  }
  EXPECT_EQ(slurp(dest / "keep.txt"), "old");

  reset_run_state();
  run_state.overwrite_all = true;
  {
    ExtractionJob job;
    add_name(job.include_masks, "*", nullptr);
    add_name(job.archive_names, archive.c_str(), nullptr);
    copy_bounded(job.destination, core_destination(dest).c_str(), sizeof(job.destination));
    ::testing::internal::CaptureStderr();
    run_extraction(job);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(exit_code(), 0) << log;
  }
  EXPECT_EQ(slurp(dest / "keep.txt"), "new content");
  reset_run_state();
}

fs::path g_watched_file;

// Presses Cancel once the watched output file exists, that is in the middle of its data.
void cancel_when_watched_file_exists() {
  if (!run_state.user_break && fs::exists(g_watched_file)) run_state.user_break = 1;
}

TEST(ExtractionDeathTest, CancelDuringDataEndsWith255AndDeletesTheFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::string data(3 << 20, 'q');
  Bytes a = fixtures::archive_of({stored("first.txt", "done"), stored("large.bin", data)});
  fixtures::append(a, fixtures::end_block());
  std::string archive = fixtures::write_temp(a);
  fs::path dest = fixtures::temp_folder() / "out";
  EXPECT_EXIT(
      {
        reset_run_state();
        g_watched_file = dest / "large.bin";
        console_pump_hook = cancel_when_watched_file_exists;
        keep_ui_alive();  // starts the clock: from 100 ms on, every call looks at the break
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ExtractionJob job;
        add_name(job.include_masks, "*", nullptr);
        add_name(job.archive_names, archive.c_str(), nullptr);
        copy_bounded(job.destination, core_destination(dest).c_str(), sizeof(job.destination));
        run_extraction(job);
        std::exit(0);
      },
      ::testing::ExitedWithCode(255), "");
  EXPECT_TRUE(fs::exists(dest / "first.txt"));
  EXPECT_FALSE(fs::exists(dest / "large.bin"));
}
