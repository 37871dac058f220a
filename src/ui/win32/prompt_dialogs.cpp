// The prompts asked in the middle of a run (password, next volume, replace, rename,
// licence) and the small user-interface services of the portable core.
#include <windows.h>
#include <commdlg.h>
#include <cderr.h>
#include <shellapi.h>

#include <cstring>

#include "app/run_state.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "script/script.h"
#include "ui/catalogue.h"
#include "ui/ui.h"
#include "ui/win32/html_view.h"
#include "ui/win32/module_ui.h"
#include "ui/win32/resource.h"

namespace {

HINSTANCE instance() { return static_cast<HINSTANCE>(run_state.instance_handle); }
HWND main_dialog() { return static_cast<HWND>(run_state.main_window); }

const char* last_component(const char* path) {
  const char* last = path;
  for (const char* p = path; *p; p = next_char(p))
    if (*p == '\\' || *p == '/' || *p == ':') last = p + 1;
  return last;
}

struct PasswordRequest {
  const char* file_name;
  char* typed;
  int size;
};

INT_PTR CALLBACK password_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  localize_dialog_message(window, message, "GETPASSWORD1");
  static PasswordRequest* request;
  switch (message) {
    case WM_INITDIALOG:
      request = reinterpret_cast<PasswordRequest*>(lparam);
      SetDlgItemTextA(window, IDC_PASSWORD_NAME, request->file_name ? request->file_name : "");
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        char typed[kPasswordSize];
        if (!GetDlgItemTextA(window, IDC_PASSWORD_EDIT, typed, sizeof(typed))) typed[0] = 0;
        copy_bounded(request->typed, typed, static_cast<size_t>(request->size));
        SecureZeroMemory(typed, sizeof(typed));
        EndDialog(window, 1);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(window, 0);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

INT_PTR CALLBACK next_volume_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  localize_dialog_message(window, message, "ASKNEXTVOL");
  static char* name;
  switch (message) {
    case WM_INITDIALOG:
      name = reinterpret_cast<char*>(lparam);
      SetDlgItemTextA(window, IDC_VOLUME_EDIT, name);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDC_VOLUME_BROWSE: {
          char chosen[kPathSize];
          if (!GetDlgItemTextA(window, IDC_VOLUME_EDIT, chosen, sizeof(chosen))) chosen[0] = 0;
          char pattern[kPathSize];
          copy_bounded(pattern, last_component(chosen), sizeof(pattern));
          if (choose_file(window, message_text(123), chosen, false, pattern))
            SetDlgItemTextA(window, IDC_VOLUME_EDIT, chosen);
          return TRUE;
        }
        case IDOK:
          if (!GetDlgItemTextA(window, IDC_VOLUME_EDIT, name, kPathSize)) name[0] = 0;
          EndDialog(window, 1);
          return TRUE;
        case IDCANCEL:
          EndDialog(window, 0);
          return TRUE;
      }
      break;
  }
  return FALSE;
}

struct ReplaceRequest {
  const char* file_name;
  int64_t new_size;
  uint32_t new_dos_time;
};

void show_time(HWND window, int id, const FILETIME& local_time) {
  SYSTEMTIME t;
  if (!FileTimeToSystemTime(&local_time, &t)) return;
  char date[64], time[64], text[kMessageSize + 160];
  if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, sizeof(date))) date[0] = 0;
  if (!GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &t, nullptr, time, sizeof(time))) time[0] = 0;
  wsprintfA(text, "%s %s %s", message_text(129), date, time);
  SetDlgItemTextA(window, id, text);
}

void show_size(HWND window, int id, uint32_t size) {
  char number[20], text[kMessageSize + 32];
  format_number(static_cast<int32_t>(size), number);
  wsprintfA(text, "%s %s", number, message_text(128));
  SetDlgItemTextA(window, id, text);
}

