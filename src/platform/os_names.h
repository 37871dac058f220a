// The operating system's pieces of name handling: locale comparison, uppercasing of
// one ANSI character, full path names, and which file-name rules the system has.
#pragma once

#include "platform/types.h"

enum class NameRules {
  posix,    // only "." and ".." components are special
  windows,  // also device names and trailing dots and blanks
};

namespace os {

// Locale comparison ignoring case (user default locale, string sort) of na bytes of a
// and nb bytes of b (-1: up to the terminator). 0 equal, negative or positive otherwise.
int compare_names(const char* a, int na, const char* b, int nb);
// Uppercase of one character of the ANSI code page (the character itself when it has none).
char upper_ansi_char(char c);
// Full path of path (backslashes) into buffer; false when the system gives none or it
// does not fit.
bool full_path_name(const char* path, char* buffer, int size);
NameRules native_name_rules();

}  // namespace os
