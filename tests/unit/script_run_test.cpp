// The interpreter's passes and the commands' settings, with a recording host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script_test_host.h"

using script_test::ScriptTest;
using Calls = std::vector<std::string>;

namespace {

const ScriptPhase kAllPhases[] = {ModePhase,    DisplayPhase, LicensePhase, TempFolderPhase,
                                  PresetupPhase, DeletePhase, ShortcutPhase, SetupPhase};

}  // namespace

class ScriptRun : public ScriptTest {};

TEST_F(ScriptRun, EachCommandActsInItsOwnPass) {
  host.temp = scratch;
  make_file("pre.exe");
  const std::string script =
      "Delete=old.txt\n"
      "Text=Hello\n"
      "Title=My caption\n"
      "Path=D:\\App\n"
      "Setup=setup.exe /S\n"
      "TempMode\n"
      "License=Terms\n"
      "{\nlicence text\n}\n"
      "Presetup=pre.exe\n"
      "Shortcut=D,app.exe\n"
      "SavePath\n";
  struct Expected {
    ScriptPhase phase;
    Calls calls;
  } expected[] = {
      {ModePhase, {}},
      {DisplayPhase, {"caption My caption", "destination D:\\App", "choice D:\\App"}},
      {LicensePhase, {"caption Terms"}},
      {TempFolderPhase, {"destination " + scratch + "\\KezSFX0"}},
      {PresetupPhase, {"program " + host.full_path_prefix + "pre.exe|(none)||pre.exe|wait"}},
      {DeletePhase, {}},
      {ShortcutPhase,
       {"shortcut " + scratch + "\\Desktop\\app.exe.lnk|C:\\dest\\app.exe||(none)|(none)|C:\\dest",
        "notify " + scratch + "\\Desktop\\"}},
      {SetupPhase, {"program setup.exe|/S||setup.exe|wait"}},
  };
  for (const Expected& e : expected) {
    host.calls.clear();
    run(script, e.phase);
    EXPECT_EQ(host.calls, e.calls) << "phase " << e.phase;
    if (e.phase == ModePhase) {
      EXPECT_TRUE(run_state.temp_mode);
      EXPECT_TRUE(run_state.save_path);
      EXPECT_EQ(run_state.silent_level, 2);
      EXPECT_EQ(run_state.main_text, nullptr);
    }
    if (e.phase == DisplayPhase) {
      ASSERT_NE(run_state.main_text, nullptr);
      EXPECT_STREQ(run_state.main_text, "Hello");
      EXPECT_EQ(run_state.license_text, nullptr);
    }
    if (e.phase == LicensePhase) {
      ASSERT_NE(run_state.license_text, nullptr);
      EXPECT_STREQ(run_state.license_text, "licence text\r\n");
    }
  }
}

TEST_F(ScriptRun, NoScriptOrNoKnownKeywordChangesNothing) {
  run_script_phase(nullptr, nullptr, DisplayPhase);
  for (ScriptPhase phase : kAllPhases)
    run("; a comment\n Text=indented\nText =blank before\nTexts=x\nSilent = 1\n\n", phase);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(run_state.main_text, nullptr);
  EXPECT_EQ(run_state.silent_level, 0);
}

TEST_F(ScriptRun, SilentAndOverwriteActInEveryPass) {
  struct Case {
    int level_before;
    const char* line;
    int level_after;
  } silent[] = {
      {0, "Silent", 2},   {0, "Silent=x", 2}, {0, "Silent=", 2},     {0, "silent=1", 1}, {0, "SILENT=1", 1},
      {2, "Silent=0", 0}, {1, "Silent=2", 1}, {1, "Silent=0", 1},    {0, "Silent=7", 7}, {0, "Silent = 1", 0},
      {0, "Silent=1\nSilent=2", 1}, {0, "Silent=2\nSilent=0", 0},
  };
  for (const Case& c : silent) {
    for (ScriptPhase phase : kAllPhases) {
      run_state.silent_level = c.level_before;
      run(c.line, phase);
      EXPECT_EQ(run_state.silent_level, c.level_after) << c.line << " from " << c.level_before << " in " << phase;
    }
  }

  struct Overwrite {
    const char* line;
    bool all_before, skip_before, all_after, skip_after;
  } overwrite[] = {
      {"Overwrite", false, true, true, false},    {"Overwrite=", false, true, true, false},
      {"Overwrite=0", true, false, false, false}, {"Overwrite=1", false, true, true, false},
      {"Overwrite=2", true, false, false, true},   {"Overwrite=3", true, false, true, false},
      {"overwrite=2x", false, false, false, true},
  };
  for (const Overwrite& c : overwrite) {
    run_state.overwrite_all = c.all_before;
    run_state.skip_all_existing = c.skip_before;
    run(c.line, SetupPhase);
    EXPECT_EQ(run_state.overwrite_all, c.all_after) << c.line;
    EXPECT_EQ(run_state.skip_all_existing, c.skip_after) << c.line;
  }
}

