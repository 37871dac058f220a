// UTF-8 and UTF-16 helpers of the packer, and file names for the core.
#include <cstring>

#include "platform/text.h"
#include "tools/kez/kez.h"

#ifdef _WIN32
#include <windows.h>
#endif

void print_error(const std::string& text) { std::fprintf(stderr, "kez: %s\n", text.c_str()); }

std::u16string utf8_to_u16(const std::string& text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    uint32_t b = static_cast<uint8_t>(text[i]);
    uint32_t cp;
    int extra;
    if (b < 0x80) cp = b, extra = 0;
    else if (b >= 0xC0 && b < 0xE0) cp = b & 0x1F, extra = 1;
    else if (b >= 0xE0 && b < 0xF0) cp = b & 0x0F, extra = 2;
    else if (b >= 0xF0 && b < 0xF8) cp = b & 0x07, extra = 3;
    else cp = 0xFFFD, extra = 0;
    size_t k = 1;
    for (; k <= static_cast<size_t>(extra) && i + k < text.size(); k++) {
      uint32_t c = static_cast<uint8_t>(text[i + k]);
      if ((c & 0xC0) != 0x80) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (k != static_cast<size_t>(extra) + 1) cp = 0xFFFD;
    i += k;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp > 0x10FFFF ? 0xFFFD : cp));
    }
  }
  return out;
}

std::string u16_to_utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      i++;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string wide_to_utf8_string(const WChar* text) {
  std::u16string w;
  for (; *text; text++) w.push_back(*text);
  return u16_to_utf8(w);
}

std::FILE* open_file_utf8(const std::string& name, const char* mode) {
#ifdef _WIN32
  std::u16string w = utf8_to_u16(name);
  std::u16string m = utf8_to_u16(mode);
  return _wfopen(reinterpret_cast<const wchar_t*>(w.c_str()), reinterpret_cast<const wchar_t*>(m.c_str()));
#else
  return std::fopen(name.c_str(), mode);
#endif
}

void core_names(const std::string& name, char* narrow, WChar* wide) {
  std::u16string w = utf8_to_u16(name);
  size_t n = w.size() < kPathSize - 1 ? w.size() : kPathSize - 1;
  for (size_t i = 0; i < n; i++) wide[i] = w[i];
  wide[n] = 0;
  narrow[0] = 0;
  wide_to_ansi(wide, narrow, kPathSize);
  narrow[kPathSize - 1] = 0;
}
