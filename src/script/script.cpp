// Placeholder until the script interpreter and its actions land: no pass does anything.
#include "script/script.h"

void run_script_phase(void*, const char*, ScriptPhase) {}
void save_destination(const char*) {}
void remove_temp_folder() {}
