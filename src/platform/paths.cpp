// Paths and names: splitting, validity, safe relative names, masks, folder creation.
#include "platform/paths.h"

#include <cstring>

#include "platform/file.h"
#include "platform/os_names.h"
#include "platform/text.h"

namespace {

// One character forward: two bytes over a lead byte when the code page has them.
inline const char* step(const char* p) { return multibyte_code_page() ? next_char(p) : p + 1; }
inline const WChar* step(const WChar* p) { return p + 1; }

inline bool single_byte_at(const char* p) {
  return !multibyte_code_page() || !is_lead_byte(static_cast<uint8_t>(*p));
}

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

size_t length_of(const char* s) { return std::strlen(s); }
size_t length_of(const WChar* s) { return wide_length(s); }

template <class C>
C* copy_units(C* dst, const C* src, size_t n) {
  std::memmove(dst, src, n * sizeof(C));
  dst[n] = 0;
  return dst;
}

bool names_equal(const char* a, const char* b, bool case_sensitive) {
  return case_sensitive ? std::strcmp(a, b) == 0 : compare_names(a, b) == 0;
}

bool names_equal_n(const char* a, const char* b, size_t n, bool case_sensitive) {
  return case_sensitive ? std::strncmp(a, b, n) == 0 : compare_names(a, b, static_cast<int>(n)) == 0;
}

bool chars_equal(char m, char c, bool case_sensitive) {
  if (m == c) return true;
  if (case_sensitive) return false;
  return os::upper_ansi_char(m) == os::upper_ansi_char(c);
}

}  // namespace

bool is_separator(int c) { return c == '\\' || c == '/'; }

const char* name_part(const char* path) {
  const char* after = nullptr;
  for (const char* p = path; *p; p = step(p))
    if (is_separator(*p)) after = p + 1;
  if (after) return after;
  if (path[0] && path[1] == ':' && single_byte_at(path)) return path + 2;
  return path;
}

const WChar* name_part(const WChar* path) {
  const WChar* after = nullptr;
  for (const WChar* p = path; *p; p++)
    if (is_separator(*p)) after = p + 1;
  if (after) return after;
  if (path[0] && path[1] == ':') return path + 2;
  return path;
}

const char* last_char(const char* path) {
  const char* last = path;
  for (const char* p = path; *p; p = step(p)) last = p;
  return last;
}

const char* extension_of(const char* path) {
  const char* name = name_part(path);
  const char* dot = nullptr;
  for (const char* p = name; *p; p = step(p))
    if (*p == '.') dot = p;
  return dot;
}

bool has_extension(const char* path, const char* extension) {
  const char* dot = extension_of(path);
  return dot && compare_names(dot + 1, extension) == 0;
}

bool has_wildcards(const char* narrow, const WChar* wide) {
  if (wide && *wide) {
    for (const WChar* p = wide; *p; p++)
      if (*p == '*' || *p == '?') return true;
    return false;
  }
  return narrow && std::strpbrk(narrow, "*?") != nullptr;
}

void folder_part_copy(const char* path, char* buffer, int size) {
  if (size <= 0) return;
  size_t n = static_cast<size_t>(name_part(path) - path);
  if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
  copy_units(buffer, path, n);
}

void strip_name_part(char* path) {
  char* name = name_part(path);
  size_t offset = static_cast<size_t>(name - path);
  *name = 0;
  if (offset == 0 || !is_separator(path[offset - 1])) return;
  bool drive = path[0] && path[1] == ':';
  if (offset < 2 || (drive && offset < 4)) return;
  path[offset - 1] = 0;
}

bool starts_with_drive(const char* path) {
  if (!path[0]) return false;
  char c = upper_char_for_names(path[0]);
  return c >= 'A' && c <= 'Z' && path[1] == ':';
}

void root_of(const char* path, char* buffer) {
  buffer[0] = 0;
  if (starts_with_drive(path)) {
    buffer[0] = path[0];
    buffer[1] = ':';
    buffer[2] = '\\';
    buffer[3] = 0;
    return;
  }
  if (!is_separator(path[0]) || !is_separator(path[1])) return;
  const char* server_end = path + 2;
  while (*server_end && !is_separator(*server_end)) server_end++;
  if (!*server_end) return;
  const char* share_end = server_end + 1;
  while (*share_end && !is_separator(*share_end)) share_end++;
  size_t n = *share_end ? static_cast<size_t>(share_end - path + 1) : std::strlen(path);
  if (n > kPathSize - 1) n = kPathSize - 1;
  copy_units(buffer, path, n);
}