TEST_F(ScriptRun, TextCommandsAreJoinedWithBreaks) {
  struct Case {
    const char* script;
    const char* text;
  } cases[] = {
      {"Text=Hello\nText=World", "Hello<br>World"},
      {"Text=\nText=x", "<br>x"},
      {"Text=", ""},
      {"Text\n{\n<b>bold</b>\n}\nText=after", "<b>bold</b>\r\n<br>after"},
      // Without braces the block runs to the end, and its lines are scanned as commands too.
      {"Text\nline\nText=inner", "line\r\nText=inner\r\n<br>inner"},
  };
  for (const Case& c : cases) {
    run(c.script, DisplayPhase);
    ASSERT_NE(run_state.main_text, nullptr) << c.script;
    EXPECT_STREQ(run_state.main_text, c.text) << c.script;
    mem_free(run_state.main_text);
    run_state.main_text = nullptr;
  }

  // Many texts: the buffer grows with each one and always keeps room for the next "<br>".
  std::string script, expected;
  for (int i = 0; i < 200; i++) {
    std::string piece(static_cast<size_t>(i % 7), static_cast<char>('a' + i % 26));
    script += "Text=" + piece + "\n";
    expected += (i ? "<br>" : "") + piece;
  }
  run(script, DisplayPhase);
  ASSERT_NE(run_state.main_text, nullptr);
  EXPECT_EQ(std::string(run_state.main_text), expected);
}

TEST_F(ScriptRun, CommandLinesInsideBlocksAreCarriedOut) {
  const std::string script = "Text\n{\nRead me.\nSetup=x.exe\n}\n";
  run(script, DisplayPhase);
  EXPECT_STREQ(run_state.main_text, "Read me.\r\nSetup=x.exe\r\n");
  run(script, SetupPhase);
  EXPECT_EQ(host.of("program"), Calls{"x.exe|(none)||x.exe|nowait"});
}

TEST_F(ScriptRun, TitleAndLicense) {
  run("Title=first\nTitle=", DisplayPhase);
  EXPECT_EQ(host.of("caption"), (Calls{"first", ""}));

  host.calls.clear();
  run("License\n{\nold\n}\nLicense=Agreement\n{\nnew\n}\nText=ignored", LicensePhase);
  EXPECT_EQ(host.of("caption"), Calls{"Agreement"});
  ASSERT_NE(run_state.license_text, nullptr);
  EXPECT_STREQ(run_state.license_text, "new\r\n");
  EXPECT_EQ(run_state.main_text, nullptr);
}

