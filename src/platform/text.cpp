// Portable text helpers: UTF-8, wide strings, double-byte stepping, bounded copies.
#include "platform/text.h"

#include <cstring>

#include "app/run_state.h"

bool is_lead_byte(uint8_t b) { return run_state.lead_byte_table[b]; }
bool multibyte_code_page() { return run_state.multibyte_code_page; }

void wide_to_le_bytes(const WChar* text, uint8_t* bytes, int max_units) {
  for (int i = 0; i < max_units; i++) {
    bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    if (text[i] == 0) break;
  }
}

void le_bytes_to_wide(const uint8_t* bytes, WChar* buffer, int max_units) {
  for (int i = 0; i < max_units; i++) {
    buffer[i] = static_cast<WChar>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (buffer[i] == 0) break;
  }
}

const char* utf8_to_wide(const char* text, WChar* buffer, int capacity) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  int out = 0;
  int room = capacity - 1;  // one unit for the terminator
  while (*p) {
    uint32_t b = *p, cp;
    int extra;
    if (b < 0x80) {
      cp = b;
      extra = 0;
    } else if (b >= 0xC0 && b <= 0xDF) {
      cp = b & 0x1F;
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      cp = b & 0x0F;
      extra = 2;
    } else if (b >= 0xF0 && b <= 0xF7) {
      cp = b & 0x07;
      extra = 3;
    } else {
      break;
    }
    bool ok = true;
    for (int k = 1; k <= extra; k++) {
      if ((p[k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (p[k] & 0x3F);
    }
    if (!ok || cp > 0x10FFFF) break;
    int units = cp > 0xFFFF ? 2 : 1;
    if (out + units > room) break;
    if (units == 1) {
      buffer[out++] = static_cast<WChar>(cp);
    } else {
      buffer[out++] = static_cast<WChar>(0xD800 + ((cp - 0x10000) >> 10));
      buffer[out++] = static_cast<WChar>(0xDC00 + (cp & 0x3FF));
    }
    p += 1 + extra;
  }
  if (capacity > 0) buffer[out] = 0;
  return reinterpret_cast<const char*>(p);
}

int wide_to_utf8(const WChar* text, char* buffer, int capacity) {
  int out = 0;
  if (capacity <= 0) return 0;
  for (size_t i = 0; text[i]; i++) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      i++;
    }
    char enc[4];
    int n;
    if (cp < 0x80) {
      enc[0] = static_cast<char>(cp);
      n = 1;
    } else if (cp < 0x800) {
      enc[0] = static_cast<char>(0xC0 | (cp >> 6));
      enc[1] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 2;
    } else if (cp < 0x10000) {
      enc[0] = static_cast<char>(0xE0 | (cp >> 12));
      enc[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      enc[2] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 3;
    } else {
      enc[0] = static_cast<char>(0xF0 | (cp >> 18));
      enc[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      enc[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      enc[3] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 4;
    }
    if (out + n > capacity - 1) break;
    std::memcpy(buffer + out, enc, static_cast<size_t>(n));
    out += n;
  }
  buffer[out] = 0;
  return out;
}

char upper_char_for_names(char c) {
  if (c == 'i') return 'I';
  return upper_char_oem(c);
}

const char* next_char(const char* p) {
  if (!*p) return p;
  if (is_lead_byte(static_cast<uint8_t>(*p)) && p[1]) return p + 2;
  return p + 1;
}

const char* find_char_dbcs(const char* text, char c) {
  if (!multibyte_code_page()) return std::strchr(text, c);
  for (const char* p = text; *p; p = next_char(p))
    if (*p == c) return p;
  return nullptr;
}

const char* find_last_char_dbcs(const char* text, char c) {
  if (!multibyte_code_page()) return std::strrchr(text, c);
  const char* found = nullptr;
  for (const char* p = text; *p; p = next_char(p))
    if (*p == c) found = p;
  return found;
}

size_t wide_length(const WChar* s) {
  size_t n = 0;
  while (s[n]) n++;
  return n;
}

WChar* wide_copy(WChar* dst, const WChar* src) {
  size_t i = 0;
  do {
    dst[i] = src[i];
  } while (src[i++]);
  return dst;
}

WChar* wide_copy_bounded(WChar* dst, const WChar* src, size_t n) {
  for (size_t i = 0; i < n; i++) {
    dst[i] = src[i];
    if (!src[i]) break;
  }
  return dst;
}

WChar* wide_append(WChar* dst, const WChar* src) {
  wide_copy(dst + wide_length(dst), src);
  return dst;
}

const WChar* wide_find(const WChar* s, WChar c) {
  for (; *s; s++)
    if (*s == c) return s;
  return nullptr;
}

const WChar* wide_find_last(const WChar* s, WChar c) {
  const WChar* found = nullptr;
  for (; *s; s++)
    if (*s == c) found = s;
  return found;
}

const WChar* wide_find_any(const WChar* s, const WChar* set) {
  for (; *s; s++)
    if (wide_find(set, *s)) return s;
  return nullptr;
}

uint32_t wide_parse_decimal(const WChar* s) {
  uint32_t v = 0;
  for (; *s >= '0' && *s <= '9'; s++) v = v * 10 + static_cast<uint32_t>(*s - '0');
  return v;
}

bool wide_equal(const WChar* a, const WChar* b) {
  for (;; a++, b++) {
    if (*a != *b) return false;
    if (!*a) return true;
  }
}

char* copy_bounded(char* buffer, const char* text, size_t size) {
  if (size == 0) return buffer;
  size_t n = std::strlen(text);
  if (n > size - 1) n = size - 1;
  std::memmove(buffer, text, n);
  buffer[n] = 0;
  return buffer;
}

char* append_bounded(char* buffer, const char* text, size_t size) {
  size_t n = std::strlen(buffer);
  if (n < size) copy_bounded(buffer + n, text, size - n);
  return buffer;
}
