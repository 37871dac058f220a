// Process-level services of the operating system that the portable code needs.
#pragma once

#include <cstdarg>

#include "platform/types.h"

uint32_t tick_count();  // milliseconds, wraps
uint32_t last_system_error();
void set_last_system_error(uint32_t code);

// Keeps the thread's last system error across a call that may change it.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(last_system_error()) {}
  ~LastErrorKeeper() { set_last_system_error(saved_); }

 private:
  uint32_t saved_;
};

[[noreturn]] void exit_process(int code);
void sleep_ms(uint32_t ms);

// The major version on the NT family, else 0 (asked once).
int nt_major_version();
// Wide file-system calls are used (the NT family; always in the Linux build).
bool use_wide_api();
// Makes nt_major_version answer major from now on (0: behave as on Windows 9x, where
// only the narrow file-system calls exist); -1 returns to the system's answer. For tests.
void override_nt_major_version(int major);

const char* process_command_line();  // the whole command line, or null
bool get_module_path(char* buffer, int size);
bool set_environment_variable(const char* name, const char* value);
// Expands %NAME% references; false (and the text copied unchanged) when expansion fails.
bool expand_environment(const char* text, char* buffer, int size);
bool get_current_folder(char* buffer, int size);
bool set_current_folder(const char* path);
bool get_temp_folder(char* buffer, int size);

// Formats into buffer (size bytes, always terminated) in the system's printf dialect.
int format_text(char* buffer, int size, const char* format, ...);
int format_text_v(char* buffer, int size, const char* format, va_list args);