void full_path(const char* path, char* buffer) {
  char full[kPathSize];
  if (os::full_path_name(path, full, sizeof(full))) {
    copy_bounded(buffer, full, kPathSize);
  } else if (buffer != path) {
    copy_bounded(buffer, path, kPathSize);
  }
}

char* slashes_to_backslashes(char* path, char* buffer, int size) {
  char* out = path;
  if (buffer) {
    if (size <= 0) return buffer;
    if (std::strlen(path) >= static_cast<size_t>(size)) {
      buffer[0] = 0;
      return buffer;
    }
    std::memmove(buffer, path, std::strlen(path) + 1);
    out = buffer;
  }
  for (char* p = out; *p; p = const_cast<char*>(step(p)))
    if (*p == '/') *p = '\\';
  return out;
}

uint32_t split_version_suffix(char* narrow, WChar* wide, bool cut) {
  uint32_t number = 0;
  if (narrow) {
    char* semicolon = nullptr;
    for (char* p = narrow; *p; p = const_cast<char*>(step(p)))
      if (*p == ';') semicolon = p;
    if (semicolon) {
      for (const char* d = semicolon + 1; is_digit(*d); d++) number = number * 10 + static_cast<uint32_t>(*d - '0');
      if (cut) *semicolon = 0;
    }
  }
  if (wide) {
    WChar* semicolon = const_cast<WChar*>(wide_find_last(wide, ';'));
    if (semicolon) {
      uint32_t wide_number = wide_parse_decimal(semicolon + 1);
      if (number == 0) number = wide_number;
      if (cut) *semicolon = 0;
    }
  }
  return number;
}

bool is_valid_local_name(const char* name) {
  if (!*name) return false;
  for (const char* p = name; *p; p = step(p)) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20) return false;
    if (c == ':' && p - name >= 2) return false;
    if (std::strchr("?*<>|\"", c)) return false;
  }
  return true;
}

void replace_invalid_chars(char* name, bool strict) {
  for (char* p = name; *p; p = const_cast<char*>(step(p))) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '?' || c == '*') *p = '_';
    else if (strict && (c < 0x20 || std::strchr("<>|\"", c))) *p = '_';
    else if (c == ':' && p - name >= 2) *p = '_';
  }
}

namespace {

// The kept tail of an archived name; the narrow variant takes a drive or a UNC prefix
// per pass, the wide one a drive prefix and then a UNC prefix.
template <class C>
const C* safe_tail(const C* name, bool unc_after_drive) {
  const C* tail = name;
  for (const C* p = name; *p; p++) {
    if (is_separator(p[0]) && p[1] == '.' && p[2] == '.' && is_separator(p[3])) tail = p + 4;
  }
  for (;;) {
    const C* before = tail;
    bool drive = tail[0] && tail[1] == ':';
    if (drive) tail += 2;
    if ((!drive || unc_after_drive) && tail[0] == '\\' && tail[1] == '\\') {
      const C* server_end = tail + 2;
      while (*server_end && *server_end != '\\') server_end++;
      if (*server_end) {
        const C* share_end = server_end + 1;
        while (*share_end && *share_end != '\\') share_end++;
        if (*share_end) tail = share_end + 1;
      }
    }
    const C* last_separator = nullptr;
    for (const C* p = tail; is_separator(*p) || *p == '.'; p++)
      if (is_separator(*p)) last_separator = p;
    if (last_separator) tail = last_separator + 1;
    if (tail == before) break;
  }
  if (tail[0] == '.' && tail[1] == '.' && tail[2] == 0) tail += 2;
  return tail;
}

template <class C>
void copy_tail(const C* tail, C* buffer) {
  size_t n = length_of(tail);
  if (n > kPathSize - 1) n = kPathSize - 1;
  copy_units(buffer, tail, n);
}

}  // namespace

const char* make_safe_relative(const char* name, char* buffer) {
  const char* tail = safe_tail(name, false);
  if (buffer) copy_tail(tail, buffer);
  return tail;
}

const WChar* make_safe_relative(const WChar* name, WChar* buffer) {
  const WChar* tail = safe_tail(name, true);
  if (buffer) copy_tail(tail, buffer);
  return tail;
}

