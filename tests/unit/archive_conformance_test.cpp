// Every conformance archive opens, and its entries' names are those of its expected tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "archive_fixtures.h"

using namespace fixtures;

namespace {

// Just enough JSON for case.json: objects, arrays, strings, numbers, literals.
struct Json {
  enum Kind { null, boolean, number, string, array, object } kind = null;
  double num = 0;
  std::string str;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;
  const Json& operator[](const std::string& key) const {
    static const Json none;
    for (const auto& m : members)
      if (m.first == key) return m.second;
    return none;
  }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : s_(text) {}
  Json parse() {
    skip();
    Json v;
    char c = s_[i_];
    if (c == '{') {
      v.kind = Json::object;
      i_++;
      skip();
      while (s_[i_] != '}') {
        std::string key = parse_string();
        skip();
        i_++;  // ':'
        v.members.emplace_back(key, parse());
        skip();
        if (s_[i_] == ',') i_++;
        skip();
      }
      i_++;
    } else if (c == '[') {
      v.kind = Json::array;
      i_++;
      skip();
      while (s_[i_] != ']') {
        v.items.push_back(parse());
        skip();
        if (s_[i_] == ',') i_++;
        skip();
      }
      i_++;
    } else if (c == '"') {
      v.kind = Json::string;
      v.str = parse_string();
    } else if (s_.compare(i_, 4, "null") == 0) {
      i_ += 4;
    } else if (s_.compare(i_, 4, "true") == 0 || s_.compare(i_, 5, "false") == 0) {
      v.kind = Json::boolean;
      v.num = s_[i_] == 't';
      i_ += s_[i_] == 't' ? 4 : 5;
    } else {
      v.kind = Json::number;
      size_t used = 0;
      v.num = std::stod(s_.substr(i_, 32), &used);
      i_ += used;
    }
    return v;
  }

 private:
  void skip() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) i_++;
  }
  uint32_t hex4() {
    uint32_t v = static_cast<uint32_t>(std::stoul(s_.substr(i_, 4), nullptr, 16));
    i_ += 4;
    return v;
  }
  std::string parse_string() {
    std::string out;
    i_++;  // opening quote
    while (s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      char e = s_[i_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'u': {
          uint32_t cp = hex4();
          if (cp >= 0xD800 && cp <= 0xDBFF && s_[i_] == '\\') {
            i_ += 2;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (hex4() - 0xDC00);
          }
          WChar w[3] = {};
          if (cp >= 0x10000) {
            w[0] = static_cast<WChar>(0xD800 + ((cp - 0x10000) >> 10));
            w[1] = static_cast<WChar>(0xDC00 + (cp & 0x3FF));
          } else {
            w[0] = static_cast<WChar>(cp);
          }
          out += utf8_of(w);
          break;
        }
        default: out += e; break;
      }
    }
    i_++;
    return out;
  }
  const std::string& s_;
  size_t i_ = 0;
};

std::filesystem::path conformance_root() { return std::filesystem::path(QUILLO_TEST_DATA) / "conformance"; }

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(conformance_root()))
    if (std::filesystem::exists(entry.path() / "case.json")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

Json load_case(const std::string& name) {
  std::ifstream in(conformance_root() / name / "case.json", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return JsonParser(text.str()).parse();
}

}  // namespace

TEST(Conformance, EveryArchiveListsItsExpectedTree) {
  std::vector<std::string> cases = case_names();
  ASSERT_FALSE(cases.empty());
  for (const std::string& name : cases) {
    SCOPED_TRACE(name);
    Json c = load_case(name);
    std::string archive = (conformance_root() / name / c["module"].str).string();

    std::set<std::string> files, folders;
    ReadResult r = walk(archive, [&](ArchiveReader& reader) {
      (reader.is_folder() ? folders : files).insert(entry_name(reader.file));
    });
    ASSERT_TRUE(r.opened);
    if (name == "unsafe_paths") continue;  // those names are made safe only on extraction

    std::set<std::string> expected_files, absent;
    for (const auto& f : c["expected"]["files"].members) expected_files.insert(f.first);
    for (const Json& a : c["absent"].items) absent.insert(a.str);
    std::set<std::string> listed_files;
    for (const std::string& f : files)
      if (!absent.count(f)) listed_files.insert(f);
    EXPECT_EQ(listed_files, expected_files);

    // Every expected folder is an entry or the parent of one.
    std::set<std::string> known = folders;
    for (const std::string& f : files)
      for (size_t slash = f.find('/'); slash != std::string::npos; slash = f.find('/', slash + 1))
        known.insert(f.substr(0, slash));
    for (const auto& d : c["expected"]["dirs"].members) EXPECT_TRUE(known.count(d.first)) << d.first;
  }
}

TEST(Conformance, ShortHeaderLengthEndsTheArchive) {
  Json c = load_case("header_length_short");
  ReadResult r = walk((conformance_root() / "header_length_short" / c["module"].str).string());
  ASSERT_TRUE(r.opened);
  EXPECT_EQ(r.exit, 3);
  EXPECT_EQ(r.exit, static_cast<int>(c["exit_code"].num));
  EXPECT_NE(r.log.find("\"???\""), std::string::npos) << r.log;
  EXPECT_EQ(r.names, std::vector<std::string>{"before.txt"});
}
