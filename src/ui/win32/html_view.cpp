#include "ui/win32/html_view.h"

#include <cstring>

#include "platform/memory.h"
#include "ui/html_text.h"

HtmlView::~HtmlView() { destroy_host_window(); }

void HtmlView::destroy_host_window() {
  if (host_window_) DestroyWindow(host_window_);
  host_window_ = nullptr;
}

void HtmlView::show_text(HINSTANCE, HWND pane, const char* text) {
  if (!pane || !text) return;
  destroy_host_window();
  ShowWindow(pane, SW_SHOW);
  size_t length = std::strlen(text);
  char* buffer = static_cast<char*>(mem_alloc(6 * length + 256));
  if (!buffer) return;
  std::memcpy(buffer, text, length + 1);
  if (!looks_like_html(buffer)) plain_to_html(buffer);
  char* plain = html_to_plain(buffer);
  if (plain) SetWindowTextA(pane, plain);
  mem_free(plain);
  mem_free(buffer);
}
