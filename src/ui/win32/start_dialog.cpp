// The start dialog: the one window of the module, where the install run happens.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "app/progress.h"
#include "app/report.h"
#include "app/run_state.h"
#include "archive/comment.h"
#include "extract/extraction.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "platform/text.h"
#include "script/script.h"
#include "ui/catalogue.h"
#include "ui/ui.h"
#include "ui/win32/html_view.h"
#include "ui/win32/module_ui.h"
#include "ui/win32/resource.h"

namespace {

HWND main_dialog() { return static_cast<HWND>(run_state.main_window); }
HINSTANCE instance() { return static_cast<HINSTANCE>(run_state.instance_handle); }

// Puts a rich-edit control in place of the plain edit control of the text pane.
void replace_text_pane(HWND dialog) {
  HWND old_pane = GetDlgItem(dialog, IDC_TEXT_PANE);
  if (!old_pane) return;
  RECT r;
  GetWindowRect(old_pane, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_READONLY | ES_AUTOVSCROLL |
                ES_MULTILINE;
  HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TEXT_PANE));
  HWND rich = nullptr;
  // The version 1 class first; systems that only register the version 2 class get that.
  static const char* const kClasses[] = {"RichEdit", "RichEdit20A"};
  for (const char* window_class : kClasses) {
    rich = CreateWindowExA(0, window_class, "", style, r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1,
                           dialog, id, instance(), nullptr);
    if (rich) break;
  }
  if (!rich) return;
  SetWindowPos(rich, old_pane, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  DestroyWindow(old_pane);
  SendMessageA(rich, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
  SendMessageA(rich, EM_EXLIMITTEXT, 0, 4194304);
}

void show_default_introduction(HWND dialog) {
  char text[6 * (kMessageSize + 1) + 8];
  text[0] = 0;
  for (int id = 150; id <= 155; id++) {
    append_bounded(text, " ", sizeof(text));
    append_bounded(text, message_text(id), sizeof(text));
  }
  if (run_state.silent_level == 0 && main_html_view)
    main_html_view->show_text(instance(), GetDlgItem(dialog, IDC_TEXT_PANE), text);
}

// Result of the licence dialog: false when the user declined.
bool license_accepted(HWND dialog) {
  INT_PTR r = DialogBoxParamA(instance(), "LICENSEDLG", dialog, license_dialog_procedure, 0);
  return r != 0;
}

BOOL initialise(HWND dialog) {
  run_state.main_window = dialog;
  run_state.message_box_owner = dialog;
  if (module_icon) SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(module_icon));
  if (module_bitmap)
    SendDlgItemMessageA(dialog, IDC_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(module_bitmap));

  replace_text_pane(dialog);

  char destination[kPathSize];
  if (run_state.destination[0]) copy_bounded(destination, run_state.destination, sizeof(destination));
  else if (!GetCurrentDirectoryA(sizeof(destination), destination)) destination[0] = 0;
  HWND field = GetDlgItem(dialog, IDC_DESTINATION);
  SetWindowTextA(field, destination);
  attach_autocomplete(field);

  run_state.log_pane_in_use = false;
  read_script_comment(run_state.module_path, &run_state.comment_text, &run_state.comment_size);
  const char* script = run_state.comment_text;

  if (run_state.comment_size > 0) run_script_phase(dialog, script, ModePhase);
  if (!run_state.log_pane_in_use) show_default_introduction(dialog);

  if (run_state.comment_size > 0) {
    run_script_phase(dialog, script, DisplayPhase);
    if (run_state.main_text) {
      if (run_state.silent_level == 0 && main_html_view)
        main_html_view->show_text(instance(), GetDlgItem(dialog, IDC_TEXT_PANE), run_state.main_text);
      mem_free(run_state.main_text);
      run_state.main_text = nullptr;
    }
    if (run_state.silent_level != 1 && !license_accepted(dialog)) {
      run_state.user_break = 1;
      EndDialog(dialog, 1);
      return TRUE;
    }
    run_script_phase(dialog, script, TempFolderPhase);
  }

  if (run_state.silent_level == 2) enable_control(dialog, IDC_DESTINATION, false);
  if (run_state.temp_mode) {
    enable_control(dialog, IDC_BROWSE, false);
    enable_control(dialog, IDC_DESTINATION, false);
  }
  if (run_state.silent_level != 0 && run_state.user_break == 0) {
    if (run_state.silent_level == 1) SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    else PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}

// Starts this program again with administrator rights for the destination; true when
// the new instance runs (this one then waits for it at exit).
bool relaunch_elevated(HWND dialog, const char* destination) {
  char program[kPathSize];
  DWORD n = GetModuleFileNameA(nullptr, program, sizeof(program));
  if (n == 0 || n >= sizeof(program)) return false;
  // "-el -s2 \"-d%s\" \"-p%s\" \"-sp%s\"", built piece by piece: it can be longer than
  // the system formatter's limit.
  char parameters[3 * kPathSize + 64];
  const char* pieces[] = {"-el -s2 \"-d", destination, "\" \"-p", run_state.password, "\" \"-sp",
                          run_state.setup_parameters, "\""};
  parameters[0] = 0;
  for (const char* piece : pieces) append_bounded(parameters, piece, sizeof(parameters));
  SHELLEXECUTEINFOA info;
  ZeroMemory(&info, sizeof(info));
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = dialog;
  info.lpVerb = "runas";
  info.lpFile = program;
  info.lpParameters = parameters;
  info.lpDirectory = ".";
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&info) || !info.hProcess) return false;
  WaitForInputIdle(info.hProcess, 10000);
  Sleep(500);
  run_state.elevated_child = info.hProcess;
  return true;
}

