// The work behind the script commands: the destination (Path, SavePath), the temporary
// folder (TempMode), Delete, Setup and Presetup, Shortcut.
#include <cstring>

#include "app/run_state.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "platform/text.h"
#include "script/script.h"
#include "script/script_host.h"

namespace {

// The system's requests go nowhere until a host is installed.
class NullHost final : public ScriptHost {
 public:
  void set_window_text(void*, const char*) override {}
  void set_destination_text(void*, const char*) override {}
  void add_destination_choice(void*, const char*) override {}
  void end_dialog(void*, int) override {}
  bool ask_yes_no(void*, const char*, const char*) override { return true; }
  bool program_files_folder(char*, int) override { return false; }
  bool read_saved_destination(const char*, char*, int) override { return false; }
  void write_saved_destination(const char*, const char*) override {}
  bool temp_folder(char*, int) override { return false; }
  void full_path(const char* path, char* buffer) override { ::full_path(path, buffer); }
  void list_folder(const char*, FolderEntryHandler, void*) override {}
  void delete_tree(const char*) override {}
  void delete_at_restart(const char*) override {}
  bool run_program(const ProgramRequest&) override { return false; }
  void pause(uint32_t) override {}
  bool special_folder(ShortcutFolder, char*, int) override { return false; }
  void create_shortcut(const ShortcutRequest&) override {}
  void folder_changed(const char*) override {}
};

NullHost null_host;
ScriptHost* current_host = &null_host;

// The folder that TempMode proposed: the only one removed at exit.
char prepared_temp_folder[kPathSize];

constexpr char kTempPrefix[] = "KezSFX";

// Registry value name of a script path: ":", "\" and "/" become "%".
void saved_value_name(const char* script_path, char* name) {
  copy_bounded(name, script_path, kPathSize);
  for (char* p = name; *p; p++)
    if (*p == ':' || *p == '\\' || *p == '/') *p = '%';
}

// Formats a numbered name into a kPathSize buffer; false when it does not fit (then
// every further number would give the same cut name).
bool numbered_name(char* buffer, const char* format, const char* base, int n) {
  return format_text(buffer, kPathSize, format, base, n) < kPathSize - 1;
}

// One entry of a Delete command.
struct DeleteJob {
  const char* folder;     // of the entries, with its backslash
  bool stop_at_folders;   // a drive's root and a mask with wildcards
};

void move_aside(const char* entry) {
  char moved[kPathSize];
  for (int n = 0;; n++) {
    if (!numbered_name(moved, "%s.%d.tmp", entry, n)) return;
    if (!file_exists(moved, nullptr)) break;
  }
  if (rename_file(entry, nullptr, moved, nullptr) && nt_major_version() != 0) script_host()->delete_at_restart(moved);
}

bool delete_entry(void* context, const char* name, bool is_folder) {
  const DeleteJob* job = static_cast<const DeleteJob*>(context);
  char entry[kPathSize];
  copy_bounded(entry, job->folder, sizeof(entry));
  append_bounded(entry, name, sizeof(entry));
  set_attributes(entry, nullptr, 0);
  if (is_folder && nt_major_version() != 4) {
    // Deleting every folder of a drive's root is never what a script means.
    if (job->stop_at_folders) return false;
    script_host()->delete_tree(entry);
  }
  if (file_exists(entry, nullptr) && !delete_file(entry, nullptr)) move_aside(entry);
  return true;
}

}  // namespace

void set_script_host(ScriptHost* host) { current_host = host ? host : &null_host; }
ScriptHost* script_host() { return current_host; }

void resolve_script_path(void* window, const char* value) {
  if (*value == '"') value++;
  if (std::strlen(value) >= static_cast<size_t>(kPathSize)) return;

  char path[kPathSize];
  if (value[0] == '.' && value[1] == '\\') {
    copy_bounded(path, value + 2, sizeof(path));
  } else if (value[0] == '\\' || (value[0] && value[1] == ':')) {
    copy_bounded(path, value, sizeof(path));
  } else {
    if (!script_host()->program_files_folder(path, sizeof(path))) path[0] = 0;
    if (path[0]) append_backslash(path);
    if (std::strlen(path) + std::strlen(value) < static_cast<size_t>(kPathSize - 1))
      append_bounded(path, value, sizeof(path));
  }
  size_t n = std::strlen(path);
  if (n > 0 && path[n - 1] == '"') path[n - 1] = 0;

  copy_bounded(run_state.script_path, path, sizeof(run_state.script_path));
  char proposed[kPathSize];
  copy_bounded(proposed, path, sizeof(proposed));
  load_saved_destination(proposed);

  ScriptHost* host = script_host();
  host->set_destination_text(window, proposed);
  host->add_destination_choice(window, run_state.script_path);
  if (std::strcmp(proposed, run_state.script_path) != 0) host->add_destination_choice(window, proposed);
}

