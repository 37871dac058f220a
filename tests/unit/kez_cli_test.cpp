// The packer as a user runs it: kez create, then kez list.
#include <gtest/gtest.h>

#if defined(QUILLO_KEZ) && !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "archive/comment.h"
#include "archive_fixtures.h"
#include "platform/memory.h"

using namespace fixtures;
namespace fs = std::filesystem;

namespace {

struct KezRun {
  int exit = -1;
  std::string out, err;
};

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

KezRun kez(const std::vector<std::string>& args, const fs::path& cwd) {
  std::string cmd = "cd " + quoted(cwd.string()) + " && " + quoted(QUILLO_KEZ);
  for (const std::string& a : args) cmd += " " + quoted(a);
  // Captured outside cwd, so that they never end up in an archive.
  fs::path out = fs::temp_directory_path() / ("quillo_kez_" + std::to_string(getpid()) + ".out");
  fs::path err = fs::temp_directory_path() / ("quillo_kez_" + std::to_string(getpid()) + ".err");
  cmd += " >" + quoted(out.string()) + " 2>" + quoted(err.string());
  KezRun r;
  int status = std::system(cmd.c_str());
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

void write_file(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

void set_mtime(const fs::path& p, int64_t seconds, long nanoseconds) {
  timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0) << p;
}

struct Row {
  std::string kind, size, packed, method, version, attributes, mtime, flags, name;
};

// The entry lines of a listing, by name.
std::map<std::string, Row> rows_of(const std::string& listing) {
  std::map<std::string, Row> rows;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    Row r;
    std::string date, time;
    if (!(f >> r.kind) || (r.kind != "file" && r.kind != "folder" && r.kind != "sub")) continue;
    f >> r.size >> r.packed >> r.method >> r.version >> r.attributes >> date >> time >> r.flags;
    r.mtime = date + " " + time;
    std::getline(f >> std::ws, r.name);
    rows[r.name] = r;
  }
  return rows;
}

std::string local_time_text(int64_t seconds, long nanoseconds) {
  FileTime t = static_cast<FileTime>(seconds * 10000000 + nanoseconds / 100) + 116444736000000000ull;
  TimeStamp s = from_file_time(t);
  char b[64];
  std::snprintf(b, sizeof(b), "%04u-%02u-%02u %02u:%02u:%02u.%07u", s.year, s.month, s.day, s.hour, s.minute, s.second,
                s.remainder);
  return b;
}

int lines_of(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

TEST(KezCli, CreateThenListRoundTripsATree) {
  fs::path work = temp_folder();
  fs::path tree = work / "tree";
  write_file(tree / "a" / "b" / "c" / "deep.txt", "deep data\n");
  write_file(tree / "empty.bin", "");
  write_file(tree / "中文" / "文件.txt", "CJK name");
  write_file(tree / "emoji_😀.txt", "smile");
  write_file(tree / "ro.txt", "read only");
  fs::create_directories(tree / "empty_folder");
  ASSERT_EQ(chmod((tree / "ro.txt").c_str(), 0444), 0);
  set_mtime(tree / "a" / "b" / "c" / "deep.txt", 1600000000, 123456789);
  set_mtime(tree / "emoji_😀.txt", 1600000001, 500);
  set_mtime(tree / "empty.bin", 1000000000, 0);
  write_file(work / "script.txt", "Title=Test\r\nSetup=run.exe\r\n");

  KezRun create = kez({"create", "-o", "out.kez", "--comment", "script.txt", "--method", "store", "tree"}, work);
  ASSERT_EQ(create.exit, 0) << create.err;
  EXPECT_EQ(create.err, "");

  KezRun list = kez({"list", "out.kez"}, work);
  ASSERT_EQ(list.exit, 0) << list.err;
  EXPECT_NE(list.out.find("Signature at offset 0"), std::string::npos);
  std::map<std::string, Row> rows = rows_of(list.out);
  std::vector<std::string> names;
  for (const auto& r : rows) names.push_back(r.first);
  std::vector<std::string> expected = {"CMT", "tree", "tree/a", "tree/a/b", "tree/a/b/c", "tree/a/b/c/deep.txt",
                                       "tree/emoji_😀.txt", "tree/empty.bin", "tree/empty_folder", "tree/ro.txt",
                                       "tree/中文", "tree/中文/文件.txt"};
  EXPECT_EQ(names, expected);

  const Row& deep = rows["tree/a/b/c/deep.txt"];
  EXPECT_EQ(deep.kind, "file");
  EXPECT_EQ(deep.size, "10");
  EXPECT_EQ(deep.packed, "10");
  EXPECT_EQ(deep.method, "stored");
  EXPECT_EQ(deep.attributes, "0x00000020");
  EXPECT_EQ(deep.mtime, local_time_text(1600000000, 123456789));
  EXPECT_EQ(rows["tree/emoji_😀.txt"].mtime, local_time_text(1600000001, 500));
  EXPECT_EQ(rows["tree/emoji_😀.txt"].flags, "file,unicode");
  EXPECT_EQ(rows["tree/empty.bin"].size, "0");
  EXPECT_EQ(rows["tree/empty.bin"].mtime, local_time_text(1000000000, 0));
  EXPECT_EQ(rows["tree/ro.txt"].attributes, "0x00000021");
  EXPECT_EQ(rows["tree/中文"].kind, "folder");
  EXPECT_EQ(rows["tree/中文"].attributes, "0x00000010");
  EXPECT_EQ(rows["tree/中文/文件.txt"].size, "8");
  EXPECT_EQ(rows["CMT"].kind, "sub");

  char* text = nullptr;
  int size = 0;
  read_script_comment((work / "out.kez").c_str(), &text, &size);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), "Title=Test\r\nSetup=run.exe\r\n");
  mem_free(text);
  reset_exit_status();

