// The script actions' requests to Windows: dialog controls, registry, shell and COM.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/run_state.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "script/script_host.h"
#include "ui/win32/module_ui.h"
#include "ui/win32/resource.h"

namespace {

constexpr char kSavedDestinationsKey[] = "Software\\Quillo SFX";

HWND as_window(void* window) { return static_cast<HWND>(window); }

// Reads a string value; the text is always terminated, its type is not checked.
bool read_string_value(HKEY root, const char* key_name, const char* value_name, char* buffer, int size) {
  HKEY key;
  if (RegOpenKeyExA(root, key_name, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD length = static_cast<DWORD>(size - 1);
  LONG r = RegQueryValueExA(key, value_name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &length);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return false;
  if (length > static_cast<DWORD>(size - 1)) length = static_cast<DWORD>(size - 1);
  buffer[length] = 0;
  return true;
}

// Removes one waiting message without handling it: the dialog must not react while a
// program runs, but the queue must not fill up.
void drop_one_message() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
}

class WindowsScriptHost final : public ScriptHost {
 public:
  void set_window_text(void* window, const char* text) override { SetWindowTextA(as_window(window), text); }

  void set_destination_text(void* window, const char* text) override {
    SendDlgItemMessageA(as_window(window), IDC_DESTINATION, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  }

  void add_destination_choice(void* window, const char* text) override {
    SendDlgItemMessageA(as_window(window), IDC_DESTINATION, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }

  void end_dialog(void* window, int result) override { end_start_dialog(as_window(window), result); }

  bool ask_yes_no(void* window, const char* question, const char* title) override {
    return MessageBoxA(as_window(window), question, title, MB_YESNO | MB_ICONQUESTION) == IDYES;
  }

  bool program_files_folder(char* buffer, int size) override {
    return read_string_value(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                             buffer, size);
  }

  bool read_saved_destination(const char* value_name, char* buffer, int size) override {
    return read_string_value(HKEY_CURRENT_USER, kSavedDestinationsKey, value_name, buffer, size);
  }

  void write_saved_destination(const char* value_name, const char* destination) override {
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSavedDestinationsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &key, &disposition) != ERROR_SUCCESS)
      return;
    RegSetValueExA(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(destination),
                   static_cast<DWORD>(lstrlenA(destination) + 1));
    RegCloseKey(key);
  }

  bool temp_folder(char* buffer, int size) override {
    DWORD n = GetTempPathA(static_cast<DWORD>(size), buffer);
    return n != 0 && n < static_cast<DWORD>(size);
  }

  void full_path(const char* path, char* buffer) override { ::full_path(path, buffer); }

  void list_folder(const char* mask, FolderEntryHandler handler, void* context) override {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(mask, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      const char* name = found.cFileName;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      if (!handler(context, name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) break;
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }

  void delete_tree(const char* path) override {
    char source[kPathSize + 2];
    int n = lstrlenA(path);
    if (n >= kPathSize) return;
    CopyMemory(source, path, static_cast<SIZE_T>(n));
    source[n] = 0;
    source[n + 1] = 0;
    SHFILEOPSTRUCTA operation;
    ZeroMemory(&operation, sizeof(operation));
    operation.wFunc = FO_DELETE;
    operation.pFrom = source;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    SHFileOperationA(&operation);
  }

  void delete_at_restart(const char* path) override { MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); }

  bool run_program(const ProgramRequest& request) override {
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_CONNECTNETDRV | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = request.verb;
    info.lpFile = request.file;
    info.lpParameters = request.parameters;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info)) {
      // Once more, letting the system explain a failure itself.
      info.fMask &= ~static_cast<ULONG>(SEE_MASK_FLAG_NO_UI);
      info.lpFile = request.retry_file;
      if (!ShellExecuteExA(&info)) return false;
    }
    if (request.wait) {
      HWND dialog = static_cast<HWND>(run_state.main_window);
      bool hidden = dialog && IsWindowVisible(dialog);
      if (hidden) ShowWindow(dialog, SW_HIDE);
      if (info.hProcess) {
        WaitForInputIdle(info.hProcess, 2000);
        while (WaitForSingleObject(info.hProcess, 10) == WAIT_TIMEOUT) drop_one_message();
      }
      if (hidden) ShowWindow(dialog, SW_SHOWNORMAL);
    }
    if (info.hProcess) CloseHandle(info.hProcess);
    return true;
  }

  void pause(uint32_t ms) override { Sleep(ms); }

  bool special_folder(ShortcutFolder folder, char* buffer, int size) override {
    if (size < MAX_PATH) return false;
    LPITEMIDLIST list = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, folder, &list) != S_OK || !list) return false;
    bool ok = SHGetPathFromIDListA(list, buffer) != 0;
    IMalloc* allocator = nullptr;
    if (SHGetMalloc(&allocator) == S_OK && allocator) {
      allocator->Free(list);
      allocator->Release();
    }
    return ok;
  }

  void create_shortcut(const ShortcutRequest& request) override {
    bool ole = SUCCEEDED(OleInitialize(nullptr));
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link))) &&
        link) {
      link->SetPath(request.target);
      link->SetDescription(request.description);
      if (request.icon) link->SetIconLocation(request.icon, 0);
      if (request.arguments) link->SetArguments(request.arguments);
      if (request.working_folder) link->SetWorkingDirectory(request.working_folder);
      IPersistFile* file = nullptr;
      if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) && file) {
        WCHAR name[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, request.link_path, -1, name, MAX_PATH) > 0) file->Save(name, TRUE);
        file->Release();
      }
      link->Release();
    }
    if (ole) OleUninitialize();
  }

  void folder_changed(const char* folder) override { SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA, folder, nullptr); }
};

WindowsScriptHost windows_host;

}  // namespace

void install_script_host() { set_script_host(&windows_host); }
