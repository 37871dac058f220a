// Drives the module's windows for the Wine tests. Steps are given as arguments and run
// in order; every observation is one line on stdout ("key value" or "key field=value ..."),
// texts in UTF-8. A step that fails prints "fail <reason>" and ends the driver with 1.
//
//   start <command line>        start the program (the process under test)
//   dialog <caption> [ms]       wait for its visible dialog with that caption
//   controls                    list the dialog's controls: id, class, enabled, visible, text
//   text <id>                   the text of one control
//   set <id> <text>             WM_SETTEXT into a control
//   press <id>                  post the command of a button to the dialog
//   progress                    the position of progress bar 104
//   wait-text <id> <part> [ms]  wait until the control's text contains part
//   msgbox <caption> [ms]       wait for a message box of any process; its text, process
//                               and command line
//   answer <id>                 press a button of the last message box
//   windows                     the visible top-level windows of the program
//   rect                        the dialog's screen rectangle
//   touch <file>                create a file (a signal to the test script)
//   wait-file <file> [ms]       wait until a file exists
//   no-window <ms>              the program shows no window while it runs, within ms
//   exit [ms]                   wait for the program to end; its exit code
//   sleep <ms>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

PROCESS_INFORMATION process;
bool started = false;
HWND dialog = nullptr;
HWND message_box = nullptr;

std::string utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

// Line breaks and tabs are written as \n, \r and \t so that one observation is one line.
std::string escaped(const std::wstring& w) {
  std::string s = utf8(w), out;
  for (char c : s) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

void say(const std::string& line) {
  std::string s = line + "\n";
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

[[noreturn]] void fail(const std::string& reason) {
  say("fail " + reason);
  if (started) TerminateProcess(process.hProcess, 99);
  ExitProcess(1);
}

std::wstring window_text(HWND w) {
  // WM_GETTEXTLENGTH is not reliable across processes for every control class: ask
  // with a large buffer instead.
  std::wstring text(65536, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 5000,
                           &got))
    got = 0;
  text.resize(wcslen(text.c_str()));
  return text;
}

std::wstring class_of(HWND w) {
  wchar_t name[128];
  int n = GetClassNameW(w, name, 128);
  return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}

DWORD process_of(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid;
}

struct Search {
  const wchar_t* caption;
  DWORD pid;  // 0: any process
  HWND found;
};

BOOL CALLBACK find_dialog(HWND w, LPARAM data) {
  Search* s = reinterpret_cast<Search*>(data);
  if (!IsWindowVisible(w) || class_of(w) != L"#32770") return TRUE;
  if (s->pid && process_of(w) != s->pid) return TRUE;
  if (s->caption && window_text(w) != s->caption) return TRUE;
  s->found = w;
  return FALSE;
}

HWND wait_for_dialog(const wchar_t* caption, DWORD pid, DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    Search s{caption, pid, nullptr};
    EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&s));
    if (s.found) return s.found;
    if (GetTickCount() - start > ms) return nullptr;
    Sleep(50);
  }
}

BOOL CALLBACK list_window(HWND w, LPARAM data) {
  if (IsWindowVisible(w) && process_of(w) == static_cast<DWORD>(data))
    say("window class=" + utf8(class_of(w)) + " caption=" + escaped(window_text(w)));
  return TRUE;
}

BOOL CALLBACK find_any_window(HWND w, LPARAM data) {
  if (IsWindowVisible(w) && process_of(w) == static_cast<DWORD>(data)) {
    SetLastError(0xE0000001);
    return FALSE;
  }
  return TRUE;
}

HWND control(int id) {
  if (!dialog) fail("no dialog");
  HWND c = GetDlgItem(dialog, id);
  if (!c) fail("no control " + std::to_string(id));
  return c;
}

// The command line of another process, read from its process parameters.
std::wstring command_line_of(DWORD pid) {
  typedef LONG(WINAPI * QueryProcess)(HANDLE, int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QueryProcess>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!h || !query) return std::wstring();
  struct {
    void* reserved1;
    BYTE* peb;
    void* reserved2[4];
  } basic;
  std::wstring result;
  BYTE* parameters = nullptr;
  struct {
    USHORT length, maximum;
    wchar_t* buffer;
  } line;
  if (query(h, 0, &basic, sizeof(basic), nullptr) == 0 &&
      ReadProcessMemory(h, basic.peb + 0x10, &parameters, sizeof(parameters), nullptr) &&
      ReadProcessMemory(h, parameters + 0x40, &line, sizeof(line), nullptr)) {
    result.resize(line.length / 2);
    if (!ReadProcessMemory(h, line.buffer, &result[0], line.length, nullptr)) result.clear();
  }
  CloseHandle(h);
  return result;
}

