// Shared state and helpers of the module's Windows user interface.
#pragma once

#include <windows.h>

class HtmlView;

// Loaded by start-up, used by the start and licence dialogs.
extern HICON module_icon;
extern HBITMAP module_bitmap;
// The main text view and the licence text view; set while the start dialog lives.
extern HtmlView* main_html_view;
extern HtmlView* license_html_view;

INT_PTR CALLBACK start_dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK license_dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Translation of dialog texts by the message block: the first call of every dialog
// procedure, with the dialog's resource name.
void localize_dialog_message(HWND window, UINT message, const char* dialog_name);
void localize_dialog(HWND window, const char* dialog_name);

// Start dialog operations.
bool browse_for_folder(HWND owner, const char* title, char* result);
void attach_autocomplete(HWND combo);
void enable_control(HWND window, int id, bool on);
// The open-file (or save) dialog; true when a file was chosen (buffer of 1024 bytes).
bool choose_file(HWND owner, const char* title, char* file_name, bool save, const char* pattern);
// Formats a number with the user's thousands separator (output of 20 bytes).
void format_number(int32_t value, char* output);

// Where the log pane's lines are also written (QUILLO_SFX_LOG), as UTF-8.
void log_file_append(const char* text);

// The system folder with a trailing backslash, and a DLL loaded from there only.
HMODULE load_system_library(const char* name);
