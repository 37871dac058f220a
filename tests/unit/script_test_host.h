// A script host for tests: records what the actions ask for, answers from settings, and
// lists real folders. Also a scratch folder in the system's temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "platform/memory.h"
#include "platform/system.h"
#include "script/script.h"
#include "script/script_host.h"

namespace script_test {

// Core paths use backslashes; the Linux file system wants slashes.
inline std::filesystem::path native(const std::string& core_path) {
#ifdef _WIN32
  return std::filesystem::path(core_path);
#else
  std::string s = core_path;
  for (char& c : s)
    if (c == '\\') c = '/';
  return std::filesystem::path(s);
#endif
}

inline std::string current_folder() {
  char buffer[kPathSize];
  EXPECT_TRUE(get_current_folder(buffer, sizeof(buffer)));
  return buffer;
}

inline bool glob(const char* mask, const char* name) {
  if (!*mask) return !*name;
  if (*mask == '*') return glob(mask + 1, name) || (*name && glob(mask, name + 1));
  if (!*name) return false;
  if (*mask == '?' || *mask == *name) return glob(mask + 1, name + 1);
  return false;
}

class RecordingHost final : public ScriptHost {
 public:
  std::vector<std::string> calls;

  // Answers.
  bool has_program_files = true;
  std::string program_files = "E:\\Program Files";
  std::map<std::string, std::string> registry;  // saved destinations by value name
  std::string temp;                             // temporary folder; empty: none
  bool answer_yes = true;
  bool program_starts = true;
  std::string full_path_prefix = "C:\\dest\\";
  // Special folders: set by the fixture under its scratch folder (shortcut folders are
  // really created).
  std::map<int, std::string> special_folders;
  // When set, list_folder reports these entries (name, is folder) instead of the disk's.
  bool fake_listing = false;
  std::vector<std::pair<std::string, bool>> listing;

  void set_window_text(void* window, const char* text) override { record("caption", text); }
  void set_destination_text(void*, const char* text) override { record("destination", text); }
  void add_destination_choice(void*, const char* text) override { record("choice", text); }
  void end_dialog(void*, int result) override { record("end", std::to_string(result)); }
  bool ask_yes_no(void*, const char* question, const char* title) override {
    record("ask", std::string(question) + "|" + title);
    return answer_yes;
  }
  bool program_files_folder(char* buffer, int size) override {
    if (!has_program_files) return false;
    snprintf(buffer, static_cast<size_t>(size), "%s", program_files.c_str());
    return true;
  }
  bool read_saved_destination(const char* name, char* buffer, int size) override {
    auto it = registry.find(name);
    if (it == registry.end()) return false;
    snprintf(buffer, static_cast<size_t>(size), "%s", it->second.c_str());
    return true;
  }
  void write_saved_destination(const char* name, const char* destination) override {
    record("save", std::string(name) + "=" + destination);
    registry[name] = destination;
  }
  bool temp_folder(char* buffer, int size) override {
    if (temp.empty()) return false;
    snprintf(buffer, static_cast<size_t>(size), "%s", temp.c_str());
    return true;
  }
  void full_path(const char* path, char* buffer) override {
    std::string p = path;
    bool absolute = (!p.empty() && p[0] == '\\') || (p.size() > 1 && p[1] == ':');
    snprintf(buffer, kPathSize, "%s", absolute ? p.c_str() : (full_path_prefix + p).c_str());
  }
  void list_folder(const char* mask, FolderEntryHandler handler, void* context) override {
    std::string m = mask;
    size_t cut = m.find_last_of('\\');
    std::string folder = m.substr(0, cut), pattern = m.substr(cut + 1);
    if (pattern == "*.*") pattern = "*";  // the system's meaning
    std::vector<std::pair<std::string, bool>> entries = listing;
    if (!fake_listing) {
      entries.clear();
      std::error_code error;
      for (const auto& e : std::filesystem::directory_iterator(native(folder), error))
        entries.push_back({e.path().filename().string(), e.is_directory()});
      std::sort(entries.begin(), entries.end());
    }
    for (const auto& e : entries) {
      if (!glob(pattern.c_str(), e.first.c_str())) continue;
      record("visit", e.first);
      if (!handler(context, e.first.c_str(), e.second)) break;
    }
  }
  void delete_tree(const char* path) override { record("tree", path); }
  void delete_at_restart(const char* path) override { record("restart", path); }
  bool run_program(const ProgramRequest& r) override {
    record("program", std::string(r.file) + "|" + (r.parameters ? r.parameters : "(none)") + "|" +
                          (r.verb ? r.verb : "") + "|" + r.retry_file + "|" + (r.wait ? "wait" : "nowait"));
    return program_starts;
  }
  void pause(uint32_t ms) override { record("pause", std::to_string(ms)); }
  bool special_folder(ShortcutFolder folder, char* buffer, int size) override {
    auto it = special_folders.find(folder);
    if (it == special_folders.end()) return false;
    snprintf(buffer, static_cast<size_t>(size), "%s", it->second.c_str());
    return true;
  }
  void create_shortcut(const ShortcutRequest& r) override {
    record("shortcut", std::string(r.link_path) + "|" + r.target + "|" + r.description + "|" +
                           (r.icon ? r.icon : "(none)") + "|" + (r.arguments ? r.arguments : "(none)") + "|" +
                           (r.working_folder ? r.working_folder : "(none)"));
  }
  void folder_changed(const char* folder) override { record("notify", folder); }

