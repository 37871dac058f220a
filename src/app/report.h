// Error reporting and exit codes. Every failure is reported by message number through
// these operations; the text goes to the log pane and the exit code is raised by the
// precedence rule.
#pragma once

#include "app/run_state.h"

void raise_exit_code(int code);
void reset_exit_status();
int exit_code();

// Writes the formatted text as an error line unless a break is set or format is empty.
void report(const char* context, const char* format, ...);
void report_open_error(const char* archive, const char* name);    // 109, callers raise 6
void report_create_error(const char* archive, const char* name);  // 110, callers raise 9
[[noreturn]] void report_read_error(const char* name);             // 117, exit 2
[[noreturn]] void report_write_error(const char* name);            // 116, exit 5
[[noreturn]] void report_close_error(const char* name);            // 118, exit 2
[[noreturn]] void report_seek_error(const char* name);             // 516, exit 2
[[noreturn]] void report_memory_error();                           // 107, exit 8
bool ask_write_retry(const char* name);
[[noreturn]] void fatal_error(int code);

// Plain line (1,024-byte buffer).
void log_line(const char* format, ...);
// Error line: null format only counts; empty format does nothing.
void log_error(const char* format, ...);
// 101 / 102 line, pumps one message; true while there is no break.
bool progress_line(const char* name, bool skipping);

// Calls a long-running job makes to keep the window responsive; ends the process
// through fatal_error(255) once the user has asked to cancel.
void keep_ui_alive();
