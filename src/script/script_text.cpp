// Reading the script text: lines, comma fields of a value, text blocks.
#include <cstring>

#include "platform/memory.h"
#include "platform/system.h"
#include "platform/text.h"
#include "script/script.h"

const char* read_script_line(const char* position, char* keyword, char* value, int size, bool* chunk_cut,
                             bool* has_value) {
  *chunk_cut = false;
  *has_value = false;
  if (size > 0) keyword[0] = 0;
  if (value && size > 0) value[0] = 0;
  if (!position || !*position || size <= 0) return nullptr;

  const char* p = position;
  int stored = 0;  // characters in keyword
  int taken = 0;   // characters taken from the line, the "=" included
  int value_start = -1;
  for (;;) {
    char c = *p;
    if (c == 0) break;
    if (c == '\r') {
      p++;
      if (*p) p++;  // a carriage return swallows the character after it
      break;
    }
    if (c == '\n') {
      p++;
      break;
    }
    p++;
    if (c == '=' && value && value_start < 0) {
      *has_value = true;
      value_start = stored;
    } else {
      keyword[stored++] = c;
    }
    if (++taken >= size - 1) {
      *chunk_cut = true;
      break;
    }
  }
  keyword[stored] = 0;

  if (value && value_start >= 0) {
    char expanded[kLineSize];
    expand_environment(keyword + value_start, expanded, sizeof(expanded));
    copy_bounded(value, expanded, static_cast<size_t>(size));
    keyword[value_start] = 0;
  }
  return p;
}

const char* next_value_field(const char* position, char* field) {
  field[0] = 0;
  if (!position || !*position) return nullptr;

  const char* start = position;
  const char* p = position;
  int n = 0;
  bool quoted = false;
  auto put = [&](char c) {
    if (n < kLineSize - 1) field[n++] = c;
  };
  while (*p) {
    char c = *p;
    if (c == '"') {
      bool pair = p[1] == '"';
      bool empty_quoted = pair && !quoted && p == start && (p[2] == ',' || p[2] == 0);
      if (pair && !empty_quoted) {
        put('"');
        p += 2;
        continue;
      }
      if (quoted) {
        quoted = false;
      } else if (std::strchr(p + 1, '"')) {
        quoted = true;
      } else {
        put('"');
      }
      p++;
      continue;
    }
    if (c == ',' && !quoted) {
      p++;
      while (*p == ' ' || *p == '\t') p++;
      field[n] = 0;
      return p;
    }
    put(c);
    p++;
  }
  field[n] = 0;
  return p;
}

char* read_text_block(const char* position) {
  constexpr int kBlockSize = kTextBlockLimit + 5;
  char* result = static_cast<char*>(mem_alloc_or_die(kBlockSize));
  result[0] = 0;
  int length = 0;  // after trimming, before the line break of the last line
  char line[kLineSize];
  bool cut = false, has_value = false;
  while ((position = read_script_line(position, line, nullptr, kLineSize, &cut, &has_value)) != nullptr) {
    if (result[0] == 0 && line[0] == '{') continue;
    if (line[0] == '}') break;
    int line_length = static_cast<int>(std::strlen(line));
    if (length + line_length > kTextBlockLimit) break;
    int end = static_cast<int>(std::strlen(result));
    std::memcpy(result + end, line, static_cast<size_t>(line_length) + 1);
    end += line_length;
    while (end > 0 && result[end - 1] == ' ') end--;
    result[end] = 0;
    length = end;
    if (!cut) {
      result[end] = '\r';
      result[end + 1] = '\n';
      result[end + 2] = 0;
    }
  }
  return result;
}

void unescape_question_text(char* text) {
  char* out = text;
  for (const char* p = text; *p;) {
    // A double-byte character whose second byte looks like a backslash stays whole.
    if (is_lead_byte(static_cast<uint8_t>(p[0])) && p[1]) {
      *out++ = *p++;
      *out++ = *p++;
    } else if (p[0] == '\\' && p[1] == '\\') {
      *out++ = '\\';
      p += 2;
    } else if (p[0] == '\\' && p[1] == 'n') {
      *out++ = '\n';
      p += 2;
    } else {
      *out++ = *p++;
    }
  }
  *out = 0;
}

void append_backslash(char* path) {
  size_t n = std::strlen(path);
  if (n > 0) {
    // The last character, stepping over double-byte characters: a trail byte may look
    // like a backslash.
    const char* last = path;
    for (const char* p = path; *p; p = next_char(p)) last = p;
    if (*last == '\\') return;
  }
  if (n + 1 < static_cast<size_t>(kPathSize)) {
    path[n] = '\\';
    path[n + 1] = 0;
  }
}
