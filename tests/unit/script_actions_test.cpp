// The actions behind Setup, Presetup, Shortcut and Delete: what they ask the system for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "script_test_host.h"

using script_test::ScriptTest;
using Calls = std::vector<std::string>;

class ScriptActions : public ScriptTest {};

TEST_F(ScriptActions, SetupSplitsNameAndParameters) {
  make_file("setup.exe");
  make_file("my setup.exe");
  make_file("readme.txt");
  make_file("Driver.INF");
  struct Case {
    const char* command;
    const char* sp;  // -sp parameters
    bool temp_mode;
    Calls calls;
  } cases[] = {
      {"setup.exe /S", "", false, {"program C:\\dest\\setup.exe|/S||setup.exe|nowait"}},
      {"setup.exe/S", "", false, {"program C:\\dest\\setup.exe|/S||setup.exe|nowait"}},
      {"setup.exe /S", "/Q", false, {"program C:\\dest\\setup.exe|/Q||setup.exe|nowait"}},
      {"setup.exe/S", "/Q", false, {"program C:\\dest\\setup.exe|/Q||setup.exe|nowait"}},
      {"setup.exe", "/Q", false, {"program C:\\dest\\setup.exe|/Q||setup.exe|nowait"}},
      {"\"my setup.exe\" /S x", "", false, {"program C:\\dest\\my setup.exe| /S x||\"my setup.exe|nowait"}},
      {"\"my setup.exe\"/S", "", false, {"program C:\\dest\\my setup.exe|/S||\"my setup.exe|nowait"}},
      // Without a closing quote the whole text is the name.
      // (Its last component is "S", which has no extension: a pause follows.)
      {"\"my setup.exe /S", "", false, {"program my setup.exe /S|(none)||\"my setup.exe /S|nowait", "pause 1000"}},
      // A name that is not here goes to the system as written.
      {"absent.exe -x", "", false, {"program absent.exe|-x||absent.exe|nowait"}},
      {"notepad.exe %s", "", true, {"program notepad.exe|%s||notepad.exe|wait"}},
      // Documents and installer files: a pause for the program that opens them.
      {"readme.txt", "", false, {"program C:\\dest\\readme.txt|(none)||readme.txt|nowait", "pause 1000"}},
      {"readme.txt", "", true, {"program C:\\dest\\readme.txt|(none)||readme.txt|wait", "pause 7000"}},
      {"Driver.INF", "", false, {"program C:\\dest\\Driver.INF|(none)|Install|Driver.INF|nowait", "pause 1000"}},
  };
  for (const Case& c : cases) {
    host.calls.clear();
    std::strcpy(run_state.setup_parameters, c.sp);
    run_state.temp_mode = c.temp_mode;
    run(std::string("Setup=") + c.command, SetupPhase);
    EXPECT_EQ(host.calls, c.calls) << c.command << " -sp" << c.sp;
  }

  // Too long, or not started: nothing more happens.
  host.calls.clear();
  run_state.setup_parameters[0] = 0;
  run_state.temp_mode = false;
  run("Setup=" + std::string(1014, 'x'), SetupPhase);
  EXPECT_TRUE(host.calls.empty());
  run("Setup=" + std::string(1013, 'x'), SetupPhase);
  EXPECT_EQ(host.of("program").size(), 1u);
  host.calls.clear();
  host.program_starts = false;
  run("Setup=readme.txt", SetupPhase);
  EXPECT_TRUE(host.of("pause").empty());
}

TEST_F(ScriptActions, PresetupRunsOnlyWhatExists) {
  make_file("tool.exe");
  make_file("prepare.bat");
  struct Case {
    const char* command;
    Calls calls;
  } cases[] = {
      {"missing.exe /x", {}},
      // The ".exe" form counts, but the name is passed as written.
      {"tool /x", {"program tool|/x||tool|wait", "pause 200"}},
      {"tool.exe /x", {"program C:\\dest\\tool.exe|/x||tool.exe|wait"}},
      {"prepare.bat", {"program C:\\dest\\prepare.bat|(none)||prepare.bat|wait", "pause 200"}},
  };
  for (const Case& c : cases) {
    host.calls.clear();
    run(std::string("Presetup=") + c.command, PresetupPhase);
    EXPECT_EQ(host.calls, c.calls) << c.command;
  }
  // Presetup waits even without TempMode; in TempMode a document still pauses 200 ms.
  host.calls.clear();
  run_state.temp_mode = true;
  run("Presetup=prepare.bat", PresetupPhase);
  EXPECT_EQ(host.of("pause"), Calls{"200"});
}