  // The recorded calls of one kind.
  std::vector<std::string> of(const std::string& kind) const {
    std::vector<std::string> out;
    for (const std::string& c : calls)
      if (c.compare(0, kind.size() + 1, kind + " ") == 0) out.push_back(c.substr(kind.size() + 1));
    return out;
  }

 private:
  void record(const std::string& kind, const std::string& detail) { calls.push_back(kind + " " + detail); }
};

// Clears the script's part of the run state before and after each test, installs a
// recording host and gives each test a scratch folder that is its current folder.
class ScriptTest : public ::testing::Test {
 protected:
  RecordingHost host;
  std::string scratch;  // core form, no trailing backslash

  void SetUp() override {
    clear_state();
    set_script_host(&host);
    saved_folder_ = current_folder();
    char temp[kPathSize];
    ASSERT_TRUE(get_temp_folder(temp, sizeof(temp)));
    std::string base = temp;
    if (base.back() != '\\') base += '\\';
    // Test processes may run side by side: a random name each.
    static std::random_device random;
    scratch = base + "quillo-script-" + std::to_string(random()) + "-" + std::to_string(tick_count());
    std::filesystem::create_directories(native(scratch));
    ASSERT_TRUE(set_current_folder(scratch.c_str()));
    scratch = current_folder();
    host.special_folders = {{kFolderPrograms, scratch + "\\Menu\\Programs"},
                            {kFolderStartMenu, scratch + "\\Menu"},
                            {kFolderStartup, scratch + "\\Menu\\Programs\\Startup"},
                            {kFolderDesktop, scratch + "\\Desktop"}};
  }

  void TearDown() override {
    set_current_folder(saved_folder_.c_str());
    std::error_code error;
    std::filesystem::remove_all(native(scratch), error);
    set_script_host(nullptr);
    clear_state();
  }

  static void clear_state() {
    mem_free(run_state.main_text);
    mem_free(run_state.license_text);
    run_state.main_text = run_state.license_text = nullptr;
    run_state.destination[0] = run_state.setup_parameters[0] = run_state.script_path[0] = 0;
    run_state.silent_level = 0;
    run_state.silent_from_command_line = false;
    run_state.temp_mode = run_state.save_path = run_state.keep_temp_folder = false;
    run_state.overwrite_all = run_state.skip_all_existing = false;
    run_state.user_break = 0;
  }

  // Creates an empty file (or a folder) under the scratch folder.
  void make_file(const std::string& relative) {
    std::filesystem::path p = native(scratch + "\\" + relative);
    std::filesystem::create_directories(p.parent_path());
    FILE* f = fopen(p.string().c_str(), "wb");
    ASSERT_NE(f, nullptr) << p;
    fclose(f);
  }
  void make_folder(const std::string& relative) {
    std::filesystem::create_directories(native(scratch + "\\" + relative));
  }
  bool exists(const std::string& relative) const {
    return std::filesystem::exists(native(scratch + "\\" + relative));
  }

  void run(const std::string& script, ScriptPhase phase, void* window = nullptr) {
    run_script_phase(window, script.c_str(), phase);
  }

 private:
  std::string saved_folder_;
};

}  // namespace script_test