void replace_initialise(HWND window, const ReplaceRequest& request) {
  char name[kPathSize];
  copy_bounded(name, request.file_name, sizeof(name));
  for (char* p = name; *p; p = next_char(p))
    if (*p == '/') *p = '\\';
  SetDlgItemTextA(window, IDC_REPLACE_NAME, name);

  SHFILEINFOA info;
  ZeroMemory(&info, sizeof(info));
  SHGetFileInfoA(name, 0, &info, sizeof(info), SHGFI_ICON);
  SendDlgItemMessageA(window, IDC_REPLACE_OLD_ICON, STM_SETICON, reinterpret_cast<WPARAM>(info.hIcon), 0);

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(name, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FindClose(search);
  bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

  FILETIME local;
  if (FileTimeToLocalFileTime(&found.ftLastWriteTime, &local)) show_time(window, IDC_REPLACE_OLD_DATE, local);
  if (!folder) show_size(window, IDC_REPLACE_OLD_SIZE, found.nFileSizeLow);
  SendDlgItemMessageA(window, IDC_REPLACE_NEW_ICON, STM_SETICON, reinterpret_cast<WPARAM>(info.hIcon), 0);

  FILETIME new_time;
  if (DosDateTimeToFileTime(HIWORD(request.new_dos_time), LOWORD(request.new_dos_time), &new_time))
    show_time(window, IDC_REPLACE_NEW_DATE, new_time);
  if (!(folder && request.new_size == 0))
    show_size(window, IDC_REPLACE_NEW_SIZE, static_cast<uint32_t>(request.new_size));
}

INT_PTR CALLBACK replace_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  localize_dialog_message(window, message, "REPLACEFILEDLG");
  switch (message) {
    case WM_INITDIALOG:
      replace_initialise(window, *reinterpret_cast<ReplaceRequest*>(lparam));
      return TRUE;
    case WM_COMMAND: {
      int result;
      switch (LOWORD(wparam)) {
        case IDC_REPLACE_YES: result = 1; break;
        case IDC_REPLACE_NO: result = 2; break;
        case IDC_REPLACE_YES_ALL: result = 3; break;
        case IDC_REPLACE_RENAME: result = 4; break;
        case IDC_REPLACE_CANCEL:
        case IDCANCEL: result = 5; break;
        case IDC_REPLACE_NO_ALL: result = 6; break;
        default: return FALSE;
      }
      HICON icon = reinterpret_cast<HICON>(SendDlgItemMessageA(window, IDC_REPLACE_OLD_ICON, STM_GETICON, 0, 0));
      if (icon) DestroyIcon(icon);
      EndDialog(window, result);
      return TRUE;
    }
  }
  return FALSE;
}

