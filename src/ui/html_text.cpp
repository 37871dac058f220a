#include "ui/html_text.h"

#include <cstring>

#include "platform/memory.h"
#include "platform/text.h"

namespace {

const char kPlainStyle[] = "<style>body{font-family:\"Arial\";font-size:12;}</style>";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Whether text begins with tag (lower case), ignoring letter case.
bool begins_with(const char* text, const char* tag) {
  for (; *tag; text++, tag++)
    if (lower(*text) != *tag) return false;
  return true;
}

// Position after the first occurrence of what (ignoring case), or the end of the text.
const char* skip_past(const char* p, const char* what) {
  size_t n = std::strlen(what);
  for (; *p; p++)
    if (begins_with(p, what)) return p + n;
  return p;
}

}  // namespace

bool looks_like_html(const char* text) {
  for (const char* p = text; *p; p++) {
    if (p[0] != '<' || p[1] != '/') continue;
    for (int i = 2; i <= 19 && p[i]; i++)
      if (p[i] == '>') return true;
  }
  return false;
}

void plain_to_html(char* buffer) {
  size_t length = std::strlen(buffer);
  size_t size = 6 * length + 256;
  char* out = static_cast<char*>(mem_alloc(size));
  if (!out) return;
  size_t n = std::strlen(kPlainStyle);
  std::memcpy(out, kPlainStyle, n);
  const char* p = buffer;
  while (*p) {
    if (p[0] == '\r' && p[1] == '\n' && p[2] == '\r' && p[3] == '\n') {
      p += 2;
      while (p[0] == '\r' && p[1] == '\n') {
        std::memcpy(out + n, "<br>", 4);
        n += 4;
        p += 2;
      }
      continue;
    }
    if (*p == ' ' && p > buffer && p[-1] == ' ') {
      std::memcpy(out + n, "&nbsp;", 6);
      n += 6;
    } else {
      out[n++] = *p;
    }
    p++;
  }
  out[n] = 0;
  std::memcpy(buffer, out, n + 1);
  mem_free(out);
}

char* html_to_plain(const char* text) {
  bool html = looks_like_html(text);
  char* out = static_cast<char*>(mem_alloc(std::strlen(text) + 1));
  if (!out) return nullptr;
  size_t n = 0;
  const char* p = text;
  while (*p) {
    char c = *p;
    if (c == '<') {
      if (begins_with(p, "</p>")) {
        std::memcpy(out + n, "\r\n\r\n", 4);
        n += 4;
      } else if (begins_with(p, "<br>")) {
        std::memcpy(out + n, "\r\n", 2);
        n += 2;
      }
      p = begins_with(p, "<style>") ? skip_past(p, "</style>") : skip_past(p, ">");
      continue;
    }
    bool ends_blank = n == 0 || out[n - 1] == ' ';
    if (html && (c == '\r' || c == '\n')) {
      if (!ends_blank) out[n++] = ' ';
      p++;
      continue;
    }
    if (html && c == '&') {
      const char* semicolon = nullptr;
      for (int i = 1; i <= 19 && p[i]; i++)
        if (p[i] == ';') {
          semicolon = p + i;
          break;
        }
      if (semicolon) {
        p = semicolon + 1;
        continue;
      }
    }
    if (c == ' ' && ends_blank) {
      p++;
      continue;
    }
    out[n++] = c;
    p++;
  }
  out[n] = 0;
  return out;
}