  // Behind a module: the same listing, found at the module's size.
  std::string module(70000, '\xCC');
  write_file(work / "setup.exe", module + slurp(work / "out.kez"));
  KezRun behind = kez({"list", "setup.exe"}, work);
  ASSERT_EQ(behind.exit, 0) << behind.err;
  EXPECT_NE(behind.out.find("Signature at offset 70000"), std::string::npos);
  EXPECT_EQ(rows_of(behind.out).size(), rows.size());
  chmod((tree / "ro.txt").c_str(), 0644);
}

TEST(KezCli, PathsAreStoredRelativeToTheirParent) {
  fs::path work = temp_folder();
  write_file(work / "deep" / "er" / "pkg" / "x.txt", "x");
  write_file(work / "deep" / "single.txt", "s");
  KezRun create = kez({"create", "--output=two.kez", "deep/er/pkg", "deep/single.txt"}, work);
  ASSERT_EQ(create.exit, 0) << create.err;
  std::map<std::string, Row> rows = rows_of(kez({"list", "two.kez"}, work).out);
  std::vector<std::string> names;
  for (const auto& r : rows) names.push_back(r.first);
  EXPECT_EQ(names, (std::vector<std::string>{"pkg", "pkg/x.txt", "single.txt"}));

  // "." is stored under the folder's own name, and the archive inside it is left out.
  KezRun here = kez({"create", "-o", "self.kez", "."}, work / "deep" / "er");
  ASSERT_EQ(here.exit, 0) << here.err;
  rows = rows_of(kez({"list", "self.kez"}, work / "deep" / "er").out);
  names.clear();
  for (const auto& r : rows) names.push_back(r.first);
  EXPECT_EQ(names, (std::vector<std::string>{"er", "er/pkg", "er/pkg/x.txt"}));
}

TEST(KezCli, LzMethodWhenBuiltIn) {
  fs::path work = temp_folder();
  std::string text;
  for (int i = 0; i < 2000; i++) text += "line " + std::to_string(i % 37) + " of a compressible text\n";
  write_file(work / "t" / "a.txt", text);
  write_file(work / "t" / "b.txt", text + "more");
  KezRun create = kez({"create", "-o", "lz.kez", "--method", "lz", "--solid", "--level", "5", "t"}, work);
  if (create.exit == 2 && create.err.find("not available") != std::string::npos) {
    EXPECT_EQ(lines_of(create.err), 1);
    GTEST_SKIP() << "the LZ compressor is not part of this build";
  }
  ASSERT_EQ(create.exit, 0) << create.err;
  KezRun list = kez({"list", "lz.kez"}, work);
  ASSERT_EQ(list.exit, 0) << list.err;
  std::map<std::string, Row> rows = rows_of(list.out);
  EXPECT_EQ(rows["t/a.txt"].method, "lz-5");
  EXPECT_EQ(rows["t/a.txt"].flags, "file");
  EXPECT_EQ(rows["t/b.txt"].flags, "file,solid");
  EXPECT_NE(list.out.find("Archive flags: 0x0008 solid"), std::string::npos);
}