TEST_F(ScriptRun, PathProposesTheResolvedFolder) {
  struct Case {
    const char* value;
    bool has_program_files;
    const char* program_files;
    const char* path;
  } cases[] = {
      {"App", true, "E:\\Program Files", "E:\\Program Files\\App"},
      {"App", true, "E:\\", "E:\\App"},
      {"App", false, "", "App"},
      {".\\App", true, "E:\\Program Files", "App"},
      {"D:\\App", true, "E:\\Program Files", "D:\\App"},
      {"\\\\server\\share", true, "E:\\Program Files", "\\\\server\\share"},
      {"\"D:\\My App\"", true, "E:\\Program Files", "D:\\My App"},
      {"%QUILLO_SCRIPT_ROOT%\\App", true, "E:\\Program Files", "F:\\App"},
  };
  set_environment_variable("QUILLO_SCRIPT_ROOT", "F:");
  for (const Case& c : cases) {
    host.calls.clear();
    host.has_program_files = c.has_program_files;
    host.program_files = c.program_files;
    run(std::string("Path=") + c.value, DisplayPhase);
    EXPECT_STREQ(run_state.script_path, c.path) << c.value;
    EXPECT_EQ(host.calls, (Calls{std::string("destination ") + c.path, std::string("choice ") + c.path})) << c.value;
  }
  set_environment_variable("QUILLO_SCRIPT_ROOT", nullptr);

  // Each Path adds its folder; the last one is shown.
  host.calls.clear();
  run("Path=D:\\One\nPath=D:\\Two", DisplayPhase);
  EXPECT_EQ(host.calls, (Calls{"destination D:\\One", "choice D:\\One", "destination D:\\Two", "choice D:\\Two"}));

  // Too long, or overruled by -d: nothing happens.
  host.calls.clear();
  run("Path=D:\\" + std::string(1030, 'x'), DisplayPhase);
  host.program_files = std::string(1000, 'p');
  run("Path=" + std::string(30, 'x'), DisplayPhase);
  EXPECT_EQ(std::string(run_state.script_path), std::string(1000, 'p') + "\\");
  host.calls.clear();
  std::strcpy(run_state.destination, "C:\\given");
  run("Path=D:\\App", DisplayPhase);
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(ScriptRun, SavePathRemembersTheChosenDestination) {
  const std::string script = "SavePath\nPath=D:\\App";
  // Without SavePath nothing is read or written.
  run("Path=D:\\App", DisplayPhase);
  save_destination("E:\\X");
  EXPECT_TRUE(host.of("save").empty());

  run(script, ModePhase);
  ASSERT_TRUE(run_state.save_path);
  host.calls.clear();
  run(script, DisplayPhase);
  EXPECT_EQ(host.of("destination"), Calls{"D:\\App"});
  save_destination("E:\\X");
  EXPECT_EQ(host.of("save"), Calls{"D%%App=E:\\X"});

  // The next start proposes the saved folder and lists both.
  host.calls.clear();
  run(script, DisplayPhase);
  EXPECT_EQ(host.calls, (Calls{"destination E:\\X", "choice D:\\App", "choice E:\\X"}));

  // Slashes also become "%"; with no script path nothing is saved.
  host.calls.clear();
  run("Path=D:/a\\b", DisplayPhase);
  save_destination("Y");
  EXPECT_EQ(host.of("save"), Calls{"D%%a%b=Y"});
  host.calls.clear();
  run_state.script_path[0] = 0;
  save_destination("Y");
  EXPECT_TRUE(host.of("save").empty());
}

TEST_F(ScriptRun, TempModeChoosesAFreshFolderAndAsks) {
  run("TempMode", ModePhase);
  EXPECT_TRUE(run_state.temp_mode);
  EXPECT_EQ(run_state.silent_level, 2);
  run_state.silent_level = 1;
  run("TempMode", ModePhase);
  EXPECT_EQ(run_state.silent_level, 1);
  run_state.silent_level = 0;

  // A folder that is in use by another run is passed over.
  host.temp = scratch + "\\";
  make_folder("KezSFX0");
  make_file("KezSFX1");
  struct Case {
    const char* value;
    bool silent_switch;
    Calls asked;
  } cases[] = {
      {"", false, {}},
      {"Continue?@Setup", false, {"Continue?|Setup"}},
      {"Line 1\\nLine 2,Setup", false, {"Line 1\nLine 2|Setup"}},
      {"\"Sure, really?\",\"A, B\"", false, {"Sure, really?|A, B"}},
      {"Only a question", false, {"Only a question|"}},
      {"a@b,c", false, {"a@b|c"}},
      {"Continue?@Setup", true, {}},
  };
  for (const Case& c : cases) {
    host.calls.clear();
    run_state.silent_from_command_line = c.silent_switch;
    run(std::string("TempMode=") + c.value, TempFolderPhase);
    EXPECT_EQ(host.of("destination"), Calls{scratch + "\\KezSFX2"}) << c.value;
    EXPECT_EQ(host.of("ask"), c.asked) << c.value;
    EXPECT_TRUE(host.of("end").empty());
  }

  // Refusing the question cancels the run and keeps the folder; the pass goes on.
  host.calls.clear();
  run_state.silent_from_command_line = false;
  host.answer_yes = false;
  run_state.silent_level = 2;
  run("TempMode=Go?@T\nTitle=x\nSilent=0", TempFolderPhase);
  EXPECT_EQ(host.of("end"), Calls{"1"});
  EXPECT_TRUE(run_state.keep_temp_folder);
  EXPECT_EQ(run_state.user_break, 1);
  EXPECT_EQ(run_state.silent_level, 0);
}

TEST_F(ScriptRun, OnlyTheProposedTemporaryFolderIsRemoved) {
  host.temp = scratch;
  run("TempMode", TempFolderPhase);
  const std::string proposed = scratch + "\\KezSFX0";
  ASSERT_EQ(host.of("destination"), Calls{proposed});
  make_folder("KezSFX0");
  make_folder("KezSFX9");
  make_folder("other");
  struct Case {
    std::string folder;
    bool keep;
    bool removed;
  } cases[] = {
      {proposed, false, true},
      {proposed, true, false},
      // Named like one, but not the run's: for example the folder the program was started in.
      {scratch + "\\KezSFX9", false, false},
      {scratch + "\\other", false, false},
  };
  for (const Case& c : cases) {
    host.calls.clear();
    ASSERT_TRUE(set_current_folder(c.folder.c_str()));
    run_state.keep_temp_folder = c.keep;
    remove_temp_folder();
    EXPECT_EQ(host.of("tree"), c.removed ? Calls{c.folder} : Calls{}) << c.folder;
    EXPECT_EQ(script_test::current_folder(), c.removed ? scratch : c.folder);
    set_current_folder(scratch.c_str());
  }
}
