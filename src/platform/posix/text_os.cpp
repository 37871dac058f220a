// Code pages of the Linux build: the ANSI code page is UTF-8 (no double-byte lead
// bytes), the OEM code page is 437.
#include <cstring>

#include "app/run_state.h"
#include "platform/posix/posix_util.h"
#include "platform/text.h"

namespace {

const uint16_t kOem437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// UTF-8 to one OEM byte; '?' when the character has no OEM form. Returns bytes consumed.
int utf8_char_to_oem(const unsigned char* p, char* out) {
  WChar w[3];
  char one[5] = {0};
  int len = (*p < 0x80) ? 1 : (*p >= 0xF0) ? 4 : (*p >= 0xE0) ? 3 : (*p >= 0xC0) ? 2 : 1;
  for (int i = 0; i < len; i++) {
    if (!p[i]) {
      len = i ? i : 1;
      break;
    }
    one[i] = static_cast<char>(p[i]);
  }
  utf8_to_wide(one, w, 3);
  if (!w[0]) {
    *out = '?';
    return len;
  }
  if (w[0] < 0x80) {
    *out = static_cast<char>(w[0]);
    return len;
  }
  for (int i = 0; i < 128; i++) {
    if (kOem437High[i] == w[0]) {
      *out = static_cast<char>(0x80 + i);
      return len;
    }
  }
  *out = '?';
  return len;
}

}  // namespace

void fill_lead_byte_table() {
  for (bool& b : run_state.lead_byte_table) b = false;
  run_state.multibyte_code_page = false;
}

bool ansi_to_wide(const char* text, WChar* buffer, int capacity) {
  if (capacity <= 0) return false;
  const char* end = utf8_to_wide(text, buffer, capacity);
  return *end == 0;
}

bool wide_to_ansi(const WChar* text, char* buffer, int capacity) {
  if (capacity <= 0) return false;
  size_t need = 0;
  for (size_t i = 0; text[i]; i++) {
    WChar c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      need += 4;
      i++;
    } else {
      need += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    }
  }
  wide_to_utf8(text, buffer, capacity);
  return need < static_cast<size_t>(capacity);
}

void oem_to_ansi(const char* text, char* buffer) {
  char out[kPathSize * 3];
  int n = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p && n < kPathSize * 3 - 4; p++) {
    if (*p < 0x80) {
      out[n++] = static_cast<char>(*p);
      continue;
    }
    WChar w[2] = {kOem437High[*p - 0x80], 0};
    char enc[8];
    int k = wide_to_utf8(w, enc, sizeof(enc));
    std::memcpy(out + n, enc, static_cast<size_t>(k));
    n += k;
  }
  // At most kPathSize - 1 bytes, cut before a character that does not fit whole.
  if (n > kPathSize - 1) {
    n = kPathSize - 1;
    while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80) n--;
  }
  out[n] = 0;
  std::memcpy(buffer, out, static_cast<size_t>(n) + 1);
}

void ansi_to_oem(const char* text, char* buffer) {
  char out[kPathSize];
  int n = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p && n < kPathSize - 1) {
    int used = utf8_char_to_oem(p, &out[n]);
    n++;
    p += used;
  }
  out[n] = 0;
  std::strcpy(buffer, out);
}

const char* oem_to_ansi_for_display(const char* text) {
  static char buffer[kPathSize];
  oem_to_ansi(text, buffer);
  return buffer;
}

char upper_char_oem(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x80) return (u >= 'a' && u <= 'z') ? static_cast<char>(u - 32) : c;
  WChar w = kOem437High[u - 0x80];
  WChar up = static_cast<WChar>(unicode_upper(w));
  if (up == w) return c;
  for (int i = 0; i < 128; i++)
    if (kOem437High[i] == up) return static_cast<char>(0x80 + i);
  return c;
}