DWORD number(const wchar_t* s) { return static_cast<DWORD>(wcstoul(s, nullptr, 10)); }

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; i < argc; i++) {
    std::wstring step = argv[i];
    auto arg = [&](bool optional = false) -> const wchar_t* {
      if (i + 1 < argc) return argv[++i];
      if (optional) return nullptr;
      fail("missing argument of " + utf8(step));
    };
    auto optional_ms = [&](DWORD fallback) -> DWORD {
      if (i + 1 < argc && iswdigit(argv[i + 1][0])) return number(argv[++i]);
      return fallback;
    };
    if (step == L"start") {
      std::wstring line = arg();
      STARTUPINFOW info;
      ZeroMemory(&info, sizeof(info));
      info.cb = sizeof(info);
      if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &info, &process))
        fail("cannot start, error " + std::to_string(GetLastError()));
      started = true;
      say("started pid=" + std::to_string(process.dwProcessId));
    } else if (step == L"dialog") {
      const wchar_t* caption = arg();
      DWORD ms = optional_ms(30000);
      dialog = wait_for_dialog(caption, process.dwProcessId, ms);
      if (!dialog) fail("no dialog " + utf8(caption));
      say("dialog caption=" + escaped(caption));
    } else if (step == L"controls") {
      if (!dialog) fail("no dialog");
      for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(c);
        if (id == 0xFFFF) id = -1;
        say("control id=" + std::to_string(id) + " class=" + utf8(class_of(c)) +
            " enabled=" + std::to_string(IsWindowEnabled(c) ? 1 : 0) +
            " visible=" + std::to_string(IsWindowVisible(c) ? 1 : 0) + " text=" + escaped(window_text(c)));
      }
    } else if (step == L"text") {
      int id = static_cast<int>(number(arg()));
      say("text id=" + std::to_string(id) + " text=" + escaped(window_text(control(id))));
    } else if (step == L"set") {
      int id = static_cast<int>(number(arg()));
      const wchar_t* text = arg();
      DWORD_PTR r;
      SendMessageTimeoutW(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &r);
      say("set id=" + std::to_string(id));
    } else if (step == L"press") {
      int id = static_cast<int>(number(arg()));
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control(id)));
      say("pressed id=" + std::to_string(id));
    } else if (step == L"progress") {
      DWORD_PTR pos = 0;
      SendMessageTimeoutW(control(104), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos);
      say("progress " + std::to_string(pos));
    } else if (step == L"wait-text") {
      int id = static_cast<int>(number(arg()));
      std::wstring part = arg();
      DWORD ms = optional_ms(30000), start = GetTickCount();
      std::wstring text;
      while ((text = window_text(control(id))).find(part) == std::wstring::npos) {
        if (GetTickCount() - start > ms) fail("text of " + std::to_string(id) + " is " + escaped(text));
        Sleep(50);
      }
      say("text id=" + std::to_string(id) + " text=" + escaped(text));
    } else if (step == L"msgbox") {
      const wchar_t* caption = arg();
      DWORD ms = optional_ms(30000);
      message_box = wait_for_dialog(caption, 0, ms);
      if (!message_box) fail("no message box " + utf8(caption));
      DWORD pid = process_of(message_box);
      HWND text = GetDlgItem(message_box, 0xFFFF);
      say("msgbox own=" + std::to_string(pid == process.dwProcessId ? 1 : 0) +
          " text=" + escaped(text ? window_text(text) : std::wstring()));
      if (pid != process.dwProcessId) say("other-process cmdline=" + escaped(command_line_of(pid)));
    } else if (step == L"answer") {
      int id = static_cast<int>(number(arg()));
      if (!message_box) fail("no message box");
      PostMessageW(message_box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
      say("answered id=" + std::to_string(id));
    } else if (step == L"windows") {
      EnumWindows(list_window, process.dwProcessId);
    } else if (step == L"rect") {
      RECT r;
      if (!dialog || !GetWindowRect(dialog, &r)) fail("no dialog");
      say("rect x=" + std::to_string(r.left) + " y=" + std::to_string(r.top) + " w=" +
          std::to_string(r.right - r.left) + " h=" + std::to_string(r.bottom - r.top));
    } else if (step == L"touch") {
      HANDLE f = CreateFileW(arg(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (f == INVALID_HANDLE_VALUE) fail("cannot touch");
      CloseHandle(f);
    } else if (step == L"wait-file") {
      const wchar_t* name = arg();
      DWORD ms = optional_ms(60000), start = GetTickCount();
      while (GetFileAttributesW(name) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > ms) fail("no file " + utf8(name));
        Sleep(50);
      }
    } else if (step == L"no-window") {
      DWORD ms = number(arg()), start = GetTickCount();
      while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
        SetLastError(0);
        if (!EnumWindows(find_any_window, process.dwProcessId) && GetLastError() == 0xE0000001)
          fail("a window was shown");
        if (GetTickCount() - start > ms) fail("still running");
      }
      say("no-window ok");
    } else if (step == L"exit") {
      DWORD ms = optional_ms(60000);
      if (!started) fail("nothing started");
      if (WaitForSingleObject(process.hProcess, ms) != WAIT_OBJECT_0) fail("still running");
      DWORD code = 0;
      GetExitCodeProcess(process.hProcess, &code);
      say("exit " + std::to_string(code));
    } else if (step == L"sleep") {
      Sleep(number(arg()));
    } else {
      fail("unknown step " + utf8(step));
    }
  }
  return 0;
}
