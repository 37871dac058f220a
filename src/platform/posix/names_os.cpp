// Name handling of the Linux build: names are UTF-8; comparison ignoring case folds
// each code point with a simple uppercase mapping.
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "platform/os_names.h"
#include "platform/posix/posix_util.h"
#include "platform/text.h"

namespace {

// Next code point of a UTF-8 text of n bytes; a byte that does not start a valid
// sequence stands for itself (above the Unicode range, so it sorts after text).
uint32_t next_code_point(const unsigned char*& p, const unsigned char* end) {
  uint32_t b = *p;
  int extra = b < 0x80 ? 0 : (b >= 0xC0 && b <= 0xDF) ? 1 : (b >= 0xE0 && b <= 0xEF) ? 2 : (b >= 0xF0 && b <= 0xF7) ? 3 : -1;
  if (extra < 0 || end - p <= extra) {
    p++;
    return extra == 0 ? b : 0x110000 + b;
  }
  uint32_t cp = extra == 0 ? b : b & (0x3F >> extra);
  for (int k = 1; k <= extra; k++) {
    if ((p[k] & 0xC0) != 0x80) {
      p++;
      return 0x110000 + b;
    }
    cp = (cp << 6) | (p[k] & 0x3F);
  }
  p += 1 + extra;
  return cp;
}

}  // namespace

uint32_t unicode_upper(uint32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c == 0x131) return 'I';
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~1u;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 32;
  if (c == 0x3C2) return 0x3A3;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 37;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 63;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;
  return c;
}

namespace os {

int compare_names(const char* a, int na, const char* b, int nb) {
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(b);
  const unsigned char* ea = pa + (na < 0 ? std::strlen(a) : static_cast<size_t>(na));
  const unsigned char* eb = pb + (nb < 0 ? std::strlen(b) : static_cast<size_t>(nb));
  while (pa < ea && pb < eb) {
    uint32_t ca = unicode_upper(next_code_point(pa, ea));
    uint32_t cb = unicode_upper(next_code_point(pb, eb));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (pa < ea) return 1;
  if (pb < eb) return -1;
  return 0;
}

char upper_ansi_char(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool full_path_name(const char* path, char* buffer, int size) {
  // The current folder joined with a relative path, "." and ".." resolved, with backslashes.
  char joined[kSystemPathSize];
  if (path[0] == '\\' || path[0] == '/') {
    copy_bounded(joined, path, sizeof(joined));
  } else {
    if (!getcwd(joined, sizeof(joined))) {
      posix_set_error();
      return false;
    }
    append_bounded(joined, "/", sizeof(joined));
    append_bounded(joined, path, sizeof(joined));
  }
  char out[kSystemPathSize];
  size_t n = 0;
  size_t starts[kSystemPathSize / 2];
  size_t depth = 0;
  const char* p = joined;
  bool trailing = false;
  while (*p) {
    while (*p == '\\' || *p == '/') p++;
    if (!*p) {
      trailing = true;
      break;
    }
    const char* s = p;
    while (*p && *p != '\\' && *p != '/') p++;
    size_t len = static_cast<size_t>(p - s);
    if (len == 1 && s[0] == '.') continue;
    if (len == 2 && s[0] == '.' && s[1] == '.') {
      if (depth) n = starts[--depth];
      continue;
    }
    if (n + len + 1 >= sizeof(out)) return false;
    starts[depth++] = n;
    out[n++] = '\\';
    std::memcpy(out + n, s, len);
    n += len;
  }
  if (n == 0 || trailing) out[n++] = '\\';
  out[n] = 0;
  if (n >= static_cast<size_t>(size)) return false;
  std::memcpy(buffer, out, n + 1);
  return true;
}

NameRules native_name_rules() { return NameRules::posix; }

}  // namespace os
