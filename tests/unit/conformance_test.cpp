// Runs the packer's extract command over every independent conformance case and
// compares the destination with the tree, times and exit code the case expects.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>

#include "tree_check.h"

namespace fs = std::filesystem;
using testsupport::Json;

namespace {

std::string format_time(const timespec& ts) {
  time_t t = ts.tv_sec;
  tm u;
  gmtime_r(&t, &u);
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d.%07ld", u.tm_year + 1900, u.tm_mon + 1, u.tm_mday,
                u.tm_hour, u.tm_min, u.tm_sec, ts.tv_nsec / 100);
  return buf;
}

// The ids of the messages whose English format matches each error line of the log.
std::vector<int> error_ids(const std::string& log) {
  std::vector<std::pair<int, std::string>> formats;
  std::string defs = testsupport::read_file(std::string(QUILLO_SOURCE_DIR) + "/src/ui/messages.def");
  for (size_t at = defs.find("QUILLO_MESSAGE("); at != std::string::npos; at = defs.find("QUILLO_MESSAGE(", at + 1)) {
    int id = std::atoi(defs.c_str() + at + 15);
    size_t p = defs.find('"', at);
    auto end_of = [&](size_t open) {
      size_t k = open + 1;
      while (defs[k] != '"') k += defs[k] == '\\' ? 2 : 1;
      return k;
    };
    size_t first_end = end_of(p);
    size_t second_open = defs.find('"', first_end + 1);
    size_t second_end = end_of(second_open);
    std::string raw = defs.substr(second_open + 1, second_end - second_open - 1), text;
    for (size_t k = 0; k < raw.size(); k++) {
      if (raw[k] == '\\' && k + 1 < raw.size()) {
        text += raw[k + 1] == 'n' ? '\n' : raw[k + 1];
        k++;
      } else {
        text += raw[k];
      }
    }
    formats.emplace_back(id, text);
  }
  std::vector<int> ids;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("! ", 0) != 0) continue;
    line = line.substr(2);
    int found = -1;
    for (const auto& f : formats)
      if (testsupport::matches_format(line, f.second)) {
        found = f.first;
        break;
      }
    ids.push_back(found);
  }
  return ids;
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  fs::path root = fs::path(QUILLO_TEST_DATA) / "conformance";
  if (!fs::exists(root)) return names;
  for (const auto& e : fs::directory_iterator(root))
    if (fs::exists(e.path() / "case.json")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Conformance, ExtractsTheExpectedTree) {
  fs::path dir = fs::path(QUILLO_TEST_DATA) / "conformance" / GetParam();
  Json c = Json::parse(testsupport::read_file((dir / "case.json").string()));
  fs::path dest = fs::temp_directory_path() / ("quillo-conf-" + GetParam() + "-" + std::to_string(getpid()));
  fs::remove_all(dest);
  fs::create_directories(dest);
  if (fs::exists(dir / "pre")) fs::copy(dir / "pre", dest, fs::copy_options::recursive);

  std::string password;
  for (const Json& s : c["switches"].items)
    if (s.text.rfind("-p", 0) == 0 && s.text.rfind("-sp", 0) != 0) password = s.text.substr(2);
  fs::path log = dest.string() + ".log";
  std::string cmd = "TZ=UTC '" + std::string(QUILLO_KEZ) + "' extract -C '" + dest.string() + "' ";
  if (!password.empty()) cmd += "--password '" + password + "' ";
  cmd += "'" + (dir / c["module"].text).string() + "' 2>'" + log.string() + "' </dev/null";
  int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  std::string log_text = testsupport::read_file(log.string());
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(c["exit_code"].number)) << log_text;

  std::vector<int> expected_ids;
  for (const Json& id : c["error_messages"].items) expected_ids.push_back(static_cast<int>(id.number));
  EXPECT_EQ(error_ids(log_text), expected_ids) << log_text;

  const Json& exp = c["expected"];
  std::set<std::string> seen;
  for (const auto& f : exp["files"].members) {
    fs::path p = dest / fs::u8path(f.first);
    seen.insert(f.first);
    struct stat st;
    ASSERT_EQ(lstat(p.c_str(), &st), 0) << "missing " << f.first << "\n" << log_text;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << f.first;
    if (!f.second["mtime"].is_null()) EXPECT_EQ(format_time(st.st_mtim), f.second["mtime"].text) << f.first;
    if (!f.second["atime"].is_null()) EXPECT_EQ(format_time(st.st_atim), f.second["atime"].text) << f.first;
    EXPECT_EQ(static_cast<double>(st.st_size), f.second["size"].number) << f.first;
    EXPECT_EQ(testsupport::sha256_file(p.string()), f.second["sha256"].text) << f.first;
  }
  for (const auto& d : exp["dirs"].members) {
    fs::path p = dest / fs::u8path(d.first);
    seen.insert(d.first);
    struct stat st;
    ASSERT_EQ(lstat(p.c_str(), &st), 0) << "missing folder " << d.first;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << d.first;
    if (!d.second["mtime"].is_null()) EXPECT_EQ(format_time(st.st_mtim), d.second["mtime"].text) << d.first;
  }
  for (const Json& a : c["absent"].items) EXPECT_FALSE(fs::exists(dest / fs::u8path(a.text))) << a.text;
  if (exp["exact_tree"].boolean) {
    for (const auto& e : fs::recursive_directory_iterator(dest)) {
      std::string rel = fs::relative(e.path(), dest).generic_u8string();
      EXPECT_TRUE(seen.count(rel)) << "unexpected " << rel;
    }
  }
  fs::remove_all(dest);
  fs::remove(log);
}

INSTANTIATE_TEST_SUITE_P(Cases, Conformance, ::testing::ValuesIn(case_names()),
                         [](const ::testing::TestParamInfo<std::string>& i) { return i.param; });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Conformance);

}  // namespace

#endif
