// A copy of the log pane in a file, for silent deployments and tests: the environment
// variable QUILLO_SFX_LOG names the file; every line is appended to it as UTF-8.
#include <windows.h>

#include <cstring>

#include "platform/memory.h"
#include "ui/win32/module_ui.h"

void log_file_append(const char* text) {
  static bool opened = false;
  static HANDLE file = INVALID_HANDLE_VALUE;
  if (!opened) {
    opened = true;
    char name[MAX_PATH + 1];
    DWORD n = GetEnvironmentVariableA("QUILLO_SFX_LOG", name, sizeof(name));
    if (n == 0 || n >= sizeof(name)) return;
    file = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD error = GetLastError();
  int length = static_cast<int>(std::strlen(text));
  int wide_length = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  WCHAR* wide = static_cast<WCHAR*>(mem_alloc((wide_length + 1) * sizeof(WCHAR)));
  char* utf8 = static_cast<char*>(mem_alloc(wide_length * 3 + 2));
  if (wide && utf8) {
    MultiByteToWideChar(CP_ACP, 0, text, length, wide, wide_length);
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, wide_length, utf8, wide_length * 3, nullptr, nullptr);
    utf8[n] = '\n';
    DWORD written;
    WriteFile(file, utf8, static_cast<DWORD>(n + 1), &written, nullptr);
  }
  mem_free(wide);
  mem_free(utf8);
  SetLastError(error);
}
