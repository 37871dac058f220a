#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/cmdline.h"
#include "app/run_state.h"

namespace {

struct Parsed {
  std::string destination, password, setup_parameters;
  int silent_level;
  bool silent_from_command_line, elevated_instance;
};

void clear_command_line_fields() {
  std::memset(run_state.destination, 0, sizeof(run_state.destination));
  std::memset(run_state.password, 0, sizeof(run_state.password));
  std::memset(run_state.setup_parameters, 0, sizeof(run_state.setup_parameters));
  run_state.silent_level = 0;
  run_state.silent_from_command_line = false;
  run_state.elevated_instance = false;
}

Parsed parse(const char* text) {
  clear_command_line_fields();
  parse_command_line(text);
  Parsed p{run_state.destination, run_state.password, run_state.setup_parameters,
           run_state.silent_level, run_state.silent_from_command_line, run_state.elevated_instance};
  clear_command_line_fields();  // leave the shared run state clean for other tests
  return p;
}

}  // namespace

TEST(CommandLine, DefaultsWithoutSwitches) {
  for (const char* text : {"", "setup.exe", "  \"C:\\my setup\\setup.exe\"  \t", "setup.exe plain words",
                           "setup.exe -x -q /z", "-s1"}) {
    Parsed p = parse(text);
    EXPECT_EQ(p.destination, "") << text;
    EXPECT_EQ(p.password, "") << text;
    EXPECT_EQ(p.setup_parameters, "") << text;
    EXPECT_EQ(p.silent_level, 0) << text;
    EXPECT_FALSE(p.silent_from_command_line) << text;
    EXPECT_FALSE(p.elevated_instance) << text;
  }
}

TEST(CommandLine, ProgramPathIsSkippedWhateverItLooksLike) {
  EXPECT_EQ(parse("-dC:\\x -dD:\\y").destination, "D:\\y");
  EXPECT_EQ(parse("\"-dC:\\x\" -pP").destination, "");
  EXPECT_EQ(parse("\"a b\"-dC:\\x -pP").destination, "");
}

TEST(CommandLine, QuotesAndBlanks) {
  struct Case {
    const char* text;
    const char* destination;
  } cases[] = {
      {"setup.exe -d\"D:\\a b\"", "D:\\a b"},
      {"setup.exe \"-dD:\\a b\"", "D:\\a b"},
      {"setup.exe -d\"D:\\a  \t b\"\\c", "D:\\a  \t b\\c"},
      {"setup.exe \t -dD:\\x\t-pq", "D:\\x"},
      {"setup.exe -d\"\"C:\\", "C:\\"},
      {"setup.exe -dC:\\a\\\"b c\"", "C:\\a\\b c"},  // a backslash does not escape a quote
      {"setup.exe -d\"C:\\open quote", "C:\\open quote"},
      {"setup.exe -d", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.text).destination, c.destination) << c.text;
}

TEST(CommandLine, SilentLevels) {
  struct Case {
    const char* text;
    int level;
    bool from_command_line;
  } cases[] = {
      {"x -s", 1, true},        {"x -s1", 1, true},     {"x /S1", 1, true},    {"x -S", 1, true},
      {"x -s2", 2, true},       {"x /s2", 2, true},     {"x -s1abc", 1, true}, {"x -s2xyz", 2, true},
      {"x -s3", 0, false},      {"x -sx", 0, false},    {"x -s -s2", 2, true}, {"x -s2 -s", 1, true},
      {"x -s2 -s3", 2, true},   {"x -spX", 0, false},   {"x s1", 0, false},    {"x --s1", 0, false},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.text);
    EXPECT_EQ(p.silent_level, c.level) << c.text;
    EXPECT_EQ(p.silent_from_command_line, c.from_command_line) << c.text;
  }
}

TEST(CommandLine, ElevatedNeedsTheExactToken) {
  struct Case {
    const char* text;
    bool elevated;
  } cases[] = {
      {"x -el", true}, {"x -EL", true}, {"x /eL", true}, {"x \"-el\"", true},
      {"x -el1", false}, {"x -elx", false}, {"x -e", false}, {"x -ell", false},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.text).elevated_instance, c.elevated) << c.text;
}

TEST(CommandLine, ValuesAndLastWins) {
  Parsed p = parse("x -pfirst -PSecond \"-SPa b c\" -d1 /D2 -sp -spLast -s2 -el");
  EXPECT_EQ(p.password, "Second");
  EXPECT_EQ(p.setup_parameters, "Last");
  EXPECT_EQ(p.destination, "2");
  EXPECT_EQ(p.silent_level, 2);
  EXPECT_TRUE(p.elevated_instance);
  // The value keeps its own letter case and everything after the switch letters.
  EXPECT_EQ(parse("x \"-sp/S -x=1 2\" -x").setup_parameters, "/S -x=1 2");
  EXPECT_EQ(parse("x -sp/S -x=\"1 2\"").setup_parameters, "/S");
  EXPECT_EQ(parse("x -p-s2").password, "-s2");
  EXPECT_EQ(parse("x -p-s2").silent_level, 0);
}

TEST(CommandLine, OverlongValuesAreCut) {
  std::string long_password(200, 'p');
  long_password[126] = 'L';
  Parsed p = parse(("x -p" + long_password).c_str());
  EXPECT_EQ(p.password, long_password.substr(0, 127));

  // A token holds 1023 characters: "-d" and 1021 of the path; the rest is dropped, and
  // the next token still counts.
  std::string path(1500, 'a');
  path[1020] = 'Z';
  p = parse(("x -d" + path + " -s2").c_str());
  EXPECT_EQ(p.destination, path.substr(0, 1021));
  EXPECT_EQ(p.silent_level, 2);

  std::string parameters(1100, 'q');
  p = parse(("x \"-sp" + parameters + "\" -el").c_str());
  EXPECT_EQ(p.setup_parameters, parameters.substr(0, 1020));
  EXPECT_TRUE(p.elevated_instance);
}

TEST(CommandLine, ElevatedRelaunchLineRoundTrips) {
  // The line the start dialog builds for the elevated instance.
  Parsed p = parse("\"C:\\dl\\setup.exe\" -el -s2 \"-dC:\\Program Files\\App\" \"-psecret word\" \"-sp/q /norestart\"");
  EXPECT_TRUE(p.elevated_instance);
  EXPECT_EQ(p.silent_level, 2);
  EXPECT_EQ(p.destination, "C:\\Program Files\\App");
  EXPECT_EQ(p.password, "secret word");
  EXPECT_EQ(p.setup_parameters, "/q /norestart");
}