void show_error_box(HWND dialog, const char* text) {
  MessageBoxA(dialog, text, message_text(126), MB_ICONEXCLAMATION);
}

void install(HWND dialog) {
  char destination[kPathSize];
  if (!GetDlgItemTextA(dialog, IDC_DESTINATION, destination, sizeof(destination))) destination[0] = 0;

  if (run_state.extraction_finished) {
    if (run_state.waiting_for_close) run_state.user_break = 2;
    EndDialog(dialog, 1);
    return;
  }

  HWND pane = GetDlgItem(dialog, IDC_TEXT_PANE);
  if (run_state.error_lines == 0) {
    SendMessageA(pane, EM_SETSEL, 0, -1);
    SendMessageA(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
  }
  SetFocus(pane);

  // Can the destination be written?
  bool denied = false;
  if (!create_all_folders(destination, nullptr, false)) {
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_PATH_NOT_FOUND) denied = true;
  }
  bool usable = SetCurrentDirectoryA(destination) != 0;
  if (!usable && GetLastError() == ERROR_ACCESS_DENIED) denied = true;
  if (usable && nt_major_version() != 0 && !run_state.elevated_instance) {
    char test_name[64];
    wsprintfA(test_name, "__tmp_kez_sfx_access_check_%u", static_cast<unsigned>(GetTickCount()));
    DiskFile test_file;
    usable = test_file.create(test_name, nullptr);
    if (!usable && GetLastError() == ERROR_ACCESS_DENIED) denied = true;
  }  // the test file is closed and deleted here

  if (!usable) {
    // An elevated instance does not start yet another one: rights do not help it.
    if (!(denied && !run_state.elevated_instance && relaunch_elevated(dialog, destination))) {
      char text[kPathSize + kMessageSize + 8];
      const char* pieces[] = {"\"", destination, "\"\n", message_text(130)};
      text[0] = 0;
      for (const char* piece : pieces) append_bounded(text, piece, sizeof(text));
      raise_exit_code(kExitWarning);
      show_error_box(dialog, text);
      run_state.error_lines++;
    }
    EndDialog(dialog, 0);
    return;
  }

  save_destination(destination);
  run_state.extraction_running = true;
  enable_control(dialog, IDC_BROWSE, false);
  enable_control(dialog, IDC_DESTINATION, false);
  enable_control(dialog, IDOK, false);

  const char* script = run_state.comment_text;
  run_script_phase(dialog, script, PresetupPhase);
  run_script_phase(dialog, script, DeletePhase);
  start_extraction(run_state.module_path);
  run_script_phase(dialog, script, ShortcutPhase);
  if (run_state.user_break == 0 && run_state.error_lines == 0) run_script_phase(nullptr, script, SetupPhase);

  enable_control(dialog, IDOK, true);
  run_state.extraction_running = false;

  if (run_state.error_lines > 0 && run_state.user_break == 0) {
    run_state.extraction_finished = true;
    SetDlgItemTextA(dialog, IDOK, message_text(125));
    int code = exit_code();
    show_error_box(dialog, message_text(code == kExitCreate ? 131 : code == kExitCrc ? 132 : 127));
  } else {
    EndDialog(dialog, 1);
  }
}

void cancel(HWND dialog) {
  if (run_state.extraction_running) run_state.user_break = 1;
  if (!run_state.extraction_running || run_state.error_lines == 0) {
    run_state.user_break = 2;
    EndDialog(dialog, 0);
  }
}

void browse(HWND dialog) {
  char folder[MAX_PATH + 1];
  if (browse_for_folder(dialog, message_text(100), folder)) SetDlgItemTextA(dialog, IDC_DESTINATION, folder);
}

}  // namespace