INT_PTR CALLBACK rename_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  localize_dialog_message(window, message, "RENAMEDLG");
  static char* name;
  switch (message) {
    case WM_INITDIALOG:
      name = reinterpret_cast<char*>(lparam);
      SetDlgItemTextA(window, IDC_RENAME_OLD, name);
      SetDlgItemTextA(window, IDC_RENAME_NEW, name);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        if (!GetDlgItemTextA(window, IDC_RENAME_NEW, name, 80)) name[0] = 0;
        EndDialog(window, 1);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(window, 0);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

int load_resource_string(int id, char* buffer, int size) {
  if (size <= 0) return 0;
  buffer[0] = 0;
  int n = LoadStringA(instance(), static_cast<UINT>(id), buffer, size);
  if (n <= 0) buffer[0] = 0;
  return n > 0 ? n : 0;
}

bool show_retry_box(const char* text, const char* caption) {
  return MessageBoxA(static_cast<HWND>(run_state.message_box_owner), text, caption, MB_RETRYCANCEL | MB_ICONWARNING) ==
         IDRETRY;
}

int run_password_dialog(int kind, const char* file_name, char* typed, int size) {
  HWND owner = main_dialog();
  if (kind == 2 && owner && !IsWindowVisible(owner)) owner = nullptr;
  PasswordRequest request{file_name, typed, size};
  return static_cast<int>(
      DialogBoxParamA(instance(), "GETPASSWORD1", owner, password_procedure, reinterpret_cast<LPARAM>(&request)));
}

int run_next_volume_dialog(char* name) {
  return static_cast<int>(
      DialogBoxParamA(instance(), "ASKNEXTVOL", main_dialog(), next_volume_procedure, reinterpret_cast<LPARAM>(name)));
}

int run_replace_dialog(const char* file_name, int64_t new_size, uint32_t new_dos_time) {
  ReplaceRequest request{file_name, new_size, new_dos_time};
  return static_cast<int>(DialogBoxParamA(instance(), "REPLACEFILEDLG", main_dialog(), replace_procedure,
                                          reinterpret_cast<LPARAM>(&request)));
}

int run_rename_dialog(char* name) {
  return static_cast<int>(
      DialogBoxParamA(instance(), "RENAMEDLG", main_dialog(), rename_procedure, reinterpret_cast<LPARAM>(name)));
}

INT_PTR CALLBACK license_dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM) {
  localize_dialog_message(window, message, "LICENSEDLG");
  switch (message) {
    case WM_INITDIALOG:
      if (module_bitmap)
        SendDlgItemMessageA(window, IDC_LICENSE_PICTURE, STM_SETIMAGE, IMAGE_BITMAP,
                            reinterpret_cast<LPARAM>(module_bitmap));
      if (module_icon) SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(module_icon));
      run_script_phase(window, run_state.comment_text, LicensePhase);
      if (run_state.license_text) {
        if (license_html_view)
          license_html_view->show_text(instance(), GetDlgItem(window, IDC_LICENSE_TEXT), run_state.license_text);
        mem_free(run_state.license_text);
        run_state.license_text = nullptr;
        return TRUE;
      }
      EndDialog(window, 1);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        EndDialog(window, 1);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(window, 0);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

bool choose_file(HWND owner, const char* title, char* file_name, bool save, const char* pattern) {
  char filter[2 * kPathSize + kMessageSize + 16];
  int n = 0;
  auto add = [&](const char* text) {
    int length = static_cast<int>(std::strlen(text));
    if (n + length + 2 > static_cast<int>(sizeof(filter))) return;
    std::memcpy(filter + n, text, static_cast<size_t>(length) + 1);
    n += length + 1;
  };
  if (pattern && *pattern) {
    add(pattern);
    add(pattern);
  }
  add(message_text(133));
  add("*");
  filter[n] = 0;

  char folder[kPathSize];
  bool has_folder = last_component(file_name) != file_name;
  if (has_folder || !GetCurrentDirectoryA(sizeof(folder), folder)) folder[0] = 0;

  OPENFILENAMEA dialog;
  ZeroMemory(&dialog, sizeof(dialog));
  dialog.lStructSize = 76;
  dialog.hwndOwner = owner;
  dialog.hInstance = instance();
  dialog.lpstrFilter = filter;
  dialog.lpstrFile = file_name;
  dialog.nMaxFile = kPathSize;
  dialog.lpstrTitle = title;
  dialog.lpstrInitialDir = folder[0] ? folder : nullptr;
  dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_NOTESTFILECREATE;
  BOOL ok = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
  if (!ok && CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
    file_name[0] = 0;
    ok = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
  }
  return ok != 0;
}

void format_number(int32_t value, char* output) {
  static char thousands[2];
  static bool asked = false;
  if (!asked) {
    asked = true;
    char separator[8];
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, separator, sizeof(separator)) > 0)
      thousands[0] = separator[0];
  }
  char digits[16];
  wsprintfA(digits, "%d", value);
  NUMBERFMTA format;
  ZeroMemory(&format, sizeof(format));
  format.NumDigits = 0;
  format.LeadingZero = 0;
  format.Grouping = 3;
  format.lpDecimalSep = const_cast<char*>(".");
  format.lpThousandSep = thousands;
  format.NegativeOrder = 1;
  if (!GetNumberFormatA(LOCALE_USER_DEFAULT, 0, digits, &format, output, 20)) copy_bounded(output, digits, 20);
}
