// The installation script (the archive comment): passes over the text and the actions
// they start.
#pragma once

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