namespace {

inline char ascii_upper(uint32_t c) {
  return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
}

// Whether a component names a device of the Windows family: its base (up to the first
// dot or colon, trailing blanks dropped) is a device name.
template <class C>
bool names_device(const C* s, const C* end) {
  const C* base_end = s;
  while (base_end < end && *base_end != '.' && *base_end != ':') base_end = step(base_end);
  while (base_end > s && base_end[-1] == ' ') base_end--;
  size_t n = static_cast<size_t>(base_end - s);
  if (n < 3 || n > 7) return false;
  char up[8];
  for (size_t i = 0; i < n; i++) {
    uint32_t c = static_cast<uint32_t>(s[i]) & (sizeof(C) == 1 ? 0xFFu : 0xFFFFu);
    if (c >= 0x80) {
      // COM and LPT with a superscript digit one to three count as devices as well.
      if (i != 3 || n != 4 || !(c == 0xB9 || c == 0xB2 || c == 0xB3)) return false;
      if (sizeof(C) == 1 && !single_byte_at(reinterpret_cast<const char*>(s + i))) return false;
      up[i] = '1';
      continue;
    }
    up[i] = ascii_upper(c);
  }
  up[n] = 0;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* d : kDevices)
    if (std::strcmp(up, d) == 0) return true;
  return n == 4 && (std::memcmp(up, "COM", 3) == 0 || std::memcmp(up, "LPT", 3) == 0) && is_digit(up[3]);
}

template <class C>
void system_safe(C* name, NameRules rules) {
  bool windows = rules == NameRules::windows;
  C out[kPathSize];
  size_t n = 0;
  size_t starts[kPathSize];  // where each kept component begins in out
  size_t kept = 0;
  const C* p = name;
  while (is_separator(*p)) p++;
  while (*p) {
    const C* s = p;
    while (*p && !is_separator(*p)) p = step(p);
    const C* e = p;
    C separator = *p;
    if (*p) p++;
    while (is_separator(*p)) p++;
    bool last = *p == 0;
    size_t len = static_cast<size_t>(e - s);
    bool dot = len == 1 && s[0] == '.';
    bool dot_dot = len == 2 && s[0] == '.' && s[1] == '.';
    if (dot && !last) continue;
    if (dot_dot && (!last || kept == 0)) {
      if (!last && kept) n = starts[--kept];
      continue;
    }
    bool device = windows && !dot && !dot_dot && names_device(s, e);
    size_t need = len + (device ? 1 : 0) + (separator ? 1 : 0);
    if (n + need > kPathSize - 1) break;
    starts[kept++] = n;
    if (device) out[n++] = '_';
    size_t keep_len = len;
    if (windows && !dot && !dot_dot) {
      while (keep_len > 0 && (s[keep_len - 1] == '.' || s[keep_len - 1] == ' ')) keep_len--;
      // A trail byte is never a dot or a blank, so the cut stays on a character boundary.
    }
    for (size_t i = 0; i < len; i++) out[n++] = i < keep_len ? s[i] : static_cast<C>('_');
    if (separator) out[n++] = separator;
  }
  out[n] = 0;
  std::memcpy(name, out, (n + 1) * sizeof(C));
}

}  // namespace

void make_system_safe(char* name, NameRules rules) { system_safe(name, rules); }
void make_system_safe(WChar* name, NameRules rules) { system_safe(name, rules); }
void make_system_safe(char* name) { system_safe(name, os::native_name_rules()); }
void make_system_safe(WChar* name) { system_safe(name, os::native_name_rules()); }

bool create_all_folders(const char* path, const WChar* wide, bool last_is_file) {
  bool ok = true;
  char narrow_prefix[kPathSize];
  if (wide && *wide) {
    WChar wide_prefix[kPathSize];
    const char* cursor = path;
    bool narrow_left = path != nullptr;
    size_t i = 0;
    for (; i < kPathSize && wide[i]; i++) {
      if (wide[i] == '\\') {
        copy_units(wide_prefix, wide, i < kPathSize - 1 ? i : kPathSize - 1);
        size_t narrow_length = narrow_left ? static_cast<size_t>(cursor - path) : 0;
        if (narrow_left && narrow_length <= kPathSize - 1) {
          copy_units(narrow_prefix, path, narrow_length);
        } else if (!wide_to_ansi(wide_prefix, narrow_prefix, sizeof(narrow_prefix))) {
          narrow_prefix[0] = 0;
        }
        if (create_folder(narrow_prefix, wide_prefix, 0) != 0) ok = false;
      }
      if (narrow_left) {
        if (*cursor) cursor = step(cursor);
        else narrow_left = false;
      }
    }
    if (!last_is_file && i > 0 && !is_separator(wide[i - 1])) {
      WChar whole[kPathSize];
      copy_units(whole, wide, i < kPathSize - 1 ? i : kPathSize - 1);
      const char* narrow_whole = path;
      if (!path || std::strlen(path) > kPathSize - 1) {
        if (!wide_to_ansi(whole, narrow_prefix, sizeof(narrow_prefix))) narrow_prefix[0] = 0;
        narrow_whole = narrow_prefix;
      }
      if (create_folder(narrow_whole, whole, 0) != 0) ok = false;
    }
    return ok;
  }
  const char* p = path;
  for (; *p && p - path < kPathSize; p = step(p)) {
    if (*p == '\\') {
      copy_units(narrow_prefix, path, static_cast<size_t>(p - path));
      if (create_folder(narrow_prefix, nullptr, 0) != 0) ok = false;
    }
  }
  if (!last_is_file && *path && !is_separator(*last_char(path))) {
    copy_bounded(narrow_prefix, path, sizeof(narrow_prefix));
    if (create_folder(narrow_prefix, nullptr, 0) != 0) ok = false;
  }
  return ok;
}

