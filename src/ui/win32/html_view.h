// The text view of the start and licence dialogs: shows a text over a pane. This build
// renders it as plain text in the pane itself.
#pragma once

#include <windows.h>

class HtmlView {
 public:
  HtmlView() = default;
  ~HtmlView();
  HtmlView(const HtmlView&) = delete;
  HtmlView& operator=(const HtmlView&) = delete;

  // Shows text (plain or HTML) over pane; the text is only read during the call.
  void show_text(HINSTANCE instance, HWND pane, const char* text);
  // Destroys the window shown over the pane, if any, so that the pane shows again.
  void destroy_host_window();

 private:
  HWND host_window_ = nullptr;
};