TEST(KezCli, ErrorsAreOneLineAndANonZeroStatus) {
  fs::path work = temp_folder();
  write_file(work / "junk.bin", std::string(1000, 'j'));
  write_file(work / "f.txt", "f");
  struct Case {
    std::vector<std::string> args;
    int exit;
  } cases[] = {
      {{}, 2},
      {{"explode"}, 2},
      {{"create", "f.txt"}, 2},
      {{"create", "-o", "x.kez"}, 2},
      {{"create", "-o", "x.kez", "--level", "9", "f.txt"}, 2},
      {{"create", "-o", "x.kez", "--method", "zip", "f.txt"}, 2},
      {{"create", "-o", "x.kez", "--bogus", "f.txt"}, 2},
      {{"create", "-o", "x.kez", "--solid", "--method", "store", "f.txt"}, 2},
      {{"create", "-o", "x.kez", "missing.txt"}, 1},
      {{"create", "-o", "x.kez", "--comment", "missing.txt", "f.txt"}, 1},
      {{"list"}, 2},
      {{"list", "missing.kez"}, 2},
      {{"list", "junk.bin"}, 2},
  };
  for (const Case& c : cases) {
    KezRun r = kez(c.args, work);
    std::string what = c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
    EXPECT_EQ(r.exit, c.exit) << what << ": " << r.err;
    EXPECT_EQ(lines_of(r.err), 1) << what << ": " << r.err;
    EXPECT_EQ(r.err.rfind("kez: ", 0), 0u) << what << ": " << r.err;
    EXPECT_FALSE(fs::exists(work / "x.kez")) << what;
  }
  KezRun help = kez({"create", "--help"}, work);
  EXPECT_EQ(help.exit, 0);
  EXPECT_NE(help.out.find("--output"), std::string::npos);
}

TEST(KezCli, ListReportsDamageWithTheReadersExitCode) {
  fs::path work = temp_folder();
  fs::path archive = fs::path(QUILLO_TEST_DATA) / "conformance" / "header_length_short" / "archive.kez";
  KezRun r = kez({"list", archive.string()}, work);
  EXPECT_EQ(r.exit, 3);
  EXPECT_NE(r.err.find("\"???\""), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("before.txt"), std::string::npos);
}

// Files, sizes and modification times (to the 100 ns the archive keeps) of a tree.
std::map<std::string, std::string> tree_state(const fs::path& root) {
  std::map<std::string, std::string> state;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st;
    if (lstat(e.path().c_str(), &st) != 0) continue;
    std::string rel = fs::relative(e.path(), root).string();
    std::ostringstream v;
    if (S_ISDIR(st.st_mode)) {
      v << "dir ";
    } else if (S_ISREG(st.st_mode)) {
      v << "file " << st.st_size << " " << std::hash<std::string>()(slurp(e.path())) << " ";
      v << ((st.st_mode & S_IWUSR) ? "rw" : "ro") << " ";
    } else {
      continue;  // links are not packed
    }
    v << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec / 100;
    state[rel] = v.str();
  }
  return state;
}

TEST(KezCli, CreateThenExtractGivesBackARealTree) {
  fs::path work = temp_folder();
  fs::path tree = work / "tree";
  fs::create_directories(tree);
  for (const char* source : {"/usr/share/common-licenses", "/usr/share/doc/git", "/usr/share/zoneinfo/Europe"}) {
    if (!fs::exists(source)) continue;
    std::error_code ec;
    fs::copy(source, tree / fs::path(source).filename(),
             fs::copy_options::recursive | fs::copy_options::skip_symlinks, ec);
  }
  write_file(tree / "目录" / "文件.txt", "中文");
  write_file(tree / "empty.txt", "");
  write_file(tree / "locked.txt", "read only");
  set_mtime(tree / "locked.txt", 1600000000, 123456700);
  chmod((tree / "locked.txt").c_str(), 0444);
  set_mtime(tree / "目录", 1500000000, 999999900);
  fs::create_directories(tree / "empty folder");

  ASSERT_EQ(kez({"create", "-o", (work / "t.kez").string(), tree.string()}, work).exit, 0);
  KezRun x = kez({"extract", "-C", (work / "out").string(), (work / "t.kez").string()}, work);
  ASSERT_EQ(x.exit, 0) << x.err;
  EXPECT_EQ(tree_state(work / "out" / "tree"), tree_state(tree));
  KezRun t = kez({"test", (work / "t.kez").string()}, work);
  EXPECT_EQ(t.exit, 0) << t.err;
  chmod((work / "out" / "tree" / "locked.txt").c_str(), 0644);
  chmod((tree / "locked.txt").c_str(), 0644);
}

