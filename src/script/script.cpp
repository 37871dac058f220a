// The script interpreter: one scan of the whole text per pass, carrying out the commands
// of that pass.
#include "script/script.h"

#include <cstring>

#include "app/run_state.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "script/script_host.h"

namespace {

enum Command : int {
  kDelete,
  kText,
  kTitle,
  kPath,
  kSilent,
  kOverwrite,
  kSetup,
  kTempMode,
  kLicense,
  kPresetup,
  kShortcut,
  kSavePath,
  kNoCommand,
};

const char* const kCommandNames[] = {"Delete",  "Text",     "Title",    "Path",     "Silent",   "Overwrite",
                                     "Setup",   "TempMode", "License",  "Presetup", "Shortcut", "SavePath"};

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

Command command_of(const char* keyword) {
  for (int i = 0; i < kNoCommand; i++) {
    const char* a = keyword;
    const char* b = kCommandNames[i];
    while (*a && ascii_lower(*a) == ascii_lower(*b)) a++, b++;
    if (!*a && !*b) return static_cast<Command>(i);
  }
  return kNoCommand;
}

// Appends a Text command's text to main_text, after "<br>" when an earlier Text of this
// pass was carried out. The buffer always keeps room for the next "<br>".
void append_main_text(const char* text, bool joined) {
  char* current = run_state.main_text;
  size_t length = current ? std::strlen(current) : 0;
  if (current && joined) {
    std::memcpy(current + length, "<br>", 5);
    length += 4;
  }
  size_t text_length = std::strlen(text);
  char* grown = static_cast<char*>(mem_alloc_or_die(length + text_length + 5));
  if (current) std::memcpy(grown, current, length);
  std::memcpy(grown + length, text, text_length + 1);
  mem_free(current);
  run_state.main_text = grown;
}

void set_silent(const char* value) {
  if (run_state.silent_level == 1) return;
  run_state.silent_level = (value[0] >= '0' && value[0] <= '9') ? value[0] - '0' : 2;
}

void set_overwrite(const char* value) {
  switch (value[0]) {
    case 0:
    case '1':
      run_state.overwrite_all = true;
      run_state.skip_all_existing = false;
      break;
    case '0':
      run_state.overwrite_all = false;
      run_state.skip_all_existing = false;
      break;
    case '2':
      run_state.overwrite_all = false;
      run_state.skip_all_existing = true;
      break;
  }
}

// The buffers of one pass, off the stack: a pass may run deep inside the dialogs.
struct PassBuffers {
  char keyword[kLineSize];
  char value[kLineSize];
  char fields[kScriptFields][kLineSize];
};

}  // namespace

void run_script_phase(void* window, const char* script, ScriptPhase phase) {
  if (!script) return;
  PassBuffers* b = static_cast<PassBuffers*>(mem_alloc_or_die(sizeof(PassBuffers)));
  const char* fields[kScriptFields];
  for (int i = 0; i < kScriptFields; i++) fields[i] = b->fields[i];
  bool text_done = false;

  const char* line = script;
  bool cut = false, has_value = false;
  while (const char* next = read_script_line(line, b->keyword, b->value, kLineSize, &cut, &has_value)) {
    const char* field = b->value;
    for (int i = 0; i < kScriptFields; i++) field = next_value_field(field, b->fields[i]);

    switch (command_of(b->keyword)) {
      case kDelete:
        if (phase == DeletePhase) delete_by_mask(b->value);
        break;
      case kText:
        if (phase == DisplayPhase) {
          if (has_value) {
            append_main_text(b->value, text_done);
          } else {
            char* block = read_text_block(next);
            append_main_text(block, text_done);
            mem_free(block);
          }
          text_done = true;
        }
        break;
      case kTitle:
        if (phase == DisplayPhase) script_host()->set_window_text(window, b->value);
        break;
      case kPath:
        if (phase == DisplayPhase && !run_state.destination[0]) resolve_script_path(window, b->value);
        break;
      case kSilent:
        set_silent(b->value);
        break;
      case kOverwrite:
        set_overwrite(b->value);
        break;
      case kSetup:
        if (phase == SetupPhase) run_setup_program(b->value, false);
        break;
      case kTempMode:
        if (phase == ModePhase) {
          run_state.temp_mode = true;
          if (run_state.silent_level == 0) run_state.silent_level = 2;
        } else if (phase == TempFolderPhase) {
          prepare_temp_folder(window, b->value, fields[0], fields[1]);
        }
        break;
      case kLicense:
        if (phase == LicensePhase) {
          if (b->value[0]) script_host()->set_window_text(window, b->value);
          mem_free(run_state.license_text);
          run_state.license_text = read_text_block(next);
        }
        break;
      case kPresetup:
        if (phase == PresetupPhase) run_setup_program(b->value, true);
        break;
      case kShortcut:
        if (phase == ShortcutPhase) make_shortcut(fields);
        break;
      case kSavePath:
        if (phase == ModePhase) run_state.save_path = true;
        break;
      case kNoCommand:
        break;
    }
    line = next;
  }
  mem_free(b);
}