TEST_F(ScriptActions, ShortcutFieldsFolderNameTargetArguments) {
  make_file("app.exe");
  make_file("my");
  make_file("my prog.exe");
  const std::string desktop = scratch + "\\Desktop\\", programs = scratch + "\\Menu\\Programs\\";
  struct Case {
    const char* value;
    Calls calls;
  } cases[] = {
      {"P,app.exe,My App,Starts the app,App",
       {"shortcut " + programs + "My App\\App.lnk|C:\\dest\\app.exe|Starts the app|(none)|(none)|C:\\dest",
        "notify " + programs + "My App\\"}},
      {"D,app.exe -x",
       {"shortcut " + desktop + "app.exe -x.lnk|C:\\dest\\app.exe||(none)|-x|C:\\dest", "notify " + desktop}},
      {"d,app.exe/x y",
       {"shortcut " + desktop + "x y.lnk|C:\\dest\\app.exe||(none)|/x y|C:\\dest", "notify " + desktop}},
      // The last place that names an existing file splits target and arguments.
      {"X,my prog.exe --go",
       {"shortcut " + desktop + "my prog.exe --go.lnk|C:\\dest\\my prog.exe||(none)|--go|C:\\dest",
        "notify " + desktop}},
      // Quoted: the arguments follow the quote as written; the name loses the quotes.
      {"D,\"\"\"bin\\my prog.exe\"\" -v\",,,,app.ico",
       {"shortcut " + desktop + "my prog.exe -v.lnk|C:\\dest\\bin\\my prog.exe||app.ico| -v|C:\\dest\\bin",
        "notify " + desktop}},
      {"S,setup.exe,,,Setup.LNK",
       {"shortcut " + scratch + "\\Menu\\Setup.LNK|C:\\dest\\setup.exe||(none)|(none)|C:\\dest",
        "notify " + scratch + "\\Menu\\"}},
      {"T,D:\\b.exe", {"shortcut " + programs + "Startup\\b.exe.lnk|D:\\b.exe||(none)|(none)|D:\\",
                       "notify " + programs + "Startup\\"}},
      {",D:\\tools\\run.bat", {"shortcut " + desktop + "run.bat.lnk|D:\\tools\\run.bat||(none)|(none)|D:\\tools",
                                "notify " + desktop}},
  };
  for (const Case& c : cases) {
    host.calls.clear();
    run(std::string("Shortcut=") + c.value, ShortcutPhase);
    EXPECT_EQ(host.calls, c.calls) << c.value;
  }
  // The folders of the shortcut are created.
  EXPECT_TRUE(exists("Menu\\Programs\\My App"));

  // No special folder: no shortcut anywhere else.
  host.calls.clear();
  host.special_folders.clear();
  run("Shortcut=D,app.exe", ShortcutPhase);
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(ScriptActions, DeleteClearsTheDestination) {
  make_file("a.txt");
  make_file("b.log");
  make_file("sub\\c.txt");
  make_folder("docs");
  run("Delete=*.txt", DeletePhase);
  EXPECT_FALSE(exists("a.txt"));
  EXPECT_TRUE(exists("b.log"));
  EXPECT_TRUE(exists("sub\\c.txt"));
  EXPECT_TRUE(host.of("tree").empty());

  // A mask with a folder part works in that folder only.
  run("Delete=sub\\*.txt", DeletePhase);
  EXPECT_FALSE(exists("sub\\c.txt"));

  // Folders go through the shell, files one by one.
  host.calls.clear();
  run("Delete=*", DeletePhase);
  EXPECT_FALSE(exists("b.log"));
  EXPECT_EQ(host.of("tree"), (Calls{scratch + "\\docs", scratch + "\\sub"}));
}

TEST_F(ScriptActions, DeleteMovesAsideWhatItCannotDelete) {
  // The recording host leaves folders alone, so the file deletion fails on them.
  make_folder("stuck");
  make_folder("stuck.0.tmp");
  run("Delete=stuck", DeletePhase);
  EXPECT_FALSE(exists("stuck"));
  EXPECT_TRUE(exists("stuck.1.tmp"));
  EXPECT_EQ(host.of("restart"), Calls{scratch + "\\stuck.1.tmp"});
}

TEST_F(ScriptActions, DeleteStopsAtTheFirstFolderOfADriveRoot) {
  // Only the listing is made up; the names do not exist at the root.
  host.fake_listing = true;
  host.listing = {{"quillo-absent-1.txt", false}, {"quillo-absent-dir", true}, {"quillo-absent-2.txt", false}};
  std::string root = "\\";
#ifdef _WIN32
  root = scratch.substr(0, 3);
#endif
  ASSERT_TRUE(set_current_folder(root.c_str()));
  run("Delete=*.*", DeletePhase);
  EXPECT_EQ(host.of("visit"), (Calls{"quillo-absent-1.txt", "quillo-absent-dir"}));
  EXPECT_TRUE(host.of("tree").empty());

  // Without wildcards the folder goes.
  host.calls.clear();
  run("Delete=quillo-absent-dir", DeletePhase);
  EXPECT_EQ(host.of("tree"), Calls{root + "quillo-absent-dir"});
}