TEST(KezCli, SfxAppendsTheArchiveToTheModule) {
  fs::path work = temp_folder();
  std::string module(70000, 'M');  // any executable part: the archive is found behind it
  write_file(work / "module.exe", module);
  write_file(work / "app" / "a.txt", "alpha");
  write_file(work / "app" / "sub" / "b.txt", "beta");
  KezRun made = kez({"sfx", "--module", (work / "module.exe").string(), "-o", (work / "setup.exe").string(),
                     (work / "app").string()},
                    work);
  ASSERT_EQ(made.exit, 0) << made.err;
  std::string setup = slurp(work / "setup.exe");
  EXPECT_EQ(setup.substr(0, module.size()), module);
  EXPECT_FALSE(fs::exists(work / "setup.exe.archive.tmp"));

  KezRun listed = kez({"list", (work / "setup.exe").string()}, work);
  EXPECT_EQ(listed.exit, 0);
  EXPECT_NE(listed.out.find("70000"), std::string::npos) << listed.out;  // where the archive starts
  EXPECT_NE(listed.out.find("app/sub/b.txt"), std::string::npos) << listed.out;
  KezRun x = kez({"extract", "-C", (work / "out").string(), (work / "setup.exe").string()}, work);
  EXPECT_EQ(x.exit, 0) << x.err;
  EXPECT_EQ(slurp(work / "out" / "app" / "sub" / "b.txt"), "beta");

  // The same with a ready archive.
  ASSERT_EQ(kez({"create", "-o", (work / "app.kez").string(), (work / "app").string()}, work).exit, 0);
  ASSERT_EQ(kez({"sfx", "--module", (work / "module.exe").string(), "-o", (work / "setup2.exe").string(), "--archive",
                 (work / "app.kez").string()},
                work)
                .exit,
            0);
  EXPECT_EQ(slurp(work / "setup2.exe"), module + slurp(work / "app.kez"));
}

TEST(KezCli, ExtractExitCodes) {
  fs::path work = temp_folder();
  write_file(work / "not-an-archive.bin", std::string(1000, 'x'));
  struct Case {
    std::vector<std::string> args;
    int exit;
    const char* in_log;
  } cases[] = {
      {{"extract", (work / "missing.kez").string()}, 6, "Cannot open"},
      {{"extract", (work / "not-an-archive.bin").string()}, 1, "unknown or the archive is damaged"},
      {{"extract", "--bogus", "x"}, 2, "unknown option"},
      {{"extract"}, 2, "no archive"},
      {{"test", (fs::path(QUILLO_TEST_DATA) / "conformance" / "data_crc_error" / "archive.kez").string()}, 3,
       "CRC failed in bad.bin"},
  };
  for (const Case& c : cases) {
    KezRun r = kez(c.args, work);
    EXPECT_EQ(r.exit, c.exit) << c.args[0] << " " << r.err;
    EXPECT_NE(r.err.find(c.in_log), std::string::npos) << r.err;
  }
}

TEST(KezCli, CompressedAndUnicodeCommentsReadBack) {
  fs::path work = temp_folder();
  write_file(work / "app" / "a.txt", "alpha");
  std::string script;
  for (int i = 0; i < 100; i++) script += "Text=安装说明 line " + std::to_string(i % 7) + "\r\n";
  write_file(work / "script.txt", script);
  struct Case {
    const char* method;
    const char* listed;
  } cases[] = {{"store", "stored"}, {"lz", "lz-"}};
  for (const Case& c : cases) {
    fs::path archive = work / (std::string(c.method) + ".kez");
    ASSERT_EQ(kez({"create", "--method", c.method, "--comment", "script.txt", "-o", archive.string(), "app"}, work).exit,
              0);
    KezRun listed = kez({"list", archive.string()}, work);
    std::map<std::string, Row> rows = rows_of(listed.out);
    EXPECT_EQ(rows["CMT"].method.rfind(c.listed, 0), 0u) << c.method << "\n" << listed.out;
    char* text = nullptr;
    int size = 0;
    reset_exit_status();
    ::testing::internal::CaptureStderr();
    read_script_comment(archive.c_str(), &text, &size);
    std::string log = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(text, nullptr) << c.method << " " << log;
    EXPECT_EQ(std::string(text, static_cast<size_t>(size)), script) << c.method;
    EXPECT_EQ(exit_code(), 0);
    mem_free(text);
  }
}

#endif