void load_saved_destination(char* path) {
  if (!run_state.save_path) return;
  char name[kPathSize];
  saved_value_name(path, name);
  char saved[kPathSize];
  if (script_host()->read_saved_destination(name, saved, sizeof(saved))) copy_bounded(path, saved, kPathSize);
}

void save_destination(const char* destination) {
  if (!run_state.save_path || !run_state.script_path[0]) return;
  char name[kPathSize];
  saved_value_name(run_state.script_path, name);
  script_host()->write_saved_destination(name, destination);
}

void prepare_temp_folder(void* window, const char* value, const char* question_field, const char* title_field) {
  ScriptHost* host = script_host();
  char temp[kPathSize];
  if (!host->temp_folder(temp, sizeof(temp))) temp[0] = 0;
  append_backslash(temp);

  append_bounded(temp, kTempPrefix, sizeof(temp));
  char candidate[kPathSize];
  for (int n = 0;; n++) {
    if (!numbered_name(candidate, "%s%d", temp, n)) break;
    if (get_attributes(candidate, nullptr) == kInvalidAttributes) break;
  }
  host->set_destination_text(window, candidate);
  copy_bounded(prepared_temp_folder, candidate, sizeof(prepared_temp_folder));

  if (!*value || run_state.silent_from_command_line) return;

  char question[kLineSize];
  char title[kLineSize];
  title[0] = 0;
  const char* at = std::strchr(value, '@');
  if (!std::strchr(value, ',') && at) {
    copy_bounded(title, at + 1, sizeof(title));
    size_t n = static_cast<size_t>(at - value);
    std::memcpy(question, value, n);
    question[n] = 0;
  }
  if (!title[0]) {
    copy_bounded(question, question_field, sizeof(question));
    copy_bounded(title, title_field, sizeof(title));
  }
  unescape_question_text(question);
  if (std::strlen(question) > 2048) question[2048] = 0;

  if (!host->ask_yes_no(window, question, title)) {
    run_state.keep_temp_folder = true;
    run_state.user_break = 1;
    host->end_dialog(window, 1);
  }
}

void remove_temp_folder() {
  char folder[kPathSize];
  if (!get_current_folder(folder, sizeof(folder))) return;
  if (run_state.keep_temp_folder) return;
  const char* name = name_part(folder);
  if (std::strlen(name) < 6 || compare_names(name, kTempPrefix, 6) != 0) return;
  // A folder of that name that the run did not propose (the folder the program was
  // started in, when the Install handler never entered the temporary one) is the user's.
  if (compare_names(folder, prepared_temp_folder) != 0) return;
  set_current_folder("..");
  script_host()->delete_tree(folder);
}

void delete_by_mask(const char* value) {
  char folder[kPathSize];
  if (!get_current_folder(folder, sizeof(folder))) return;
  char mask[kPathSize];
  copy_bounded(mask, folder, sizeof(mask));
  append_backslash(mask);
  append_bounded(mask, value, sizeof(mask));

  char root[kPathSize];
  root_of(folder, root);
  append_backslash(root);
  bool at_root = std::strlen(folder) < 4 || std::strlen(root) >= std::strlen(folder);

  // Entries are named by the mask's folder and the name found.
  char entry_folder[kPathSize];
  copy_bounded(entry_folder, mask, sizeof(entry_folder));
  entry_folder[name_part(entry_folder) - entry_folder] = 0;

  DeleteJob job = {entry_folder, at_root && has_wildcards(value, nullptr)};
  script_host()->list_folder(mask, delete_entry, &job);
}

