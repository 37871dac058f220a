// The module's entry point: start-up, the start dialog as the one modal loop, and the
// exit sequence.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <cstring>

#include "app/cmdline.h"
#include "app/report.h"
#include "app/run_state.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "script/script.h"
#include "ui/catalogue.h"
#include "ui/win32/html_view.h"
#include "ui/win32/module_ui.h"
#include "ui/win32/resource.h"

HICON module_icon;
HBITMAP module_bitmap;
HtmlView* main_html_view;
HtmlView* license_html_view;

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// The module is typically started from a download folder, which may hold planted DLLs:
// no DLL is ever looked for in the program's folder or the current folder.
void restrict_dll_search() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  typedef BOOL(WINAPI * SetDefaultDirs)(DWORD);
  typedef BOOL(WINAPI * SetDllDir)(LPCSTR);
  if (auto set_default = reinterpret_cast<SetDefaultDirs>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))) {
    if (set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  }
  if (auto set_dir = reinterpret_cast<SetDllDir>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA"))))
    set_dir("");
}

// The user-interface libraries, kept from start-up to exit.
struct UiLibraries {
  HMODULE rich_edit_1 = nullptr;
  HMODULE rich_edit_2 = nullptr;
  IMalloc* shell_allocator = nullptr;
  bool ole_initialised = false;

  void load() {
    rich_edit_1 = load_system_library("riched32.dll");
    rich_edit_2 = load_system_library("riched20.dll");
    InitCommonControls();
    // The library is already mapped through the import table (the version the manifest
    // selects); it is only loaded here when it is not.
    HMODULE controls = GetModuleHandleA("comctl32.dll");
    bool loaded_here = false;
    if (!controls) {
      controls = load_system_library("comctl32.dll");
      loaded_here = controls != nullptr;
    }
    if (controls) {
      typedef BOOL(WINAPI * InitEx)(const INITCOMMONCONTROLSEX*);
      if (auto init_ex = reinterpret_cast<InitEx>(
              reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx")))) {
        INITCOMMONCONTROLSEX controls_ex;
        controls_ex.dwSize = 8;
        controls_ex.dwICC = 0x7FF;
        init_ex(&controls_ex);
      }
      if (loaded_here) FreeLibrary(controls);
    }
    if (SHGetMalloc(&shell_allocator) != S_OK) shell_allocator = nullptr;
    // Auto-completion of the destination field and the new-style folder browser are COM
    // objects: the thread needs OLE before the start dialog is created.
    ole_initialised = SUCCEEDED(OleInitialize(nullptr));
  }

  void release() {
    if (rich_edit_1) FreeLibrary(rich_edit_1);
    if (rich_edit_2) FreeLibrary(rich_edit_2);
    rich_edit_1 = rich_edit_2 = nullptr;
    if (shell_allocator) shell_allocator->Release();
    shell_allocator = nullptr;
    if (ole_initialised) OleUninitialize();
    ole_initialised = false;
  }
};

[[noreturn]] void run_module() {
  restrict_dll_search();

  fill_lead_byte_table();
  if (const char* command_line = GetCommandLineA()) {
    parse_command_line(command_line);
    SetEnvironmentVariableA("sfxcmd", command_line);
  }
  DWORD n = GetModuleFileNameA(nullptr, run_state.module_path, sizeof(run_state.module_path));
  if (n >= sizeof(run_state.module_path)) run_state.module_path[sizeof(run_state.module_path) - 1] = 0;
  SetEnvironmentVariableA("sfxname", run_state.module_path);

  HINSTANCE instance = GetModuleHandleA(nullptr);
  run_state.instance_handle = instance;
  module_icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MODULE));
  module_bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_SIDE));

  UiLibraries libraries;
  libraries.load();

  load_message_block(message_catalogue, run_state.module_path);

  HtmlView* main_view = new HtmlView;
  HtmlView* license_view = new HtmlView;
  main_html_view = main_view;
  license_html_view = license_view;

  DialogBoxParamA(instance, "STARTDLG", nullptr, start_dialog_procedure, 0);

  // Exit sequence.
  run_state.main_window = nullptr;
  main_html_view = nullptr;
  license_html_view = nullptr;
  delete main_view;
  delete license_view;

  libraries.release();

  if (run_state.temp_mode) remove_temp_folder();

  volatile char* typed = run_state.typed_password;
  for (int i = 0; i < kPasswordSize; i++) typed[i] = 0;

  if (run_state.comment_size > 0) mem_free(run_state.comment_text);
  run_state.comment_text = nullptr;

  if (module_icon) DestroyIcon(module_icon);
  if (module_bitmap) DeleteObject(module_bitmap);

  if (exit_code() == kExitSuccess && run_state.user_break != 0) raise_exit_code(kExitUserBreak);
  run_state.user_break = 2;

  if (HANDLE child = static_cast<HANDLE>(run_state.elevated_child)) {
    while (WaitForSingleObject(child, 10) == WAIT_TIMEOUT) {
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
    }
    CloseHandle(child);
  }
  ExitProcess(static_cast<UINT>(exit_code()));
}

}  // namespace

HMODULE load_system_library(const char* name) {
  char path[MAX_PATH + 32];
  UINT n = GetSystemDirectoryA(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  if (path[n - 1] != '\\') path[n++] = '\\';
  path[n] = 0;
  append_bounded(path, name, sizeof(path));
  return LoadLibraryA(path);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { run_module(); }
