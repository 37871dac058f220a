// A program for the script's Setup and Presetup commands in the Wine tests. It appends
// what it was started with to the file named by QUILLO_PROBE_OUT (UTF-8, one "key=value"
// per line): its command line, the sfxcmd and sfxname variables, its current folder; then
// waits QUILLO_PROBE_MS milliseconds (default 0) and appends "done".
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string variable(const char* name) {
  char buffer[4096];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
  if (n == 0 || n >= sizeof(buffer)) return "(unset)";
  return std::string(buffer, n);
}

void append(const std::string& file, const std::string& text) {
  HANDLE h = CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  // The texts are ANSI (code page 936 under the tests); the file is UTF-8.
  int wide_n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(wide_n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], wide_n);
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_n, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_n, &utf8[0], n, nullptr, nullptr);
  DWORD written;
  WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(h);
}

}  // namespace

int main() {
  std::string out = variable("QUILLO_PROBE_OUT");
  if (out == "(unset)") return 2;
  char folder[MAX_PATH];
  if (!GetCurrentDirectoryA(sizeof(folder), folder)) folder[0] = 0;
  append(out, std::string("cmdline=") + GetCommandLineA() + "\n" + "sfxcmd=" + variable("sfxcmd") + "\n" +
                  "sfxname=" + variable("sfxname") + "\n" + "cwd=" + folder + "\n");
  std::string ms = variable("QUILLO_PROBE_MS");
  if (ms != "(unset)") Sleep(static_cast<DWORD>(atoi(ms.c_str())));
  append(out, "done\n");
  return 0;
}
