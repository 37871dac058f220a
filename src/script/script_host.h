// What the script actions ask of the system: the start dialog's controls, the registry,
// the shell (programs, shortcuts, folder deletion) and a few folder services. The module
// installs its Windows host at start-up; tests install a recording one. Without a host
// these requests do nothing.
#pragma once

#include "platform/types.h"

// Shell special folders a shortcut can be placed in.
enum ShortcutFolder : int {
  kFolderPrograms = 2,
  kFolderStartup = 7,
  kFolderStartMenu = 11,
  kFolderDesktop = 16,
};

// A program to start (Setup, Presetup).
struct ProgramRequest {
  const char* file;        // program or document; a full path when the file exists
  const char* parameters;  // null when there are none
  const char* verb;        // "Install" for .inf files, else null
  const char* retry_file;  // the file of the second attempt (the command text as written)
  bool wait;               // wait for the program to end, the start dialog hidden meanwhile
};

// A shell link to save.
struct ShortcutRequest {
  const char* link_path;          // full name of the .lnk file
  const char* target;             // full path of the target
  const char* description;        // may be empty
  const char* icon;               // null when none
  const char* arguments;          // null when none
  const char* working_folder;     // null when none
};

// Receives one entry of a folder listing; returning false ends the listing.
typedef bool (*FolderEntryHandler)(void* context, const char* name, bool is_folder);

class ScriptHost {
 public:
  // Dialog of the pass: caption (SetWindowText), destination field (control 101).
  virtual void set_window_text(void* window, const char* text) = 0;
  virtual void set_destination_text(void* window, const char* text) = 0;
  virtual void add_destination_choice(void* window, const char* text) = 0;
  virtual void end_dialog(void* window, int result) = 0;
  // Yes/No question with the question icon; true for Yes.
  virtual bool ask_yes_no(void* window, const char* question, const char* title) = 0;

  // "ProgramFilesDir" of the machine (at most size - 1 bytes); false when unreadable.
  virtual bool program_files_folder(char* buffer, int size) = 0;
  // The remembered destinations, one string value per script path.
  virtual bool read_saved_destination(const char* value_name, char* buffer, int size) = 0;
  virtual void write_saved_destination(const char* value_name, const char* destination) = 0;

  // The user's temporary folder (GetTempPath form); false on failure.
  virtual bool temp_folder(char* buffer, int size) = 0;
  // Full path of a name relative to the current folder (buffer of kPathSize bytes).
  virtual void full_path(const char* path, char* buffer) = 0;
  // Entries of one folder that match mask (a path with wildcards), "." and ".." left out.
  virtual void list_folder(const char* mask, FolderEntryHandler handler, void* context) = 0;
  // Deletes a folder (or file) with all its contents, silently.
  virtual void delete_tree(const char* path) = 0;
  // Marks an entry for deletion when the system restarts.
  virtual void delete_at_restart(const char* path) = 0;

  // Starts a program (two attempts); true when it was started. Waits when asked.
  virtual bool run_program(const ProgramRequest& request) = 0;
  virtual void pause(uint32_t ms) = 0;

  // Path of a shell special folder; false when the system has none.
  virtual bool special_folder(ShortcutFolder folder, char* buffer, int size) = 0;
  virtual void create_shortcut(const ShortcutRequest& request) = 0;
  // Tells the shell that a folder's contents changed.
  virtual void folder_changed(const char* folder) = 0;

 protected:
  ~ScriptHost() = default;
};

void set_script_host(ScriptHost* host);
ScriptHost* script_host();
