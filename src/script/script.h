// The installation script (the archive comment): passes over the text and the actions
// they start.
#pragma once

#include "platform/types.h"

// The passes, numbered as the dialogs ask for them.
enum ScriptPhase : int {
  DisplayPhase = 0,
  TempFolderPhase = 1,
  DeletePhase = 2,
  LicensePhase = 3,
  SetupPhase = 4,
  PresetupPhase = 5,
  ShortcutPhase = 6,
  ModePhase = 7,
};

// Carries out the commands of one pass. window: the dialog the pass works on (none for
// SetupPhase). Returns at once when there is no script text.
void run_script_phase(void* window, const char* script, ScriptPhase phase);

// Remembers the destination chosen in the start dialog when the script asks for it.
void save_destination(const char* destination);
// Removes the temporary folder of the temporary mode (the current folder, when it is one).
void remove_temp_folder();

// Reading the text.

constexpr int kScriptFields = 6;
// Longest block of a Text or License command (the buffer is 5 bytes larger).
constexpr int kTextBlockLimit = 65531;

// Reads one line at position into keyword (and, with a value buffer, splits it at the
// first "=" and expands the environment variables of the value). Buffers hold size bytes.
// Returns the position of the next line, or null at the end of the text.
const char* read_script_line(const char* position, char* keyword, char* value, int size, bool* chunk_cut,
                             bool* has_value);
// Copies the next comma field of a value (kLineSize bytes); returns where the following
// field starts, or null when the value is used up.
const char* next_value_field(const char* position, char* field);
// The block of lines at position (a Text or License block) as a new heap text.
char* read_text_block(const char* position);
// In place: "\\" becomes one backslash and "\n" a line feed.
void unescape_question_text(char* text);
// Appends a backslash unless the path (a kPathSize buffer) already ends in one.
void append_backslash(char* path);

// The actions of the commands (the current folder is the destination, except for Path
// and TempMode, which run while the dialog is set up).
void resolve_script_path(void* window, const char* value);
void load_saved_destination(char* path);
void prepare_temp_folder(void* window, const char* value, const char* question_field, const char* title_field);
void delete_by_mask(const char* value);
// command: a kLineSize buffer, changed in place.
void run_setup_program(char* command, bool presetup);
void make_shortcut(const char* const fields[kScriptFields]);