INT_PTR CALLBACK start_dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM) {
  localize_dialog_message(window, message, "STARTDLG");
  switch (message) {
    case WM_INITDIALOG:
      return initialise(window);
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
          install(window);
          return TRUE;
        case IDCANCEL:
          cancel(window);
          return TRUE;
        case IDC_BROWSE:
          browse(window);
          return TRUE;
      }
      break;
  }
  return FALSE;
}

void enable_control(HWND window, int id, bool on) { EnableWindow(GetDlgItem(window, id), on ? TRUE : FALSE); }

bool browse_for_folder(HWND owner, const char* title, char* result) {
  IMalloc* allocator = nullptr;
  if (SHGetMalloc(&allocator) != S_OK) allocator = nullptr;
  BROWSEINFOA info;
  ZeroMemory(&info, sizeof(info));
  info.hwndOwner = owner;
  info.lpszTitle = title;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  bool ok = false;
  if (LPITEMIDLIST list = SHBrowseForFolderA(&info)) {
    ok = SHGetPathFromIDListA(list, result) != 0;
    if (allocator) allocator->Free(list);
  }
  if (allocator) allocator->Release();
  return ok;
}

void attach_autocomplete(HWND combo) {
  if (nt_major_version() < 5) return;
  typedef HRESULT(WINAPI * AutoComplete)(HWND, DWORD);
  static bool looked_up = false;
  static AutoComplete auto_complete = nullptr;
  if (!looked_up) {
    looked_up = true;
    if (HMODULE shell_helpers = GetModuleHandleA("shlwapi.dll"))
      auto_complete =
          reinterpret_cast<AutoComplete>(reinterpret_cast<void*>(GetProcAddress(shell_helpers, "SHAutoComplete")));
  }
  if (!auto_complete || !combo) return;
  char class_name[16];
  HWND edit = combo;
  if (!GetClassNameA(combo, class_name, sizeof(class_name)) || lstrcmpiA(class_name, "EDIT") != 0)
    edit = FindWindowExA(combo, nullptr, "EDIT", nullptr);
  if (edit) auto_complete(edit, 0x10);
}

// The user-interface calls of the portable core.

void pump_one_message() {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) return;
  if (GetMessageA(&message, nullptr, 0, 0) <= 0) return;
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

void pump_pending_messages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void show_progress(uint64_t total, uint64_t done) {
  if (HWND dialog = main_dialog())
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, progress_percent(total, done), 0);
  pump_one_message();
}

void wait_for_close() {
  HWND dialog = main_dialog();
  run_state.extraction_finished = true;
  if (dialog) {
    SetDlgItemTextA(dialog, IDOK, message_text(125));
    // The run may have disabled the button: Close must be pressable.
    enable_control(dialog, IDOK, true);
  }
  run_state.extraction_running = false;
  run_state.waiting_for_close = true;
  if (dialog) {
    ShowWindow(dialog, SW_SHOWNORMAL);
    if (run_state.comment_size == 0 && !run_state.log_pane_in_use) SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    while (run_state.user_break != 2) {
      MSG message;
      if (!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) WaitMessage();
      pump_one_message();
    }
  }
  if (run_state.temp_mode) remove_temp_folder();
}

void log_pane_append(const char* text, bool emphasised) {
  log_file_append(text);
  HWND dialog = main_dialog();
  HWND pane = dialog ? GetDlgItem(dialog, IDC_TEXT_PANE) : nullptr;
  if (!run_state.log_pane_in_use) {
    if (main_html_view) main_html_view->destroy_host_window();
    if (pane) {
      ShowWindow(pane, SW_SHOW);
      SetWindowTextA(pane, "");
    }
    run_state.log_pane_in_use = true;
  }
  if (!pane) return;
  SendMessageA(pane, EM_SETSEL, 100000000, 100000000);
  CHARFORMATA format;
  ZeroMemory(&format, sizeof(format));
  format.cbSize = sizeof(format);
  SendMessageA(pane, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
  format.dwMask = CFM_BOLD;
  if (emphasised) {
    format.dwEffects = (format.dwEffects | CFE_BOLD) & ~CFE_AUTOCOLOR;
    format.crTextColor = RGB(160, 0, 0);
    format.dwMask |= CFM_COLOR;
  }
  SendMessageA(pane, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  SendMessageA(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
  SendMessageA(pane, EM_SETSEL, 100000000, 100000000);
  if (emphasised) {
    format.dwEffects = (format.dwEffects | CFE_AUTOCOLOR) & ~CFE_BOLD;
    SendMessageA(pane, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  }
  SendMessageA(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>("\r\n"));
}