void run_setup_program(char* command, bool presetup) {
  if (std::strlen(command) >= 1014) return;

  // The program name, then its parameters: after a blank, or from a "/" on.
  char* name = command[0] == '"' ? command + 1 : command;
  const char* parameters = nullptr;
  char slash_parameters[kLineSize];
  for (char* p = command; *p;) {
    if (*p == '"') {
      char* close = find_char_dbcs(p + 1, '"');
      if (!close) break;
      *close = ' ';
      p = close;
      continue;
    }
    if (*p == ' ') {
      *p = 0;
      parameters = p + 1;
      break;
    }
    char* next = next_char(p);
    if (*next == '/') {
      copy_bounded(slash_parameters, next, sizeof(slash_parameters));
      *next = 0;
      parameters = slash_parameters;
      break;
    }
    p = next;
  }
  if (run_state.setup_parameters[0]) parameters = run_state.setup_parameters;

  ScriptHost* host = script_host();
  const char* verb = has_extension(name, "inf") ? "Install" : nullptr;
  char program[kPathSize];
  copy_bounded(program, name, sizeof(program));
  bool exists = file_exists(name, nullptr);
  if (exists) host->full_path(name, program);
  if (presetup && !exists) {
    char with_exe[kPathSize];
    copy_bounded(with_exe, name, sizeof(with_exe));
    append_bounded(with_exe, ".exe", sizeof(with_exe));
    if (!file_exists(with_exe, nullptr)) return;
  }

  ProgramRequest request;
  request.file = program;
  request.parameters = parameters;
  request.verb = verb;
  request.retry_file = command;
  request.wait = run_state.temp_mode || presetup;
  if (!host->run_program(request)) return;

  if (has_extension(program, "exe")) return;
  // Documents and installer files hand over to another program: give it time to open
  // them before going on (or before the temporary folder goes).
  host->pause(run_state.temp_mode && !presetup ? 7000 : presetup ? 200 : 1000);
}

void make_shortcut(const char* const fields[kScriptFields]) {
  ShortcutFolder folder_kind;
  switch (upper_char_oem(fields[0][0])) {
    case 'P':
      folder_kind = kFolderPrograms;
      break;
    case 'S':
      folder_kind = kFolderStartMenu;
      break;
    case 'T':
      folder_kind = kFolderStartup;
      break;
    default:
      folder_kind = kFolderDesktop;
  }

  // Target and arguments.
  const char* written = fields[1];
  char target[kLineSize];
  const char* arguments = nullptr;
  if (written[0] == '"') {
    copy_bounded(target, written + 1, sizeof(target));
    if (char* close = find_char_dbcs(target, '"')) {
      arguments = written + 1 + (close - target) + 1;
      *close = 0;
    }
  } else {
    copy_bounded(target, written, sizeof(target));
    if (!file_exists(target, nullptr)) {
      // The longest leading part that names an existing file is the target.
      ptrdiff_t split = -1;
      for (const char* p = written; *p; p = next_char(p)) {
        if (*p != ' ' && *p != '/') continue;
        target[p - written] = 0;
        bool exists = file_exists(target, nullptr);
        target[p - written] = *p;
        if (!exists) continue;
        split = p - written;
        if (*p == '/') {
          arguments = p;
        } else {
          const char* a = p;
          while (*a == ' ') a++;
          arguments = a;
        }
      }
      if (split >= 0) target[split] = 0;
    }
  }

  ScriptHost* host = script_host();
  char full_target[kPathSize];
  host->full_path(target, full_target);

  char link[kPathSize];
  if (!host->special_folder(folder_kind, link, sizeof(link)) || !link[0]) return;
  append_backslash(link);
  if (fields[2][0]) {
    append_bounded(link, fields[2], sizeof(link));
    append_backslash(link);
  }
  char shortcut_folder[kPathSize];
  copy_bounded(shortcut_folder, link, sizeof(shortcut_folder));

  // A name taken from a quoted target would keep its quotes, which no file name may hold.
  size_t at = std::strlen(link);
  append_bounded(link, name_part(fields[4][0] ? fields[4] : written), sizeof(link));
  if (!fields[4][0]) {
    char* out = link + at;
    for (const char* p = out; *p; p++)
      if (*p != '"') *out++ = *p;
    *out = 0;
  }
  if (!has_extension(link, "lnk")) append_bounded(link, ".lnk", sizeof(link));
  create_all_folders(link, nullptr, true);

  char working_folder[kPathSize];
  copy_bounded(working_folder, full_target, sizeof(working_folder));
  strip_name_part(working_folder);

  ShortcutRequest request;
  request.link_path = link;
  request.target = full_target;
  request.description = fields[3];
  request.icon = fields[5][0] ? fields[5] : nullptr;
  request.arguments = arguments && *arguments ? arguments : nullptr;
  request.working_folder = working_folder[0] ? working_folder : nullptr;
  host->create_shortcut(request);
  host->folder_changed(shortcut_folder);
}
