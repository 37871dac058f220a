// Dialog texts and sizes taken from the message block, and the right-to-left layout.
#include <windows.h>

#include "ui/catalogue.h"
#include "ui/win32/module_ui.h"

namespace {

int parse_number(const char*& p) {
  int value = 0;
  while (*p >= '0' && *p <= '9') value = value * 10 + (*p++ - '0');
  return value;
}

void translate_window_text(HWND window, const char* dialog_name) {
  char text[1024];
  if (GetWindowTextA(window, text, sizeof(text)) <= 0) return;
  translate(message_catalogue, text, text, sizeof(text), dialog_name, '$');
  SetWindowTextA(window, text);
}

}  // namespace

void localize_dialog_message(HWND window, UINT message, const char* dialog_name) {
  if (message == WM_SETFONT) {
    if (message_catalogue.right_to_left)
      SetWindowLongA(window, GWL_EXSTYLE, GetWindowLongA(window, GWL_EXSTYLE) | WS_EX_LAYOUTRTL);
  } else if (message == WM_INITDIALOG) {
    localize_dialog(window, dialog_name);
  }
}

void localize_dialog(HWND window, const char* dialog_name) {
  if (!message_catalogue.block) return;  // nothing can change

  char scale[1024];
  translate(message_catalogue, "", scale, sizeof(scale), dialog_name, '$');
  int width_percent = 100, height_percent = 100;
  for (const char* p = scale; *p; p++) {
    if (*p != '*') continue;
    const char* q = scale;
    width_percent = parse_number(q);
    q = p + 1;
    height_percent = parse_number(q);
    break;
  }
  bool scaled = width_percent != 100 || height_percent != 100;

  RECT window_rect, client_rect;
  GetWindowRect(window, &window_rect);
  GetClientRect(window, &client_rect);
  int client_width = client_rect.right - client_rect.left;
  int client_height = client_rect.bottom - client_rect.top;
  int frame_width = window_rect.right - window_rect.left + 1 - client_width;
  int frame_height = window_rect.bottom - window_rect.top + 1 - client_height;
  if (scaled)
    SetWindowPos(window, nullptr, 0, 0, client_width * width_percent / 100 + frame_width,
                 client_height * height_percent / 100 + frame_height, SWP_NOMOVE | SWP_NOZORDER);

  translate_window_text(window, dialog_name);
  frame_height -= GetSystemMetrics(SM_CYDLGFRAME);

  HWND first = GetWindow(window, GW_CHILD);
  HWND child = first;
  for (int i = 0; child && i < 512; i++) {
    translate_window_text(child, dialog_name);
    if (scaled) {
      RECT r;
      GetWindowRect(child, &r);
      int x = (r.left - window_rect.left - frame_width / 2) * width_percent / 100;
      int y = (r.top - window_rect.top - frame_height) * height_percent / 100;
      int w = (r.right - r.left + 1) * width_percent / 100;
      int h = (r.bottom - r.top + 1) * height_percent / 100;
      SetWindowPos(child, nullptr, x, y, w, h, SWP_NOZORDER);
    }
    child = GetWindow(child, GW_HWNDNEXT);
    if (child == first) break;
  }
}
