// The module's command line: switches for the destination, the password, the silent
// modes, the setup parameters and the elevated re-launch.
#pragma once

// Reads the text of the whole command line (the program path first, which is skipped)
// into the run state: destination, password, setup_parameters, silent_level,
// silent_from_command_line and elevated_instance. Fields of switches that are absent
// are left as they are. Reports nothing.
void parse_command_line(const char* text);

// Longest token kept; further characters of a token are read and dropped.
constexpr int kTokenLength = 1023;