bool wildcard_match(const char* mask, const char* name, bool case_sensitive) {
  for (;;) {
    char m = *mask, c = *name;
    if (m == 0) return c == 0;
    if (m == '?') {
      if (c == 0) return false;
      mask++;
      name++;
      continue;
    }
    if (m == '*') {
      const char* rest = mask + 1;
      if (rest[0] == 0) return true;
      if (rest[0] == '.' && rest[1] == '*' && rest[2] == 0) return true;
      if (rest[0] == '.' && rest[1] == 0) {
        const char* dot = std::strchr(name, '.');
        return !dot || dot[1] == 0;
      }
      if (rest[0] == '.' && !std::strpbrk(rest + 1, "*?")) {
        const char* dot = std::strchr(name, '.');
        if (dot && !std::strchr(dot + 1, '.')) return names_equal(dot + 1, rest + 1, case_sensitive);
      }
      for (const char* p = name; *p; p++)
        if (wildcard_match(rest, p, case_sensitive)) return true;
      return false;
    }
    if (c != 0 && chars_equal(m, c, case_sensitive)) {
      mask++;
      name++;
      continue;
    }
    if (m == '.' && c == 0) {
      mask++;
      continue;
    }
    return false;
  }
}

bool mask_matches(const char* mask, const char* name, uint32_t mode) {
  uint32_t kind = mode & 0xFFFF;
  bool case_sensitive = (mode & kMaskCaseSensitive) != 0;
  if (kind != 0) {
    if (kind != 2) {
      size_t mask_length = std::strlen(mask);
      if (std::strlen(name) >= mask_length && names_equal_n(name, mask, mask_length, case_sensitive)) {
        char next = name[mask_length];
        if (next == 0 || next == '\\' || next == '/') return true;
      }
    }
    char mask_folder[kPathSize], name_folder[kPathSize];
    folder_part_copy(mask, mask_folder, sizeof(mask_folder));
    folder_part_copy(name, name_folder, sizeof(name_folder));
    if (names_equal(mask, name_folder, case_sensitive)) return true;
    if (kind == 1 || kind == 2) {
      if (!names_equal(mask_folder, name_folder, case_sensitive)) return false;
    } else if (kind == 3 || kind == 4) {
      if (has_wildcards(mask_folder, nullptr)) return wildcard_match(mask, name, case_sensitive);
      if (kind == 3 || has_wildcards(mask, nullptr)) {
        if (mask_folder[0] && !names_equal_n(name_folder, mask_folder, std::strlen(mask_folder), case_sensitive))
          return false;
      } else if (!names_equal(mask_folder, name_folder, case_sensitive)) {
        return false;
      }
    }
  }
  const char* name_tail = name_part(name);
  if (compare_names(name_tail, "__kez_", 6) == 0) return false;
  return wildcard_match(name_part(mask), name_tail, case_sensitive);
}

const char* volume_number_position(const char* name) {
  size_t length = std::strlen(name);
  if (length == 0) return name;
  const char* p = name + length - 1;
  while (p > name && !is_digit(*p)) p--;
  const char* digit = p;
  while (p > name && is_digit(*p)) p--;
  const char* first_dot = find_char_dbcs(name_part(name), '.');
  for (;;) {
    if (p == name || *p == '.') return digit;
    p--;
    if (is_digit(*p)) return (first_dot && p > first_dot) ? p : digit;
  }
}

int compare_names(const char* a, const char* b, int n) {
  if (n < 0) return os::compare_names(a, -1, b, -1);
  // Both texts are limited to n bytes, and neither is read past its terminator.
  size_t la = 0, lb = 0;
  while (la < static_cast<size_t>(n) && a[la]) la++;
  while (lb < static_cast<size_t>(n) && b[lb]) lb++;
  return os::compare_names(a, static_cast<int>(la), b, static_cast<int>(lb));
}
