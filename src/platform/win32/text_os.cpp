// Code-page conversions through the Win32 API.
#include <windows.h>

#include "app/run_state.h"
#include "platform/text.h"

void fill_lead_byte_table() {
  CPINFO info;
  run_state.multibyte_code_page = GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1;
  for (int i = 0; i < 256; i++) run_state.lead_byte_table[i] = IsDBCSLeadByte(static_cast<BYTE>(i)) != 0;
}

bool ansi_to_wide(const char* text, WChar* buffer, int capacity) {
  return MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<LPWSTR>(buffer), capacity) != 0;
}

bool wide_to_ansi(const WChar* text, char* buffer, int capacity) {
  return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(text), -1, buffer, capacity, nullptr,
                             nullptr) != 0;
}

void oem_to_ansi(const char* text, char* buffer) { OemToCharA(text, buffer); }
void ansi_to_oem(const char* text, char* buffer) { CharToOemA(text, buffer); }

const char* oem_to_ansi_for_display(const char* text) {
  static char buffer[kPathSize];
  char copy[kPathSize];
  copy_bounded(copy, text, sizeof(copy));
  OemToCharA(copy, buffer);
  return buffer;
}

char upper_char_oem(char c) {
  char a;
  OemToCharBuffA(&c, &a, 1);
  char up[2] = {a, 0};
  CharUpperA(up);
  char back;
  CharToOemBuffA(up, &back, 1);
  return back;
}
