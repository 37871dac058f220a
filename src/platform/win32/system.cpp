#include "platform/system.h"

#include <windows.h>

#include "platform/text.h"

uint32_t tick_count() { return GetTickCount(); }
uint32_t last_system_error() { return GetLastError(); }
void set_last_system_error(uint32_t code) { SetLastError(code); }

void exit_process(int code) { ExitProcess(static_cast<UINT>(code)); }
void sleep_ms(uint32_t ms) { Sleep(ms); }

namespace {
int g_nt_major_override = -1;
}

void override_nt_major_version(int major) { g_nt_major_override = major; }

int nt_major_version() {
  static int asked = 0;
  static int major = 0;
  if (g_nt_major_override >= 0) return g_nt_major_override;
  if (!asked) {
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT)
      major = static_cast<int>(info.dwMajorVersion);
    asked = 1;
  }
  return major;
}

bool use_wide_api() { return nt_major_version() != 0; }

const char* process_command_line() { return GetCommandLineA(); }

bool get_module_path(char* buffer, int size) {
  DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  if (n == 0 || n >= static_cast<DWORD>(size)) {
    if (n >= static_cast<DWORD>(size) && size > 0) buffer[size - 1] = 0;
    return n != 0;
  }
  return true;
}

bool set_environment_variable(const char* name, const char* value) {
  return SetEnvironmentVariableA(name, value) != 0;
}

bool expand_environment(const char* text, char* buffer, int size) {
  char expanded[kLineSize];
  DWORD n = ExpandEnvironmentStringsA(text, expanded, sizeof(expanded));
  if (n == 0 || n > sizeof(expanded)) {
    copy_bounded(buffer, text, static_cast<size_t>(size));
    return false;
  }
  copy_bounded(buffer, expanded, static_cast<size_t>(size));
  return true;
}

bool get_current_folder(char* buffer, int size) {
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), buffer);
  if (n == 0 || n >= static_cast<DWORD>(size)) {
    if (size > 0) buffer[0] = 0;
    return false;
  }
  return true;
}

bool set_current_folder(const char* path) { return SetCurrentDirectoryA(path) != 0; }

bool get_temp_folder(char* buffer, int size) {
  DWORD n = GetTempPathA(static_cast<DWORD>(size), buffer);
  return n != 0 && n < static_cast<DWORD>(size);
}

int format_text_v(char* buffer, int size, const char* format, va_list args) {
  if (size <= 0) return 0;
  // wvsprintfA writes at most 1024 characters; format into a buffer of that size.
  char local[1025];
  int n = wvsprintfA(local, format, args);
  if (n < 0) n = 0;
  local[1024] = 0;
  if (n > 1024) n = 1024;
  if (n >= size) n = size - 1;
  CopyMemory(buffer, local, static_cast<SIZE_T>(n));
  buffer[n] = 0;
  return n;
}

int format_text(char* buffer, int size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = format_text_v(buffer, size, format, args);
  va_end(args);
  return n;
}
